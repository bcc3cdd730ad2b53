#!/usr/bin/env bash
# Checks each Windows plug-in DLL the build made (the build's sign-models.txt lists them): exactly
# the nine exports, named, numbered 1..9 in alphabetical order; imports only from KERNEL32, USER32
# and msvcrt, and from KERNEL32 only functions Windows XP has (newer ones are looked up at run
# time); a version resource in Chinese (PRC) whose file version is the one its model's header
# gives; and that each DLL is under 32 KiB (32-bit) or an x86-64 image under 40 KiB (64-bit). (The
# Wine suite checks each file version against the test table.)
set -u
usage="usage: check_dll_tables.sh WINDOWS_BUILD_DIR [i686-w64-mingw32|x86_64-w64-mingw32]"
dir=${1:?$usage}
triplet=${2:-i686-w64-mingw32}
objdump=$triplet-objdump
windres=$triplet-windres
expected_exports="1 ClearLed
2 CloseLed
3 GetLEDAtt
4 GetVer
5 InitLed
6 IsLedOpened
7 OpenLed
8 SetShowMode
9 Write2Led"
# KERNEL32 functions that Windows XP has, of those the DLLs use: a new import goes on this list once
# XP is known to have it.
xp_kernel32=" CancelIo ClearCommError CloseHandle CreateEventA CreateFileA CreateThread DeleteCriticalSection
 EnterCriticalSection FormatMessageA FreeLibrary FreeLibraryAndExitThread GetCommState GetCurrentProcessId
 GetCurrentThreadId GetEnvironmentVariableA GetLastError GetModuleHandleA GetModuleHandleExA GetOverlappedResult
 GetProcAddress GetTickCount InitializeCriticalSection LeaveCriticalSection LoadLibraryA MultiByteToWideChar
 OutputDebugStringA PurgeComm QueryPerformanceCounter QueryPerformanceFrequency ReadFile ResetEvent SetCommMask
 SetCommState SetEvent SetWaitableTimer SetupComm Sleep TlsGetValue VirtualProtect VirtualQuery WaitCommEvent
 WaitForMultipleObjects WaitForSingleObject WriteFile"
xp_kernel32=" $(echo $xp_kernel32) "
failures=0
fail() { echo "FAIL $1: $2"; failures=$((failures + 1)); }

models="$dir/sign-models.txt"
[ -s "$models" ] || { echo "FAIL: no $models (build the windows preset first)"; exit 1; }
while read -r sign dll_file; do
  name=${dll_file%.DLL}
  dll="$dir/$dll_file"
  version=$(sed -n "s/^#define [A-Z0-9_]*_FILE_VERSION \([0-9, ]*\)\$/\1/p" "$(dirname "$0")/../signs/$sign.h" | tr -d " ")
  [ -f "$dll" ] || { fail "$name" "missing $dll (build the windows preset first)"; continue; }
  dump=$($objdump -p "$dll")
  size=$(stat -c %s "$dll")
  if [ "$triplet" = x86_64-w64-mingw32 ]; then
    $objdump -f "$dll" | grep -q 'file format pei-x86-64' || fail "$name" "is not a 64-bit image"
    [ "$size" -lt 40960 ] || fail "$name" "is $size bytes, not under 40 KiB"
  else
    [ "$size" -lt 32768 ] || fail "$name" "is $size bytes, not under 32 KiB"
  fi
  for function in $(printf '%s\n' "$dump" | awk '/DLL Name:/ {dll = toupper($3); next}
                                                  dll == "KERNEL32.DLL" && $1 ~ /^[0-9a-f]+$/ && NF == 3 {print $3}'); do
    case $xp_kernel32 in *" $function "*) ;; *) fail "$name" "imports $function from KERNEL32, which Windows XP lacks" ;; esac
  done
  # The [Ordinal/Name Pointer] table lists "[index] name"; the ordinal is index + base (1).
  exports=$(printf '%s\n' "$dump" | awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^\t\[/{gsub(/[\[\]]/,""); print $1+1, $2; next} on && NF==0 {on=0}')
  [ "$exports" = "$expected_exports" ] || fail "$name" "exports are: $exports"
  count=$(printf '%s\n' "$dump" | awk '/Export Address Table/{print $NF; exit}')
  [ "$((16#$count))" = 9 ] || fail "$name" "export address table holds $count entries"
  imports=$(printf '%s\n' "$dump" | awk '/DLL Name:/{print toupper($3)}' | sort -u | tr '\n' ' ')
  for dll_name in $imports; do
    case $dll_name in KERNEL32.DLL|USER32.DLL|MSVCRT.DLL) ;; *) fail "$name" "imports $dll_name" ;; esac
  done
  resource=$($windres -i "$dll" -O rc 2>/dev/null)
  printf '%s\n' "$resource" | grep -q '^LANGUAGE 4, 2$' || fail "$name" "version resource language is not Chinese (PRC)"
  printf '%s\n' "$resource" | grep -q "FILEVERSION ${version//,/, }\$" || fail "$name" "file version is not $version"
  printf '%s\n' "$resource" | grep -q 'VALUE "Translation", 0x804, 1200' || fail "$name" "translation is not zh-CN Unicode"
  echo "ok $name: exports 1..9, imports: $imports, version $version"
done <"$models"
exit $((failures > 0))
