#!/usr/bin/env bash
# Measures the library's network ports against ser2net beside a pty and pyserial, and puts the
# table into bench/RESULTS.md as its own section, keeping the rest. scripts/bench.sh runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux >/dev/null
table=$(mktemp)
trap 'rm -f "$table"' EXIT
LEDSIGN_LIBRARY=build/linux/libledsign.so.1 PYTHONPATH=python /usr/bin/python3 bench/network_bench.py >"$table"
heading="## Signs behind a network serial server"
{
  echo "Made by \`scripts/bench-network.sh\` on $(date -u +%Y-%m-%d): elvane's \"AB#D\" (eleven bytes in ten writes,"
  echo "1 ms after each of its two frames) at 9600 baud, $(sed -n 's/.*CALLS = \([0-9]*\).*/\1/p' bench/network_bench.py) calls"
  echo "each, through Debian's ser2net $(ser2net -v 2>&1 | awk '{print $NF}') on loopback serving a pty. The library's network"
  echo "ports are paced at the line rate (12 bits a byte, as the deadlines count): eleven bytes take 13.75 ms, as"
  echo "they would on a 9600-baud line, where a pty or pyserial's socket:// returns as soon as the bytes are in"
  echo "a buffer. Over rfc2217:// each write is answered by the server before and after its bytes (two round"
  echo "trips: about 0.1 ms on loopback), which the pacing hides here; on a network each costs its round trip."
  echo
  cat "$table"
} | scripts/results-section.sh "$heading"
echo "wrote the network section of bench/RESULTS.md"
