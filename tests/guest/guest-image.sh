#!/usr/bin/env bash
# Builds the guest the tests boot, once per build tree: the kernel and its USB-serial modules from
# Debian's kernel package (unpacked here, never into /boot), busybox-static, the guest test host and
# the plug-ins with the libraries they load. Exits 77 (skip) when QEMU or a package is missing,
# unless CI=true, where that is a failure.
#   guest-image.sh OUT_DIR GUEST_HOST PLUGIN.so...
set -euo pipefail
out=$1 host=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)

missing() {
  echo "guest-image: $1 (scripts/install-deps.sh installs it)"
  [ "${CI:-}" = true ] && exit 1
  echo "guest-image: skipping the guest tests"
  exit 77
}
command -v qemu-system-x86_64 >/dev/null || missing "qemu-system-x86_64 not found (Debian's qemu-system-x86)"
[ -x /bin/busybox ] || missing "/bin/busybox not found (Debian's busybox-static)"

mkdir -p "$out"
# The kernel: the newest linux-image-6.1.0-*-amd64 package in apt's cache, else downloaded here.
kernel=$out/kernel
if [ ! -s "$kernel/vmlinux" ]; then
  deb=$(ls -v /var/cache/apt/archives/linux-image-[0-9]*-amd64_*_amd64.deb "$out"/linux-image-[0-9]*-amd64_*_amd64.deb \
        2>/dev/null | grep -v -- '-unsigned' | tail -1 || true)
  if [ -z "$deb" ]; then
    name=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
    [ -n "$name" ] && (cd "$out" && apt-get download "$name" >/dev/null 2>&1) || true
    deb=$(ls -v "$out"/linux-image-[0-9]*-amd64_*_amd64.deb 2>/dev/null | tail -1 || true)
  fi
  [ -n "$deb" ] || missing "no Debian kernel package (linux-image-amd64's linux-image-6.1.0-*-amd64) in apt's cache"
  rm -rf "$kernel" && mkdir -p "$kernel"
  # Only the kernel image and the USB modules the guest loads.
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$kernel" --wildcards './boot/vmlinuz-*' \
    '*/usb-common.ko' '*/usbcore.ko' '*/xhci-hcd.ko' '*/xhci-pci.ko' '*/usbserial.ko' '*/ftdi_sio.ko'
  # The uncompressed kernel boots faster under emulation: the ELF inside vmlinuz's xz stream.
  vmlinuz=$(ls "$kernel"/boot/vmlinuz-*)
  offset=$(LC_ALL=C grep -obUaP '\xFD7zXZ\x00' "$vmlinuz" | head -1 | cut -d: -f1)
  tail -c +$((offset + 1)) "$vmlinuz" | xz -dc --single-stream >"$kernel/vmlinux.part" 2>/dev/null || true
  [ "$(head -c 4 "$kernel/vmlinux.part" | od -An -c | tr -d ' ')" = '177ELF' ] || {
    echo "guest-image: no ELF kernel inside $vmlinuz"; exit 1; }
  mv "$kernel/vmlinux.part" "$kernel/vmlinux"
  basename "$deb" >"$kernel/package"
fi

# The root file system, rebuilt when the test host or a plug-in changed.
image=$out/initramfs.cpio
if [ -s "$image" ] && [ -s "$out/accel" ]; then
  newer=$(find "$host" "$@" "$here/init" -newer "$image" | head -1)
  [ -z "$newer" ] && { echo "guest-image: up to date ($(cat "$kernel/package"), $(cat "$out/accel"))"; exit 0; }
fi
root=$out/root
rm -rf "$root" && mkdir -p "$root"/{bin,dev,proc,sys,tmp,guest,lib/modules}
cp /bin/busybox "$root/bin/busybox"
cp "$here/init" "$root/init" && chmod +x "$root/init"
find "$kernel/lib/modules" -name '*.ko' -exec cp {} "$root/lib/modules/" \;
cp "$host" "$@" "$root/guest/"
# The C and C++ runtimes the test host and the plug-ins load, at the paths they are found.
for lib in $(ldd "$host" "$@" | awk '$2 == "=>" && $3 ~ /^\// {print $3} $1 ~ /^\// && NF > 1 {print $1}' | sort -u); do
  mkdir -p "$root$(dirname "$lib")" && cp -L "$lib" "$root$lib"
done
(cd "$root" && find . | /bin/busybox cpio -o -H newc 2>/dev/null) >"$image.part"
mv "$image.part" "$image"
echo "guest-image: built $image ($(du -k "$image" | cut -f1) KiB) with $(cat "$kernel/package")"

# KVM only where a guest really boots under it: on these machines /dev/kvm opens but the guest
# hangs before printing anything. Checked once per build tree; the tests read the choice.
if [ ! -s "$out/accel" ]; then
  accel=tcg
  if [ -r /dev/kvm ] && [ -w /dev/kvm ]; then
    probe=$out/kvm-probe.log
    start=$(date +%s.%N)
    timeout 10 qemu-system-x86_64 -accel kvm -m 256 -nodefaults -no-user-config -no-reboot -display none \
      -kernel "$kernel/vmlinux" -initrd "$image" -append "console=ttyS0 loglevel=1 panic=-1 ledsign.run=none" \
      -serial "file:$probe" </dev/null >"$probe.qemu" 2>&1 || true
    if grep -q 'LEDSIGN up' "$probe" 2>/dev/null; then
      accel=kvm
      echo "guest-image: KVM boots the guest ($(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN{printf "%.1f", e-s}') s)"
    else
      echo "guest-image: KVM did not boot the guest in 10 s (console: $(head -c 200 "$probe" | tr -d '\r' | tr '\n' ' ')$(tail -1 "$probe.qemu")); using TCG"
    fi
  fi
  echo "$accel" >"$out/accel"
fi
