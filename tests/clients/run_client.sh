#!/usr/bin/env bash
# Runs client.vbs against a built Wendrix.ocx with Wine's own script host:
#   tests/clients/run_client.sh BUILD/Wendrix.ocx 4|8
# The module is registered in the tree's Wine prefix for the script host of its bitness
# (4: 32-bit, from syswow64; 8: 64-bit, from system32) and unregistered afterwards.
# Wine's script host ends a script that hits a run-time error silently with exit code 0, so
# the run passes only when the script also printed its final "OK".
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../../scripts/common.sh"

(($# == 2)) || wendrix_die "usage: run_client.sh Wendrix.ocx 4|8"
windows_path() { local p; p="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; echo "Z:${p//\//\\}"; }
ocx="$(windows_path "$1")"
script="$(windows_path "$here/client.vbs")"
# A system program named by its Windows path starts as 32-bit under the `wine` launcher; the
# 64-bit ones need the 64-bit loader.
case "$2" in
  4) system='C:\windows\syswow64' loader=wine ;;
  8) system='C:\windows\system32' loader="$(command -v wine64 || echo /usr/lib/wine/wine64)" ;;
  *) wendrix_die "bitness must be 4 or 8, not $2" ;;
esac

wendrix_wine_prefix
"$loader" "$system\\regsvr32.exe" /s "$ocx"
trap '"$loader" "$system\\regsvr32.exe" /u /s "$ocx" || true' EXIT
status=0
output="$("$loader" "$system\\cscript.exe" //nologo "$script" 2>&1)" || status=$?
printf '%s\n' "$output"
[[ $status -eq 0 ]] && grep -qx $'OK\r\\?' <<<"$output"
