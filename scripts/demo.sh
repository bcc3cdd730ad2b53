#!/usr/bin/env bash
# The main job on a fresh machine: installs what is missing, builds every plug-in for Linux and
# Windows, starts a virtual sign per model, sends a two-row text in Chinese and ASCII through each
# plug-in (natively, and each Windows DLL under Wine when Wine is present) and shows each sign.
#
# Environment: LEDSIGN_LINUX_BUILD and LEDSIGN_WINDOWS_BUILD choose other build directories
# (default build/linux and build/windows); DEMO_TEXT the text to send; DEMO_PNG_DIR, when set,
# also saves each sign's picture there as a PNG image.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
export LANG=C.UTF-8 LC_ALL=C.UTF-8

linux_dir=${LEDSIGN_LINUX_BUILD:-build/linux}
windows_dir=${LEDSIGN_WINDOWS_BUILD:-build/windows}
text=${DEMO_TEXT:-欢迎光临#Welcome}

if [ "$linux_dir" = build/linux ] && [ "$windows_dir" = build/windows ]; then
  scripts/build.sh >/dev/null
else
  scripts/install-deps.sh
  cmake --preset linux -B "$linux_dir" -DLEDSIGN_WINDOWS_BUILD_DIR="$root/$windows_dir" >/dev/null
  cmake --build "$linux_dir" >/dev/null
  cmake --preset windows -B "$windows_dir" >/dev/null
  cmake --build "$windows_dir" >/dev/null
fi
echo "Built: $(cd "$linux_dir" && ls lib*.so | tr '\n' ' ')$(cd "$windows_dir" && ls *.DLL | tr '\n' ' ')"

work=$(mktemp -d)
emu=
cleanup() {
  [ -n "$emu" ] && kill "$emu" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Starts a virtual sign for $1 (output in $work/sign.out) and sets $port to its pseudo-terminal.
start_sign() {
  local png=()
  [ -n "${DEMO_PNG_DIR:-}" ] && mkdir -p "$DEMO_PNG_DIR" && png=(--png "$DEMO_PNG_DIR/$1$2.png")
  "$linux_dir/tools/signemu" --model "$1" --idle-exit 600 "${png[@]}" >"$work/sign.out" 2>&1 &
  emu=$!
  port=
  for _ in $(seq 100); do
    port=$(sed -n 's/^port: //p' "$work/sign.out")
    [ -n "$port" ] && return 0
    sleep 0.05
  done
  echo "demo: the virtual sign for $1 did not start:" >&2
  cat "$work/sign.out" >&2
  return 1
}

# Waits for the sign to go quiet and shows what it showed.
show_sign() {
  # It ends 600 ms after the last byte; one that heard nothing is stopped after 10 s.
  for _ in $(seq 100); do kill -0 "$emu" 2>/dev/null || break; sleep 0.1; done
  kill "$emu" 2>/dev/null || true
  wait "$emu" || true
  emu=
  echo "-- the $1 sign:"
  sed '/^port: /d' "$work/sign.out"
  echo
}

# The models the build made, each with its Windows file name.
declare -A dll=()
signs=()
while read -r sign windows_file; do
  signs+=("$sign")
  dll[$sign]=$windows_file
done <"$linux_dir/sign-models.txt"

for sign in "${signs[@]}"; do
  start_sign "$sign" ""
  echo "== $sign (Linux): ledctl lib$sign.so write '$text' --port $port"
  "$linux_dir/tools/ledctl" "$linux_dir/lib$sign.so" write "$text" --port "$port" 2>/dev/null | sed 's/^/   /' ||
    echo "   (ledctl reported a failure)"
  show_sign "$sign"
done

if ! command -v wine >/dev/null; then
  echo "Wine is not installed: the Windows DLLs were built but not run."
  exit 0
fi

# The demo's own Wine prefix, created once. Its server and helpers outlive each command, so none of
# them may hold a pipe this script reads.
export WINEPREFIX=$root/build/demo-wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
# A persistent server makes each later run quick; one already running for the prefix is kept.
wineserver -p </dev/null >/dev/null 2>&1 || true
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Setting up the Wine prefix $WINEPREFIX (once; about 15 s)"
  wineboot -i </dev/null >/dev/null 2>&1
fi
trap 'cleanup; wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT
mkdir -p "$WINEPREFIX/dosdevices"

for sign in "${signs[@]}"; do
  start_sign "$sign" "-windows"
  ln -sfn "/dev/$port" "$WINEPREFIX/dosdevices/com5"
  echo "== $sign (Windows, under Wine): ledctl.exe ${dll[$sign]} write '$text' --port COM5 (COM5 is $port)"
  wine "$windows_dir/tools/ledctl.exe" "$windows_dir/${dll[$sign]}" write "$text" --port COM5 \
    </dev/null >"$work/ledctl.out" 2>/dev/null || true
  tr -d '\r' <"$work/ledctl.out" | sed 's/^/   /'
  show_sign "$sign"
done
