#!/usr/bin/env bash
# Measures the plug-ins and writes bench/RESULTS.md: Write2Led time above the mandated pauses on
# a pty, system calls per Write2Led, heap allocations per export call, library sizes and imports;
# then scripts/bench-library.sh adds the library with many signs at once, and scripts/bench-guest.sh
# Write2Led on the kernel's serial drivers in a QEMU guest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh >/dev/null
command -v strace >/dev/null || { apt-get install -y -qq strace >/dev/null; }
bin=build/linux
out=bench/RESULTS.md
texts=("A" "OK#中文" "$(printf 'A%.0s' $(seq 100))#$(printf 'B%.0s' $(seq 99))")
text_names=(short two_rows 200_bytes)

csv=$(mktemp)
trap 'rm -f "$csv" /tmp/ledsign-strace.$$' EXIT
$bin/bench/write_bench --benchmark_format=csv 2>/dev/null >"$csv"

{
  echo "# Plug-in measurements"
  echo
  echo "Made by \`scripts/bench.sh\` on $(date -u +%Y-%m-%d): $(nproc) cores,"
  echo "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), Linux $(uname -r),"
  echo "$(g++ --version | head -1). Native plug-ins over a pseudo-terminal; figures vary with machine load."
  echo
  echo "## Write2Led time above the mandated pauses (goal: under 0.5 ms per call)"
  echo
  echo "Header-framed signs pause 200 ms per call (two-row: 100 ms after each row; one-row: 200 ms),"
  echo "ESC-line signs 1 ms per frame. The time above them is the writes, the drains and the oversleep"
  echo "of the pauses."
  echo
  echo "| plug-in | text | mean above pauses (ms) | worst (ms) | iterations |"
  echo "|---|---|---|---|---|"
  awk -F, '/^"Write2LedAbovePauses/ {
      split($1, name, "/"); gsub(/"/, "", name[3]);
      printf "| %s | %s | %.3f | %.3f | %s |\n", name[2], name[3], $3 / 1000, $NF, $2 }' "$csv"
  echo
  echo "## System calls per Write2Led (goal: the protocol's writes and their drains, nothing more)"
  echo
  echo "Each write's deadline costs no system call on a healthy line: the clock is read without one, and"
  echo "the wait for room only happens when a write would block. A pty has no transmitter, so no drain is"
  echo "made there. On a UART each drain is an ioctl(TIOCOUTQ) and tcdrain; on a USB adapter tcdrain runs on"
  echo "the drain thread, handed over and waited for with a futex call on each side (the guest's figures"
  echo "below)."
  echo
  echo "| plug-in | text | write | ioctl(TCSBRK) = tcdrain | clock_nanosleep | other |"
  echo "|---|---|---|---|---|---|"
  while read -r sign _; do
    for i in 0 1 2; do
      text=${texts[$i]}
      gbk=$(printf '%s' "$text" | iconv -f UTF-8 -t GBK)
      strace -f -o /tmp/ledsign-strace.$$ $bin/bench/syscall_probe $bin/lib$sign.so "$gbk" 2>/dev/null || true
      awk -v sign=$sign -v text=${text_names[$i]} '
        /getppid/ { on = !on; next }
        on { sub(/^[0-9]+ +/, ""); call = $0; sub(/\(.*/, "", call);
             if (call == "write") w++; else if ($0 ~ /TCSBRK/) d++; else if (call == "clock_nanosleep") s++; else o++ }
        END { printf "| %s | %s | %d | %d | %d | %d |\n", sign, text, w, d, s, o }' /tmp/ledsign-strace.$$
    done
  done <"$bin/sign-models.txt"
  echo
  echo "## Heap allocations per export call (goal: 0)"
  echo
  echo "| plug-in | calls | allocations per call |"
  echo "|---|---|---|"
  awk -F, '/^"AllocationsPerExportCall/ { split($1, name, "/"); printf "| %s | InitLed, OpenLed, ClearLed, SetShowMode, GetLEDAtt, GetVer, IsLedOpened, CloseLed | %s |\n", name[2], $(NF-2) }
           /^"Write2LedAbovePauses/ { split($1, name, "/"); gsub(/"/, "", name[3]); printf "| %s | Write2Led (%s) | %s |\n", name[2], name[3], $(NF-2) }' "$csv"
  echo
  echo "## Library sizes, stripped (goal: under 32 KiB per 32-bit DLL, under 40 KiB per 64-bit DLL), and imports"
  echo
  echo "| library | bytes | imports |"
  echo "|---|---|---|"
  for arch in "x86 windows i686" "x64 windows64 x86_64"; do
    read -r folder dir cpu <<<"$arch"
    for dll in build/$dir/*.DLL; do
      stripped=$(mktemp); $cpu-w64-mingw32-strip -o "$stripped" "$dll"
      imports=$($cpu-w64-mingw32-objdump -p "$dll" | awk '/DLL Name:/{print $3}' | sort -u | tr '\n' ' ')
      echo "| $folder/$(basename "$dll") | $(stat -c %s "$stripped") | $imports |"; rm -f "$stripped"
    done
  done
  for so in $bin/lib*.so; do
    stripped=$(mktemp); strip -o "$stripped" "$so"
    imports=$(objdump -p "$so" | awk '/NEEDED/{print $2}' | tr '\n' ' ')
    echo "| $(basename "$so") | $(stat -c %s "$stripped") | $imports |"; rm -f "$stripped"
  done
  echo
  echo "## Release packages (goal: scripts/package.sh under 2 minutes)"
  echo
  packages=$(mktemp -d)
  elapsed() { awk -v start="$1" -v end="$(date +%s.%N)" 'BEGIN { printf "%.1f", end - start }'; }
  start=$(date +%s.%N)
  scripts/package.sh "$packages" >/dev/null
  warm=$(elapsed "$start")
  # From a clean tree: the tracked files copied to a scratch folder, nothing built.
  fresh=$(mktemp -d)
  git ls-files -z | tar -cf - --null -T - | tar -C "$fresh" -xf -
  start=$(date +%s.%N)
  "$fresh/scripts/package.sh" "$fresh/packages" >/dev/null
  cold=$(elapsed "$start")
  rm -rf "$fresh"
  echo "\`scripts/package.sh\`: $cold s from a clean tree (configuring and building what the packages"
  echo "hold in three presets), $warm s with the builds up to date."
  echo
  echo "| package | bytes | files |"
  echo "|---|---|---|"
  for package in "$packages"/*.deb; do
    echo "| $(basename "$package") | $(stat -c %s "$package") | $(dpkg-deb -c "$package" | grep -vc '/$') |"
  done
  for package in "$packages"/*.zip; do
    echo "| $(basename "$package") | $(stat -c %s "$package") | $(cmake -E tar tf "$package" | grep -vc '/$') |"
  done
  rm -rf "$packages"
} >"$out"
echo "wrote $out"
scripts/bench-library.sh
scripts/bench-network.sh
scripts/bench-guest.sh
