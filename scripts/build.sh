#!/usr/bin/env bash
# Builds the native plug-ins, tools and tests, and the 32-bit Windows DLLs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux
cmake --preset windows >/dev/null
cmake --build --preset windows
