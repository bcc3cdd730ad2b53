#!/usr/bin/env bash
# The release packages as their users use them. scripts/package.sh makes them from the builds;
# then the .deb: its control fields, every file in it, unpacked into a scratch root and used as a
# host developer does (pkg-config, a C99 host on a pty, find_package), its ledctl run; and the
# Windows zip: every file in it, each folder's DLLs of their architecture, and each folder's
# ledctl.exe run under Wine against its own DLL and a virtual sign on a pty.
# usage: check_packages.sh LINUX_BUILD_DIR WINE64_PREFIX
set -u
build=$(realpath "${1:?usage: check_packages.sh LINUX_BUILD_DIR WINE64_PREFIX}")
prefix=${2:?usage: check_packages.sh LINUX_BUILD_DIR WINE64_PREFIX}
here=$(cd "$(dirname "$0")" && pwd)
models=$build/sign-models.txt
work=$(mktemp -d)
signemu_pid=
trap '[ -n "$signemu_pid" ] && kill $signemu_pid 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }
. "$here/tree_checks.sh"

"$here/../../scripts/package.sh" --no-build "$work/packages" >/dev/null || { echo "FAIL: scripts/package.sh"; exit 1; }
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb=$work/packages/ledsign_${version}_amd64.deb
zip=$work/packages/ledsign-${version}-windows.zip
[ -f "$deb" ] || { echo "FAIL: no $deb"; exit 1; }
[ -f "$zip" ] || { echo "FAIL: no $zip"; exit 1; }

# The .deb.
[ "$(dpkg-deb -f "$deb" Package Version Architecture | tr '\n' ' ')" = "Package: ledsign Version: $version Architecture: amd64 " ] ||
  fail "the .deb's control fields: $(dpkg-deb -f "$deb" Package Version Architecture | tr '\n' ' ')"
for dependency in libpng16-16 libfreetype6; do
  dpkg-deb -f "$deb" Depends | grep -qw "$dependency" || fail "the .deb does not depend on $dependency"
done
# The fonts are for signemu's picture alone: a station that needs only ledctl installs without them.
dpkg-deb -f "$deb" Depends | grep -qw unifont && fail "the .deb makes every station install unifont"
for font in unifont xfonts-wqy; do
  dpkg-deb -f "$deb" Recommends | grep -qw $font || fail "the .deb does not recommend $font"
done
# The private plug-ins need no ldconfig: no maintainer scripts (a library in the linker's folders
# activates dpkg's ldconfig trigger instead, which lintian checks).
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E 'postinst|postrm' && fail "the .deb has maintainer scripts"
# lintian, as a Debian user checks a package: no error, no warning, pedantic tags included.
if ! command -v lintian >/dev/null; then
  [ "${CI:-}" = true ] && fail "lintian is not installed, so the .deb is not checked"
  echo "SKIP: lintian is not installed; the .deb is not checked with it"
else
  lintian_tags=$(lintian -E --pedantic --tag-display-limit 0 "$deb" 2>&1 | grep -E '^[EWIPX]: ')
  [ -z "$man_pages" ] && lintian_tags=$(grep -v ' no-manual-page ' <<<"$lintian_tags")
  [ -z "$lintian_tags" ] || fail "lintian: $lintian_tags"
fi
listing=$(dpkg-deb -c "$deb" | awk '{print $6}')  # the path, also of a link ("PATH -> TARGET")
for file in $(linux_tree_files "$models"); do
  grep -qx "./usr/$file" <<<"$listing" || fail ".deb: no /usr/$file"
done
root=$work/deb
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x"
[ "$(zcat "$root/usr/share/doc/ledsign/changelog.gz" | sed -n '1s/^ledsign (\([^)]*\)).*/\1/p')" = "$version" ] ||
  fail "the changelog's latest entry is not version $version"
use_like_a_host "$root/usr" "$models" "$work"
first=$(awk 'NR == 1 {print $1}' "$models")
"$root/usr/bin/ledctl" "$root/usr/lib/ledsign/lib$first.so" info 2>/dev/null | grep -q '^GetVer: ' ||
  fail "the packaged ledctl cannot show the packaged plug-in's info"

# The zip.
mkdir -p "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$zip") || fail "the zip does not unpack"
for file in $(windows_tree_files "$models" x86 x64); do
  [ -f "$work/zip/$file" ] || fail "zip: no $file"
