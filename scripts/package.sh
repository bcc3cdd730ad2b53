#!/usr/bin/env bash
# Makes the release packages from the install rules with CPack:
#   ledsign_<version>_amd64.deb      from the Linux build
#   ledsign-<version>-windows.zip    from the 32-bit (x86/) and 64-bit (x64/) Windows builds
# usage: scripts/package.sh [--no-build] [OUTPUT_DIR]   (default build/packages)
# Unless --no-build is given, it first installs what is missing (scripts/install-deps.sh) and brings
# what the packages hold up to date in the three builds (not the tests or benchmarks).
set -euo pipefail
cd "$(dirname "$0")/.."
build=true
if [ "${1:-}" = --no-build ]; then
  build=false
  shift
fi
out=$(realpath -m "${1:-build/packages}")
if $build; then
  scripts/install-deps.sh
  for preset in linux windows windows64; do
    cmake --preset $preset >/dev/null
    cmake --build --preset $preset --target packaged_files >/dev/null
  done
fi
for dir in build/linux build/windows build/windows64; do
  [ -f $dir/CPackConfig.cmake ] || { echo "package.sh: no $dir (run scripts/build.sh first)" >&2; exit 1; }
done
mkdir -p "$out"
log=$out/cpack.log
for config in build/linux/CPackConfig.cmake build/windows/CPackConfig.cmake; do
  cpack --config $config -B "$out" >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
done
rm -f "$log"
rm -rf "$out/_CPack_Packages"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build/linux/CPackConfig.cmake)
for package in "ledsign_${version}_amd64.deb" "ledsign-${version}-windows.zip"; do
  echo "$out/$package ($(stat -c %s "$out/$package") bytes)"
done
