#!/usr/bin/env bash
# The whole test suite: builds both platforms, then runs every test natively (including the
# Windows DLLs under Wine and memcheck runs), then again under AddressSanitizer+UndefinedBehavior-
# Sanitizer and under ThreadSanitizer, then each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
stages=0
scripts/build.sh
ctest --preset linux
stages=$((stages + 1))

for sanitizer in asan tsan; do
  echo "== $sanitizer"
  cmake --preset $sanitizer >/dev/null
  cmake --build --preset $sanitizer
  ctest --preset $sanitizer
  stages=$((stages + 1))
done

scripts/fuzz.sh "${LEDSIGN_FUZZ_SECONDS:-60}"
stages=$((stages + 1))
# Every stage stops the script on its first failure, so reaching here means all passed.
echo "stages: $stages passed, 0 failed"