done
# README.txt is the installers' guide; the build-and-test README is not for them.
[ -e "$work/zip/docs/README.md" ] && fail "zip: docs/README.md is the build-and-test README"
while read -r _ dll; do
  i686-w64-mingw32-objdump -f "$work/zip/x86/$dll" | grep -q 'file format pei-i386' || fail "zip: x86/$dll is not 32-bit"
  x86_64-w64-mingw32-objdump -f "$work/zip/x64/$dll" | grep -q 'file format pei-x86-64' || fail "zip: x64/$dll is not 64-bit"
done <"$models"

# Each folder's ledctl.exe drives its own DLL on COM14 (x86) or COM15 (x64) of the 64-bit prefix,
# a link to the pty of a virtual sign that reports the rows it decodes.
. "$(dirname "$0")/../wine/wine-loader.sh"
if ! command -v wine >/dev/null; then
  [ "${CI:-}" = true ] && fail "wine is not installed, so the zip's ledctl.exe cannot be run"
  echo "SKIP: wine is not installed; the zip's ledctl.exe is not run"
elif [ ! -f "$prefix/drive_c/windows/system32/kernel32.dll" ]; then
  fail "no 64-bit Wine prefix at $prefix (ctest's wine64_prefix_setup makes it)"
else
  # The 64-bit programs run on Wine's 64-bit loader; the 32-bit ones on `wine`, where this machine
  # can run 32-bit programs at all.
  archs=x64
  loader_x64=wine
  [ -x /usr/lib/wine/wine64 ] && loader_x64=/usr/lib/wine/wine64
  loader_x86=wine
  if ! wine_loader win32 && [ -n "$wine_machine_limit" ]; then
    # No package changes a kernel that runs no 32-bit programs: a skip, under CI too.
    echo "SKIP: $wine_unavailable; x86/ledctl.exe is not run"
  else
    archs="x86 x64"
  fi
  read -r sign dll <"$models"
  port=14
  for arch in $archs; do
    loader=loader_$arch
    link=$prefix/dosdevices/com$port
    rm -f "$link"
    "$build/tools/signemu" --model "$sign" --link "$link" --json --no-picture --idle-exit 700 >"$work/sign-$arch.json" 2>/dev/null &
    signemu_pid=$!
    for _ in $(seq 50); do [ -L "$link" ] && break; sleep 0.1; done
    WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
      ${!loader} "$work/zip/$arch/ledctl.exe" "$work/zip/$arch/$dll" write "AB" --port COM$port >"$work/ledctl-$arch.txt" 2>&1 ||
      fail "$arch/ledctl.exe: $(tr '\n' ' ' <"$work/ledctl-$arch.txt")"
    wait $signemu_pid
    signemu_pid=
    grep -q '"event":"row".*"text":"AB"' "$work/sign-$arch.json" ||
      fail "$arch: the virtual sign did not show AB: $(tr '\n' ' ' <"$work/sign-$arch.json")"
    grep -q '"event":"line"' "$work/sign-$arch.json" && fail "$arch: the line's settings were wrong: $(cat "$work/sign-$arch.json")"
    port=$((port + 1))
  done
  # From another directory, each ledctl.exe finds its DLL beside it by model name, and one given the
  # other folder's DLL says which ledctl.exe loads it.
  read -r sign dll <"$models"
  for arch in $archs; do
    loader=loader_$arch
    other=x64
    [ $arch = x64 ] && other=x86
    output=$(cd "$work" && WINEPREFIX=$prefix WINEDEBUG=-all ${!loader} "$work/zip/$arch/ledctl.exe" "$sign" info 2>&1)
    grep -q '^GetVer: ' <<<"$output" || fail "$arch/ledctl.exe does not find $dll beside it by '$sign': $output"
    output=$(WINEPREFIX=$prefix WINEDEBUG=-all ${!loader} "$work/zip/$arch/ledctl.exe" "$work/zip/$other/$dll" info 2>&1)
    grep -q "run the ledctl.exe in the $other folder" <<<"$output" ||
      fail "$arch/ledctl.exe given an $other DLL does not say which ledctl.exe to use: $output"
  done
fi

[ $failures -eq 0 ] && echo "ok: $(basename "$deb") ($(stat -c %s "$deb") bytes) and $(basename "$zip") ($(stat -c %s "$zip") bytes): every file; lintian clean; the C99 host wrote $host_line; ${archs:-no} ledctl.exe drove their DLLs"
exit $((failures > 0))
