#!/usr/bin/env bash
# Measures Write2Led on the kernel's own serial drivers in the QEMU guest (tests/guest) and puts
# the table into bench/RESULTS.md as its own section, keeping the rest. scripts/bench.sh runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux >/dev/null
bin=build/linux
tests/guest/guest-image.sh $bin/tests/guest/image $bin/tests/guest/guest_host $bin/lib*.so
table=$(mktemp)
trap 'rm -f "$table"' EXIT
LEDSIGN_GUEST_BENCH_OUT=$table $bin/tests/guest/guest_tests --gtest_filter='*Benchmark*' >/dev/null
heading="## Write2Led on real serial drivers (QEMU guest)"
{
  echo "Made by \`scripts/bench-guest.sh\` on $(date -u +%Y-%m-%d): the plug-ins in a QEMU $(qemu-system-x86_64 --version |
    head -1 | awk '{print $4}') guest (Debian kernel $(sed 's/_.*//; s/linux-image-//' $bin/tests/guest/image/kernel/package)), on"
  echo "ttyUSB0 (QEMU's FT232 under ftdi_sio, on an emulated xHCI controller) and ttyS1 (a 16550 under 8250),"
  echo "\"AB#D\" at 9600 baud (dorun 2400), each call timed in the guest. Beside each plug-in, the same writes and"
  echo "pauses (taken from its trace) done the common way, as pyserial's and Boost.Asio's write-then-drain"
  echo "do: a blocking write, then tcdrain. Five batches of each alternate (20 calls a batch for the ESC-line"
  echo "signs, 4 for the others) and each side's fastest batch is shown, so that the shared machine's other"
  echo "work picks no side. \"above pauses\" is the time beyond the protocol's pauses: the"
  echo "writes, the drains and the pauses' oversleep. Neither QEMU device emulates line time, so a drain"
  echo "returns as soon as the guest's driver has handed the bytes over and the bytes' line time does not"
  echo "show; on hardware it adds to both columns alike. Figures are under software emulation, where every"
  echo "system call and device access costs far more than on hardware: read them as ratios."
  echo
  cat "$table"
  echo
  echo "ESC-line signs make ten drained writes per call: on the USB adapter each costs the plug-in the"
  echo "\"per write\" column (a write, and tcdrain on the drain thread, handed over and waited for with a"
  echo "futex call on each side, which keeps the call to its deadline when the driver holds the drain); on"
  echo "the UART a write, TIOCOUTQ and tcdrain on the caller's thread. A bare tcdrain is the last column."
} | scripts/results-section.sh "$heading"
echo "wrote the guest section of bench/RESULTS.md"
