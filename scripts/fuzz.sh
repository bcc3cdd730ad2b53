#!/usr/bin/env bash
# Runs every libFuzzer target for a bounded time (default 60 s each) under ASan+UBSan.
# New inputs go to a scratch folder; the committed seed corpus is only read.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# One target per seed corpus: a binary left in the build tree by a removed target is not run.
for corpus in fuzz/corpus/fuzz_*; do
  name=$(basename "$corpus")
  target=build/fuzz/fuzz/$name
  mkdir -p "$scratch/$name"
  max_len=65537
  [ "$name" = fuzz_initled ] && max_len=42
  echo "== $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -max_len=$max_len -print_final_stats=1 \
       -artifact_prefix="$scratch/$name-" "$scratch/$name" "fuzz/corpus/$name" >"$scratch/$name.log" 2>&1; then
    tail -40 "$scratch/$name.log"
    echo "fuzz: $name found a fault; the input that shows it:"
    ls "$scratch/$name-"* 2>/dev/null && xxd "$scratch/$name-"* | head -20
    exit 1
  fi
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^Done ' "$scratch/$name.log"
done
