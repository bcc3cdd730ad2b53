#!/usr/bin/env bash
# Measures the ledsign library with many signs written at once and puts the table into
# bench/RESULTS.md as its own section, keeping the rest. scripts/bench.sh runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux >/dev/null
table=$(mktemp)
trap 'rm -f "$table"' EXIT
build/linux/bench/library_bench >"$table"
heading="## The library: many signs at once"
{
  echo "Made by \`scripts/bench-library.sh\` on $(date -u +%Y-%m-%d): $(nproc) cores. 1, 8 and 32 elvane signs on"
  echo "ptys, each written \"A#B\" (two frames, 1 ms after each) from a thread of its own, all at the same time."
  echo "\"above pauses\" is each call's time beyond its 2 ms of pauses; the goal is within 1.2x of one sign alone"
  echo "(no lock shared between signs). Once the threads' work exceeds the cores (32 threads, each busy about"
  echo "0.25 ms of every 2.25 ms, on $(nproc) cores) the wall time is the scheduler's queue, not the library's:"
  echo "the processor time each call takes on its own thread shows what a call costs, and a lock shared"
  echo "between signs would show in both."
  echo
  cat "$table"
} | scripts/results-section.sh "$heading"
echo "wrote the library section of bench/RESULTS.md"
