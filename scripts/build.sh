#!/usr/bin/env bash
# Builds the native plug-ins, tools and tests, the 32-bit Windows DLLs (the product hosts load)
# and the 64-bit ones.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux
cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset windows64 >/dev/null
cmake --build --preset windows64
