#!/usr/bin/env bash
# The install tree as its users use it: `cmake --install` into a scratch root, every file in its
# place; a C99 host built with `pkg-config --cflags ledsign` against the installed header loads an
# installed plug-in and writes to a pty; a scratch CMake project finds the package.
set -u
build=${1:?usage: check_install.sh BUILD_DIR [WINDOWS_BUILD_DIR]}
windows_build=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }

root=$work/root
cmake --install "$build" --prefix "$root" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }
. "$here/tree_checks.sh"
expected=$(linux_tree_files "$build/sign-models.txt")
for file in $expected; do [ -e "$root/$file" ] || fail "$file is not installed"; done
use_like_a_host "$root" "$build/sign-models.txt" "$work"
# The Python package installs from the tree into a venv with nothing downloaded, and finds the
# library that LEDSIGN_LIBRARY names.
if /usr/bin/python3 -m venv --system-site-packages "$work/venv" >/dev/null 2>&1; then
  # From a copy: a build writes its build/ and egg-info folders beside the sources.
  cp -r "$here/../../python" "$work/python-source"
  "$work/venv/bin/pip" install -q --no-build-isolation --no-index "$work/python-source" >"$work/pip.log" 2>&1 ||
    fail "pip install of the Python package: $(tail -3 "$work/pip.log")"
  (cd "$work" && LEDSIGN_LIBRARY=$root/lib/libledsign.so.1 "$work/venv/bin/python" -c \
     'import ledsign; assert ledsign.__file__.startswith("'"$work/venv"'"); assert len(ledsign.models()) > 0') ||
    fail "the Python package installed in a venv does not work"
else
  [ "${CI:-}" = true ] && fail "python3 -m venv does not work (python3-venv)"
  echo "SKIP: python3 -m venv does not work; the Python package's pip install is not tried"
fi
# The Windows install tree: each DLL with its .def and import library, and ledctl.exe, in x86/.
if [ -n "$windows_build" ] && [ -f "$windows_build/sign-models.txt" ]; then
  winroot=$work/windows
  cmake --install "$windows_build" --prefix "$winroot" >/dev/null || fail "cmake --install of the Windows build"
  for file in $(windows_tree_files "$windows_build/sign-models.txt" x86); do
    [ -e "$winroot/$file" ] || fail "Windows: $file is not installed"
  done
fi

[ $failures -eq 0 ] && echo "ok: installed $(echo "$expected" | wc -l) files; the C99 host wrote $host_line; find_package found $root/lib/ledsign"
exit $((failures > 0))
