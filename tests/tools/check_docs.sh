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

[ $failures -eq 0 ] && echo "ok: $checked port names fit; every hook a host installs is in ledsign.h"
exit $((failures > 0))
