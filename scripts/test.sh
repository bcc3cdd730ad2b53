#!/usr/bin/env bash
# The whole test suite: builds both platforms, then runs every test natively (including the
# Windows DLLs under Wine and memcheck runs), then again under AddressSanitizer+UndefinedBehavior-
# Sanitizer and under ThreadSanitizer, then each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --preset linux

for sanitizer in asan tsan; do
  echo "== $sanitizer"
  cmake --preset $sanitizer >/dev/null
  cmake --build --preset $sanitizer
  ctest --preset $sanitizer
done

scripts/fuzz.sh "${LEDSIGN_FUZZ_SECONDS:-60}"
