# Sourced by the install and package checks.

# Debian's multiarch folder name (x86_64-linux-gnu), where the .pc file goes.
multiarch=$(cc -print-multiarch)

# The manual pages are made by help2man: without it (and not under CI) trees are checked without them.
man_pages="share/man/man1/ledctl.1.gz share/man/man1/signemu.1.gz"
if ! command -v help2man >/dev/null && [ "${CI:-}" != true ]; then
  echo "SKIP: help2man is not installed; no manual pages are expected"
  man_pages=
fi

# The files of a Linux tree, relative to its top (the prefix), one a line.
linux_tree_files() {
  local models=$1 sign
  printf '%s\n' bin/ledctl bin/signemu include/ledsign.h include/ledsign_lib.h lib/$multiarch/pkgconfig/ledsign.pc \
    lib/libledsign.so lib/libledsign.so.1 lib/libledsign.so.1.0.0 \
    lib/cmake/ledsign/ledsignConfig.cmake lib/cmake/ledsign/ledsignConfigVersion.cmake \
    lib/cmake/ledsign/ledsignTargets.cmake lib/python3/dist-packages/ledsign/__init__.py \
    lib/python3/dist-packages/ledsign/plugin.py share/doc/ledsign/csharp/LedSign.cs \
    share/doc/ledsign/csharp/PluginCookbook.cs \
    share/doc/ledsign/host-integration.md share/doc/ledsign/protocol.md share/doc/ledsign/README.md \
    share/doc/ledsign/copyright share/doc/ledsign/changelog.gz share/doc/ledsign/serial-access.md \
    share/doc/ledsign/examples/70-ledsign.rules $man_pages share/bash-completion/completions/ledctl
  while read -r sign _; do echo "lib/ledsign/lib$sign.so"; done <"$models"
}

# The files of a Windows tree for the architecture folders given (x86, x64), one a line.
windows_tree_files() {
  local models=$1 arch dll
  shift
  printf '%s\n' README.txt include/ledsign.h include/ledsign_lib.h docs/host-integration.md docs/protocol.md \
    bindings/csharp/LedSign.cs bindings/csharp/PluginCookbook.cs
  for arch in "$@"; do
    printf '%s\n' "$arch/ledctl.exe" "$arch/ledsign.dll" "$arch/ledsign.dll.a" "$arch/ledsign.def"
    while read -r _ dll; do printf '%s\n' "$arch/$dll" "$arch/${dll%.DLL}.def" "$arch/${dll%.DLL}.dll.a"; done <"$models"
  done
}

# Uses an installed tree as a Linux host developer does. `use_like_a_host TOP MODELS WORK` (TOP holds include/ and lib/; MODELS is the build's
# sign-models.txt; WORK a scratch folder): pkg-config names the plug-in folder TOP/lib/ledsign; a
# C99 host built with `pkg-config --cflags ledsign` loads a plug-in from there and writes to a pty;
# a scratch CMake project finds the package. Calls the caller's `fail MESSAGE` for each fault and
# sets `host_line` to what the host saw on the line.
use_like_a_host() {
  local top=$1 models=$2 work=$3 plugindir first
  local here
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  export PKG_CONFIG_PATH=$top/lib/$multiarch/pkgconfig
  plugindir=$(realpath -m "$(pkg-config --variable=plugindir ledsign)") || fail "pkg-config does not know ledsign"
  [ "$plugindir" = "$top/lib/ledsign" ] || fail "plugindir is $plugindir, not $top/lib/ledsign"

  first=$(awk 'NR == 1 {print $1}' "$models")
  host_line=
  if cc -std=c99 -pedantic -Wall -Werror $(pkg-config --cflags ledsign) -o "$work/host" "$here/host.c" \
       $(pkg-config --libs ledsign); then
    host_line=$("$work/host" "$plugindir/lib$first.so" 2>/dev/null) || fail "the host's Write2Led failed"
    case $host_line in 0501030100*|1B01*) ;; *) fail "the host saw '$host_line' on the line" ;; esac
  else
    fail "the C99 host does not build against the installed header"
  fi

  # A host of the library: two signs of two models, each given its own UTF-8 text.
  local lines
  if cc -std=c99 -pedantic -Wall -Werror $(pkg-config --cflags ledsign) -o "$work/library-host" "$here/library_host.c" \
       $(pkg-config --libs ledsign) -Wl,-rpath,"$top/lib"; then
    lines=$("$work/library-host" 2>&1) || fail "the library host failed: $lines"
    [ "$lines" = "$(printf '1B0104BBB6D3AD0D1B010557656C636F6D650D\n05010301005820024F4B050103020058200120')" ] ||
      fail "the library host saw: $lines"
  else
    fail "the library host does not build with pkg-config --libs ledsign"
  fi
  case "$(pkg-config --libs ledsign)" in *-lledsign*) ;; *) fail "pkg-config --libs ledsign gives $(pkg-config --libs ledsign)" ;; esac

  # Debian's python3 finds the installed package, and the package the installed library.
  [ "$(env -u LEDSIGN_LIBRARY PYTHONPATH="$top/lib/python3/dist-packages" /usr/bin/python3 -c \
       'import ledsign; print(" ".join(model.name for model in ledsign.models()))' 2>&1)" = "$(awk '{print $1}' "$models" | tr '\n' ' ' | sed 's/ $//')" ] ||
    fail "the installed Python package does not list the models"

  # An installed ledctl finds an installed plug-in by its model or its file name, from any directory.
  local name
  for name in "$first" "lib$first.so"; do
    (cd "$work" && "$top/bin/ledctl" "$name" info 2>&1) | grep -q '^GetVer: ' ||
      fail "the installed ledctl does not find '$name' in its plug-in folder"
  done

  mkdir -p "$work/project"
  cat >"$work/project/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(scratch C)
find_package(ledsign 3 REQUIRED)
add_executable(scratch main.c)
target_link_libraries(scratch PRIVATE ledsign::ledsign ledsign::library)
target_compile_definitions(scratch PRIVATE PLUGIN_DIR="${LEDSIGN_PLUGIN_DIR}")
CMAKE
  printf '#include <stdio.h>\n#include "ledsign_lib.h"\nint main(void) { printf("%%s %%d %%s\\n", PLUGIN_DIR, (int)sizeof(PortSettings), ledsign_model_name(0)); return 0; }\n' \
    >"$work/project/main.c"
  if cmake -S "$work/project" -B "$work/project/build" -DCMAKE_PREFIX_PATH="$top" >/dev/null &&
     cmake --build "$work/project/build" >/dev/null; then
    [ "$("$work/project/build/scratch")" = "$top/lib/ledsign 42 brava" ] ||
      fail "find_package gave: $("$work/project/build/scratch")"
  else
    fail "find_package(ledsign) from a scratch project"
  fi
}
