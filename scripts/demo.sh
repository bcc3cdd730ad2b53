#!/usr/bin/env bash
# Builds every plug-in for Linux and Windows, starts a virtual sign on a pseudo-terminal,
# sends a two-row text through the brava plug-in and shows what arrived on the line.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
bin=build/linux
echo "Built: $(cd $bin && ls lib*.so | tr '\n' ' ')$(cd build/windows && ls *.DLL | tr '\n' ' ')"

out=$(mktemp)
$bin/tools/signemu --model brava --idle-exit 500 >"$out" &
emu=$!
for _ in $(seq 50); do grep -q '^port:' "$out" && break; sleep 0.05; done
port=$(sed -n 's/^port: //p' "$out")
echo "== ledctl: brava writes '欢迎光临#Welcome' to $port"
$bin/tools/ledctl $bin/libbrava.so write '欢迎光临#Welcome' --port "$port"
wait $emu
echo "== What arrived on the line"
cat "$out"
rm -f "$out"
