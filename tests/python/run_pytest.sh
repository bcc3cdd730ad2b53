#!/usr/bin/env bash
# Runs the Python package's tests with Debian's python3 and pytest; skips (77) without pytest,
# fails then under CI=true.
set -u
if ! /usr/bin/python3 -c 'import pytest' 2>/dev/null; then
  echo "SKIP: python3-pytest is not installed"
  [ "${CI:-}" = true ] && exit 1
  exit 77
fi
exec /usr/bin/python3 -m pytest -q -p no:cacheprovider "$(dirname "$0")" "$@"
