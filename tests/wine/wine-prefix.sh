#!/usr/bin/env bash
# Sets up or takes down the private Wine prefix that the end-to-end tests run the Windows DLLs in:
#   wine-prefix.sh setup PREFIX [win32|win64]     a fresh prefix and a persistent wineserver for it
#   wine-prefix.sh cleanup PREFIX [win32|win64]   stops that server and removes the prefix
# A win64 prefix runs the 64-bit DLLs (and 32-bit programs too). Wine maps COM1 to the machine's
# first serial port, its console here: a test that may touch COM1 maps it to a pty first.
# Without Wine it exits 77 (skipped), unless CI=true, where a missing Wine is a failure.
set -u
action=${1:?usage: wine-prefix.sh setup|cleanup PREFIX [win32|win64]}
prefix=${2:?usage: wine-prefix.sh setup|cleanup PREFIX [win32|win64]}
arch=${3:-win32}
export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all
# No Mono or Gecko installers: the DLLs need neither, and there is nothing to fetch them from.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

missing=
command -v wine >/dev/null && command -v wineserver >/dev/null && command -v wineboot >/dev/null || missing="wine and wine32"
[ "$arch" = win64 ] && [ ! -x /usr/lib/wine/wine64 ] && ! command -v wine64 >/dev/null && missing="${missing:-wine64}"
if [ -n "$missing" ]; then
  if [ "${CI:-}" = true ]; then
    echo "FAIL: $missing not installed, so the Windows DLLs cannot be run (scripts/install-deps.sh installs it)"
    exit 1
  fi
  echo "SKIPPED: $missing not installed; the $arch DLLs are not run under Wine"
  exit 77
fi

# The server and the helpers that wineboot starts outlive this script: none of them may hold
# the output pipe that ctest reads, so all their output goes to a log file beside the prefix.
log=$prefix.log
case $action in
  setup)
    [ -d "$prefix" ] && { wineserver -k; wineserver -w; } </dev/null >/dev/null 2>&1
    rm -rf "$prefix"
    mkdir -p "$prefix"
    : >"$log"
    wineserver -p </dev/null >>"$log" 2>&1 || { echo "FAIL: wineserver did not start"; cat "$log"; exit 1; }
    start=$(date +%s)
    # A 64-bit prefix is made by Wine's 64-bit loader itself: the wine command starts the 32-bit
    # one first, which a kernel without 32-bit support cannot run.
    boot=(wineboot -i)
    [ "$arch" = win64 ] && [ -x /usr/lib/wine/wine64 ] && boot=(/usr/lib/wine/wine64 wineboot -i)
    if ! "${boot[@]}" </dev/null >>"$log" 2>&1; then
      echo "FAIL: wineboot -i failed"; cat "$log"; exit 1
    fi
    [ -f "$prefix/drive_c/windows/system32/kernel32.dll" ] || { echo "FAIL: wineboot made no prefix"; cat "$log"; exit 1; }
    echo "Wine prefix $prefix ready in $(($(date +%s) - start)) s ($(wine --version))"
    ;;
  cleanup)
    [ -d "$prefix" ] && { wineserver -k; wineserver -w; } </dev/null >/dev/null 2>&1
    rm -rf "$prefix"
    echo "Wine prefix $prefix removed"
    ;;
  *)
    echo "unknown action $action"; exit 2 ;;
esac
exit 0
