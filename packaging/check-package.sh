#!/usr/bin/env bash
# Checks the release zip of one build as a user would meet it:
#   packaging/check-package.sh build/win32      (after `cmake --build --preset win32 --target package`)
# 1. its contents (check_package.py): the files, their bitness, the OCX's file version, the
#    HTML guide's pages and links;
# 2. its include folder: Wendrix.h compiles in C (check_include.c) and in C++ (the C++ sample,
#    built again from the zip's files) with MinGW-w64; the shipped Wendrix.tlb loads with
#    LoadTypeLib and is the library embedded in the OCX, and the header's GUIDs are its GUIDs;
# 3. the packaged Wendrix.ocx registers with the regsvr32 of its bitness (in a 64-bit prefix the
#    32-bit one is C:\windows\syswow64\regsvr32.exe) and the registration names that very file;
# 4. the packaged samples create it by ProgID and run: the C++ recorder records the test tone and
#    checks its take; the VBScript sample runs its setup and error handling (Wine's cscript
#    cannot wait, so it skips its recording loop);
# 5. it is unregistered again, also on failure.
# Needs the services scripts/test starts: the Wine prefix and PulseAudio with the test tone.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../scripts/common.sh"

(($# == 1)) || wendrix_die "usage: check-package.sh BUILD_DIR"
build="$(cd "$1" && pwd)"
name="$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")"
[[ -n $name ]] || wendrix_die "$build/CPackConfig.cmake names no package"
zip="$build/$name.zip"
[[ -f $zip ]] || wendrix_die "$zip is missing: build the target 'package' first"

unpacked="$build/package-check"
rm -rf "$unpacked"
python3 "$here/check_package.py" "$zip" "$unpacked"
dir="$unpacked/$name"

case "$name" in
  *-win32) system='C:\windows\syswow64' loader=wine view=32 triplet=i686-w64-mingw32 ;;
  *-win64) system='C:\windows\system32' loader="$(command -v wine64 || echo /usr/lib/wine/wine64)" view=64 triplet=x86_64-w64-mingw32 ;;
  *) wendrix_die "$name: neither win32 nor win64" ;;
esac
windows_path() { echo "Z:${1//\//\\}"; }
ocx="$(windows_path "$dir/Wendrix.ocx")"
clsid='{FEC0C325-2038-45EE-8086-8B087DB56CA3}'

wendrix_wine_prefix
compiled="$unpacked/compiled"
mkdir -p "$compiled"
"$triplet-gcc" -std=c11 -Wall -Werror -municode -I"$dir/include" "$here/check_include.c" \
  -o "$compiled/check_include.exe" -loleaut32 -lole32 -luuid
"$triplet-g++" -std=c++17 -Wall -Werror -municode -O1 -I"$dir/include" "$dir/samples/cpp/record.cpp" \
  -o "$compiled/wendrix-record.exe" -lole32 -loleaut32 -luuid -static
wine "$compiled/check_include.exe" "$(windows_path "$dir/include/Wendrix.tlb")" "$ocx"
wendrix_log "$name: include/ compiles in C and C++; Wendrix.tlb is the OCX's library"
"$loader" "$system\\regsvr32.exe" /s "$ocx"
trap '"$loader" "$system\\regsvr32.exe" /u /s "$ocx" || true' EXIT
registered="$("$loader" "$system\\reg.exe" query "HKCR\\CLSID\\$clsid\\InprocServer32" /ve \
  "/reg:$view" 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p')"
if [[ ${registered,,} != "${ocx,,}" ]]; then
  wendrix_die "the $view-bit registration names '$registered', not the packaged $ocx"
fi
wendrix_log "$name: Wendrix.ocx registered ($view-bit)"

cd "$dir/samples"
wendrix_log "$name: samples/cpp/wendrix-record.exe"
wine cpp/wendrix-record.exe take.wav --seconds 2 --expect-signal
python3 - "$dir/samples/take.wav" <<'EOF'
import sys, wave
# An independent reader accepts the take the sample checked.
with wave.open(sys.argv[1]) as w:
    assert (w.getnchannels(), w.getsampwidth(), w.getframerate()) == (2, 2, 44100)
    assert w.getnframes() > 0
EOF

wendrix_log "$name: samples/vbscript/record.vbs"
output="$("$loader" "$system\\cscript.exe" //nologo 'vbscript\record.vbs' 2>&1)"
printf '%s\n' "$output"
# Wine's script host ends a script that hits an unhandled error with exit code 0: the sample
# passes only when it also printed its last line.
grep -qx $'Done.\r\\?' <<<"$output" || wendrix_die "record.vbs did not run to its end"
wendrix_log "$name: package checked"
