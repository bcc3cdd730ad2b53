#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, as root; does nothing when all is there.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev
          g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 procps valgrind cppcheck clang libclang-rt-14-dev libfuzzer-14-dev)
# The 64-bit Windows DLLs, and Wine to run them.
packages+=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64)
# The .deb package's run-time dependencies are found with dpkg-shlibdeps.
packages+=(dpkg-dev)
# The virtual sign draws its rows with GNU Unifont.
packages+=(unifont)
# It draws 12-dot rows with the WenQuanYi 12-dot song bitmap font.
packages+=(xfonts-wqy)
# The virtual sign's PNG picture is written with libpng, its bitmap fonts read with FreeType.
packages+=(libpng-dev libfreetype-dev)
# The tools' command lines (CLI11) and JSON (nlohmann-json), header-only, also for ledctl.exe.
packages+=(libcli11-dev nlohmann-json3-dev)
# The benchmark counts system calls with strace.
packages+=(strace)
# The install-tree test builds a host with pkg-config.
packages+=(pkgconf)
# The product code is kept formatted with clang-format.
packages+=(clang-format)
# The Python package: its tests (pytest), and installing it from the tree into a venv with nothing
# downloaded (pip, setuptools and wheel from Debian).
packages+=(python3-pytest python3-venv python3-pip python3-setuptools python3-wheel)
# The C# binding and plug-in cookbook are compiled and run with Mono; code page 936 (GBK) in Mono
# comes from its CJK I18N assembly.
packages+=(mono-mcs mono-runtime libmono-i18n-cjk4.0-cil)
# Signs behind network serial servers: ser2net serves a virtual sign's pty over raw TCP and RFC 2217,
# nftables drops a path's packets in a test's own network namespace, and pyserial is the yardstick.
packages+=(ser2net nftables python3-serial)
# The host guide's bridge for a plug-in (a pty linked to a network server) is socat, run by a test.
packages+=(socat)
# The .deb is checked with lintian; the tools' man pages are made from their --help by help2man;
# bash runs ledctl's completion in its test.
packages+=(lintian help2man bash-completion)
# The guest stage: QEMU, and busybox for the guest's initramfs.
packages+=(qemu-system-x86 busybox-static)

# The guest's kernel and modules come from Debian's kernel package, fetched into apt's cache (never
# installed: tests/guest/guest-image.sh unpacks it into the build tree).
kernel_cached() { ls /var/cache/apt/archives/linux-image-[0-9]*-amd64_*_amd64.deb >/dev/null 2>&1; }
fetch_kernel() {
  kernel_cached && return 0
  echo "install-deps: fetching Debian's kernel package for the guest stage"
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install --download-only -y -qq linux-image-amd64 >/dev/null
}

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  fetch_kernel
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
# wine32 is an i386 package.
dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
$SUDO apt-get update -qq
# With its recommended packages, as the suite was proven with (Wine needs several of them).
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fetch_kernel
