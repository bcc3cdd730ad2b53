#!/usr/bin/env bash
# The whole test suite: builds both platforms, then runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --preset linux
