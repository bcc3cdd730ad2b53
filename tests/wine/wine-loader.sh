# Sourced by the scripts that run Windows programs under Wine. wine_loader ARCH (win32 or win64)
# sets $wine to the loader that runs that architecture here, or leaves it empty with the reason in
# $wine_unavailable and $wine_machine_limit=1 when no package can help: a kernel that runs no
# 32-bit programs (seen on some virtual machines: "Exec format error") cannot run the 32-bit DLLs,
# and Debian's `wine` script always starts its 32-bit loader once wine32 is installed, so 64-bit
# programs are started through the 64-bit loader itself.
wine_loader() {
  wine= wine_unavailable= wine_machine_limit=
  if ! command -v wine >/dev/null || ! command -v wineserver >/dev/null; then
    wine_unavailable="wine and wine32 are not installed"
  elif [ "$1" = win64 ]; then
    if [ -x /usr/lib/wine/wine64 ]; then
      wine=/usr/lib/wine/wine64
      export WINELOADER=$wine
    else
      wine_unavailable="wine64 is not installed"
    fi
  elif [ -x /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    wine_unavailable="this machine's kernel runs no 32-bit programs, so the 32-bit DLLs cannot run under Wine here"
    wine_machine_limit=1
  else
    wine=$(command -v wine)
  fi
  [ -n "$wine" ]
}
