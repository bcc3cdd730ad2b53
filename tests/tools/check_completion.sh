#!/usr/bin/env bash
# ledctl's bash completion as a user meets it: bash sources the completion file, each command line
# of the table is completed where the cursor stands (at its end), and the candidates must hold the
# words expected and none of those forbidden.
# usage: check_completion.sh COMPLETION_FILE LEDCTL
set -u
completion=${1:?usage: check_completion.sh COMPLETION_FILE LEDCTL}
ledctl=${2:?}
# File names are candidates for the plug-in too: complete in an empty folder.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }

# The candidates bash offers for the words given, the last one being completed.
candidates() {
  bash -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _ledctl
    printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$ledctl" "$@"
}

# A port ledctl lists on this machine, if any (COM1 where the machine has a serial port).
port=$("$ledctl" ports | awk 'NR == 1 {print $1}')

#      words after ledctl                       | expected (space-separated)       | forbidden
table=(
  "''"                                          "ports brava dorun cresto elvane"  "info"
  "br"                                          "brava"                            "dorun ports"
  "brava ''"                                    "info write clear mode"            "ports brava"
  "brava write Hi --po"                         "--port"                           "--parity"
  "brava write Hi --pa"                         "--parity"                         "--port"
  "brava clear --parity E"                      "EVEN"                             "ODD"
  "brava clear --stop-bits ''"                  "1 2"                              "3"
  "brava clear --port ''"                       "$port"                            "info"
  "ports --j"                                   "--json"                           ""
  "ports ''"                                    ""                                 "info write"
  "--port COM3 brava ''"                        "info write clear mode"            "brava"
)
for ((row = 0; row < ${#table[@]}; row += 3)); do
  eval "words=(${table[row]})"
  got=$(candidates "${words[@]}" | tr '\n' ' ')
  for word in ${table[row + 1]}; do
    grep -qw -- "$word" <<<"$got" || fail "ledctl ${table[row]}: no '$word' among: $got"
  done
  for word in ${table[row + 2]}; do
    grep -qw -- "$word" <<<"$got" && fail "ledctl ${table[row]}: '$word' offered: $got"
  done
done

[ $failures -eq 0 ] && echo "ok: $((${#table[@]} / 3)) command lines complete as expected"
exit $((failures > 0))
