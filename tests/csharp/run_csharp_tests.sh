#!/usr/bin/env bash
# Compiles the C# binding or the plug-in cookbook with its test program (Mono's mcs) and runs it with
# mono against the built libraries. Without mcs or mono it exits 77 (skipped), unless CI=true, where
# that is a failure.
#   run_csharp_tests.sh LIBRARY_DIR SOURCE_DIR binding|cookbook [PLUGIN]
# LIBRARY_DIR holds libledsign.so; PLUGIN is the elvane plug-in (LIBRARY_DIR/libelvane.so).
set -u
build=${1:?usage: run_csharp_tests.sh LIBRARY_DIR SOURCE_DIR binding|cookbook [PLUGIN]}
source=${2:?source dir}
which=${3:?binding or cookbook}
plugin=${4:-$build/libelvane.so}

for tool in mcs mono; do
  if ! command -v $tool >/dev/null; then
    echo "$tool is missing (Debian: mono-mcs, mono-runtime, libmono-i18n-cjk4.0-cil; scripts/install-deps.sh)"
    [ "${CI:-}" = true ] && exit 1
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
case $which in
  binding)
    # The binding compiles on its own without a warning, at the language level it promises (C# 6).
    mcs -langversion:6 -warnaserror -target:library -out:"$work/LedSign.dll" "$source/bindings/csharp/LedSign.cs" || exit 1
    mcs -out:"$work/LedSignTest.exe" "$source/bindings/csharp/LedSign.cs" \
        "$source/tests/csharp/Pty.cs" "$source/tests/csharp/LedSignTest.cs" || exit 1
    # DllImport("ledsign") makes Mono look for libledsign.so: the build tree's link to libledsign.so.1.
    LD_LIBRARY_PATH=$build${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} mono --debug "$work/LedSignTest.exe"
    ;;
  cookbook)
    mcs -langversion:6 -warnaserror -target:library -out:"$work/PluginCookbook.dll" \
        "$source/bindings/csharp/PluginCookbook.cs" || exit 1
    mcs -out:"$work/PluginCookbookTest.exe" "$source/bindings/csharp/PluginCookbook.cs" \
        "$source/tests/csharp/Pty.cs" "$source/tests/csharp/PluginCookbookTest.cs" || exit 1
    # The plug-in is loaded by its full path, as a display host loads one.
    mono --debug "$work/PluginCookbookTest.exe" "$plugin"
    ;;
  *)
    echo "unknown: $which"
    exit 2
    ;;
esac
