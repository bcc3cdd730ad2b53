#!/usr/bin/env bash
# Runs the Windows receive-side test program under Wine in a private prefix of its width (win32
# or win64), with COM7 a pty served by the device helper. Skips (77) without wine or the program,
# fails then if CI=true; skips, CI or not, where the kernel runs no 32-bit programs.
set -u
device=${1:?usage: run_under_wine.sh DEVICE_HELPER PROGRAM PREFIX [win32|win64]}
program=${2:?}
prefix=${3:?}
arch=${4:-win32}

skip() {
  echo "SKIP: $1"
  [ "${CI:-}" = true ] && [ -z "${wine_machine_limit:-}" ] && exit 1
  exit 77
}
. "$(dirname "$0")/../wine/wine-loader.sh"
wine_loader "$arch" || skip "$wine_unavailable"
[ -f "$program" ] || skip "no Windows test program (MinGW-w64 g++ for $arch is missing)"

export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's server and helpers outlive their command: none of them may hold a pipe that ctest reads.
if [ ! -f "$prefix/.ready" ]; then
  { wineserver -k; wineserver -w; } </dev/null >/dev/null 2>&1
  rm -rf "$prefix"
  mkdir -p "$prefix"
  "$wine" wineboot.exe -i </dev/null >/dev/null 2>&1
  [ -f "$prefix/drive_c/windows/system32/kernel32.dll" ] || { echo "FAIL: wineboot made no prefix in $prefix"; exit 1; }
  # No display here: windows are made by the null graphics driver.
  "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
  # The desktop process chose its driver at boot: shut down so the next start uses the setting.
  "$wine" wineboot.exe -s </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
  touch "$prefix/.ready"
fi
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k </dev/null >/dev/null 2>&1' EXIT

log=$prefix/serialwin.log
"$device" "$prefix/dosdevices/com7" "$log" "$wine" "$program"
status=$?
if [ $status -eq 0 ]; then
  grep -aE '^(ok|[0-9]+ failed)' "$log"
else
  echo "exit status $status; the program's whole output:"
  cat "$log"
fi
exit $status
