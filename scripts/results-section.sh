#!/usr/bin/env bash
# Puts a section into bench/RESULTS.md: `results-section.sh HEADING` reads the section's body from
# standard input and writes it under HEADING, in place of that section's earlier text (or at the
# end), keeping every other section. The benchmark scripts each own one section.
set -euo pipefail
heading=${1:?usage: results-section.sh HEADING < body}
out=$(dirname "$0")/../bench/RESULTS.md
body=$(cat)
next=$(mktemp)
trap 'rm -f "$next"' EXIT
{
  awk -v h="$heading" '$0 == h { skip = 1; next } skip && /^## / { skip = 0 } !skip' "$out"
  echo "$heading"
  echo
  echo "$body"
  echo
} >"$next"
mv "$next" "$out"
