#!/usr/bin/env bash
# Runs the Windows receive-side test program under Wine in a private prefix, with COM7 a pty
# served by the device helper. Skips (77) without wine or the program, fails then if CI=true.
set -u
device=${1:?usage: run_under_wine.sh DEVICE_HELPER PROGRAM PREFIX}
program=${2:?}
prefix=${3:?}

skip() {
  echo "SKIP: $1"
  [ "${CI:-}" = true ] && exit 1
  exit 77
}
command -v wine >/dev/null && command -v wineserver >/dev/null || skip "wine is not installed"
[ -f "$program" ] || skip "no Windows test program (i686 MinGW-w64 g++ is missing)"
[ -x /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1 &&
  skip "this machine cannot run 32-bit programs (Wine's 32-bit loader does not start)"

export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's server and helpers outlive their command: none of them may hold a pipe that ctest reads.
if [ ! -f "$prefix/.ready" ]; then
  { wineserver -k; wineserver -w; } </dev/null >/dev/null 2>&1
  rm -rf "$prefix"
  mkdir -p "$prefix"
  wineboot -i </dev/null >/dev/null 2>&1
  [ -f "$prefix/drive_c/windows/system32/kernel32.dll" ] || { echo "FAIL: wineboot made no prefix in $prefix"; exit 1; }
  # No display here: windows are made by the null graphics driver.
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
  # The desktop process chose its driver at boot: shut down so the next start uses the setting.
  wineboot -s </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
  touch "$prefix/.ready"
fi
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k </dev/null >/dev/null 2>&1' EXIT

log=$prefix/serialwin.log
"$device" "$prefix/dosdevices/com7" "$log" wine "$program"
status=$?
if [ $status -eq 0 ]; then
  grep -aE '^(ok|[0-9]+ failed)' "$log"
else
  echo "exit status $status; the program's whole output:"
  cat "$log"
fi
exit $status
