#!/usr/bin/env bash
# The host-facing headers (the plug-ins' ledsign.h and the library's ledsign_lib.h, which includes it)
# compile, with their layout checks, at every language level a host may use: C89 and C99 with
# -pedantic, C11, C++98 and C++17; and a layout that is wrong fails to compile.
set -u
root=${1:?usage: check_header.sh SOURCE_DIR}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '#include "include/ledsign_lib.h"\nint main(void) { return sizeof(PortSettings) == 42 && ledsign_model_count() > 0 ? 0 : 1; }\n' >"$work/host.c"
cp "$work/host.c" "$work/host.cpp"
failures=0
for level in c89 c99 c11; do
  gcc -std=$level -pedantic -Wall -Wextra -Werror -I"$root" -c "$work/host.c" -o "$work/host.o" ||
    { echo "FAIL: the header does not compile as $level"; failures=$((failures + 1)); }
done
for level in c++98 c++17; do
  g++ -std=$level -pedantic -Wall -Wextra -Werror -I"$root" -c "$work/host.cpp" -o "$work/host.o" ||
    { echo "FAIL: the header does not compile as $level"; failures=$((failures + 1)); }
done
# A layout check that fails must stop the compile at the oldest level too.
printf '#include "include/ledsign.h"\nLEDSIGN_STATIC_ASSERT(sizeof(PortSettings) == 41, "wrong");\n' >"$work/wrong.c"
for level in c89 c11; do
  if gcc -std=$level -I"$root" -c "$work/wrong.c" -o "$work/wrong.o" 2>/dev/null; then
    echo "FAIL: a failing layout check compiles as $level"; failures=$((failures + 1))
  fi
done
[ $failures -eq 0 ] && echo "ok: C89, C99, C11 (-pedantic), C++98, C++17"
exit $((failures > 0))
