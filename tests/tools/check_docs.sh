#!/usr/bin/env bash
# What the docs and the tools' help texts tell an installer holds: every port name they give the
# plug-in fits its record's 9 characters, and every hook they say a host installs is in the header.
# usage: check_docs.sh SOURCE_DIR LEDCTL SIGNEMU
set -u
source=${1:?usage: check_docs.sh SOURCE_DIR LEDCTL SIGNEMU}
ledctl=${2:?}
signemu=${3:?}
failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }

texts=$(mktemp -d)
trap 'rm -rf "$texts"' EXIT
cp "$source"/README.md "$source"/docs/*.md "$source"/docs/*.txt.in "$texts/"
"$ledctl" --help >"$texts/ledctl-help.txt"
"$signemu" --help >"$texts/signemu-help.txt"

# Names after --port or --link, and after "give the plug-in"; a word with neither a digit nor a
# slash ("NAME", "the") is a placeholder or prose.
checked=0
while IFS=: read -r file name; do
  case "$name" in *[0-9/]*) ;; *) continue ;; esac
  checked=$((checked + 1))
  [ ${#name} -le 9 ] || fail "$(basename "$file"): the plug-in is told to open '$name', ${#name} characters (at most 9)"
done < <(grep -oE -- "(--(port|link)[ =]|give the plug-in \`?)[^ \`'\",;)]+" "$texts"/* |
         sed -E "s/(--(port|link)[ =]|give the plug-in \`?)//")
[ $checked -ge 5 ] || fail "only $checked port names found in the docs and help texts"

# "the host installs X": X must be declared in include/ledsign.h, the only header a host has.
while IFS= read -r line; do
  names=$(grep -oE '`[A-Za-z_][A-Za-z0-9_]*`' <<<"$line" | tr -d '`')
  found=
  for name in $names; do grep -qw "$name" "$source/include/ledsign.h" && found=$name; done
  [ -n "$found" ] || fail "a host cannot install what this says (nothing in ledsign.h): $line"
done < <(grep -hiE "host install|host sets|host registers" "$source"/README.md "$source"/docs/*.md)

# Every source file the docs name is there (not build outputs, not placeholders such as NAME.h).
while IFS=: read -r file path; do
  case $path in */[A-Z]*[A-Z].*) continue ;; esac
  [ -e "$source/$path" ] || fail "$(basename "$file") names $path, which is not there"
done < <(grep -oE '`(tools|signs|serial|driver|include|tests|scripts|docs|cmake|packaging)/[A-Za-z0-9_./-]+\.(h|cpp|c|md|sh|txt|in|cmake)`' \
           "$source"/README.md "$source"/docs/*.md | tr -d '`')

# The installers' README names COM10 and above plainly: "\\.\COM100" would not fit the record.
grep -q 'COM256' "$source/docs/windows-installers.txt.in" || fail "the installers' README does not say COM10..COM256 work by name"
grep -qF '\\.\COM' "$source/docs/windows-installers.txt.in" && fail "the installers' README suggests \\.\COMn names"

# A clear makes no pause and needs none after it: the guide, the protocol reference and both helps say so.
for text in ledctl-help.txt signemu-help.txt host-integration.md protocol.md; do
  grep -iE 'clear' "$texts/$text" | grep -qiE 'no pause' || fail "$text does not say a clear needs no pause after it"
done

# --version on both tools, whatever else is missing from the command line.
for tool in "$ledctl" "$signemu"; do
  name=$(basename "$tool")
  "$tool" --version | grep -qxE "$name [0-9]+\.[0-9]+" || fail "$name --version: $("$tool" --version 2>&1)"
done

# The manual pages, beside the tools in the build, hold every option of the help they are made from.
for tool in "$ledctl" "$signemu"; do
  name=$(basename "$tool")
  page=$(dirname "$tool")/$name.1.gz
  if [ ! -f "$page" ] && ! command -v help2man >/dev/null && [ "${CI:-}" != true ]; then
    echo "SKIP: help2man is not installed; no manual page for $name"
    continue
  elif [ ! -f "$page" ]; then
    fail "no manual page $page"
    continue
  fi
  manual=$(zcat "$page" | sed 's/\\-/-/g')
  for option in $(grep -oE -- '--[a-z][a-z-]*' "$texts/$name-help.txt" | sort -u); do
    grep -qe "$option" <<<"$manual" || fail "$name.1 lacks $option"
  done
done

[ $failures -eq 0 ] && echo "ok: $checked port names fit; every hook a host installs is in ledsign.h; named files are there; versions and manual pages"
exit $((failures > 0))
