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
export PKG_CONFIG_PATH=$root/lib/pkgconfig
plugindir=$(realpath -m "$(pkg-config --variable=plugindir ledsign)") || fail "pkg-config does not know ledsign"
expected=(bin/ledctl bin/signemu include/ledsign.h lib/pkgconfig/ledsign.pc lib/cmake/ledsign/ledsignConfig.cmake
          lib/cmake/ledsign/ledsignConfigVersion.cmake share/doc/ledsign/host-integration.md
          share/doc/ledsign/protocol.md share/doc/ledsign/README.md)
while read -r sign _; do expected+=("lib/ledsign/lib$sign.so"); done <"$build/sign-models.txt"
for file in "${expected[@]}"; do [ -e "$root/$file" ] || fail "$file is not installed"; done
[ "$plugindir" = "$root/lib/ledsign" ] || fail "plugindir is $plugindir"

# A C99 host against the installed header.
first=$(awk 'NR == 1 {print $1}' "$build/sign-models.txt")
cc -std=c99 -pedantic -Wall -Werror $(pkg-config --cflags ledsign) -o "$work/host" "$here/host.c" \
  $(pkg-config --libs ledsign) || fail "the C99 host does not build against the installed header"
line=$("$work/host" "$plugindir/lib$first.so" 2>/dev/null) || fail "the host's Write2Led failed"
case $line in 0501030100*|1B01*) ;; *) fail "the host saw '$line' on the line" ;; esac

# find_package(ledsign) from a scratch project.
mkdir -p "$work/project"
cat >"$work/project/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(scratch C)
find_package(ledsign 3 REQUIRED)
add_executable(scratch main.c)
target_link_libraries(scratch PRIVATE ledsign::ledsign)
target_compile_definitions(scratch PRIVATE PLUGIN_DIR="${LEDSIGN_PLUGIN_DIR}")
CMAKE
printf '#include <stdio.h>\n#include "ledsign.h"\nint main(void) { printf("%%s %%d\\n", PLUGIN_DIR, (int)sizeof(PortSettings)); return 0; }\n' \
  >"$work/project/main.c"
if cmake -S "$work/project" -B "$work/project/build" -DCMAKE_PREFIX_PATH="$root" >/dev/null &&
   cmake --build "$work/project/build" >/dev/null; then
  [ "$("$work/project/build/scratch")" = "$root/lib/ledsign 42" ] || fail "find_package gave: $("$work/project/build/scratch")"
else
  fail "find_package(ledsign) from a scratch project"
fi
# The Windows install tree: each DLL with its .def and import library, and ledctl.exe, in x86/.
if [ -n "$windows_build" ] && [ -f "$windows_build/sign-models.txt" ]; then
  winroot=$work/windows
  cmake --install "$windows_build" --prefix "$winroot" >/dev/null || fail "cmake --install of the Windows build"
  expected_windows=(x86/ledctl.exe include/ledsign.h docs/host-integration.md docs/protocol.md docs/README.md)
  while read -r _ dll; do
    expected_windows+=("x86/$dll" "x86/${dll%.DLL}.def" "x86/${dll%.DLL}.dll.a")
  done <"$windows_build/sign-models.txt"
  for file in "${expected_windows[@]}"; do [ -e "$winroot/$file" ] || fail "Windows: $file is not installed"; done
fi

[ $failures -eq 0 ] && echo "ok: installed ${#expected[@]} files; the C99 host wrote $line; find_package found $root/lib/ledsign"
exit $((failures > 0))
