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
# 5. it is unregistered again, also on failure;
# 6. the guide's first steps, word for word (check-first-steps.sh);
# 7. the installer of the build (check-msi.sh): per machine and per user, silently, compared
#    with what regsvr32 wrote in 3, upgraded and removed.
# Before 3, with nothing registered: the C++ sample creates the control registration-free
# (Wendrix.manifest and the application manifest of the guide) and records the test tone, a C
# client in the multithreaded apartment calls it through the manifest's marshaler (check_mta.c), and
# `regsvr32 /n /i:user` registers it for the current user alone and `/u /n /i:user` removes it.
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
libid='{40CB6CB6-EA06-4F0D-801B-EE826928BB0E}'
progid='Wendrix.DSWendrixControl'
catid='{40FC6ED4-2438-11CF-A3DB-080036F12502}'

wendrix_wine_prefix
compiled="$unpacked/compiled"
mkdir -p "$compiled"
"$triplet-gcc" -std=c11 -Wall -Werror -municode -I"$dir/include" "$here/check_include.c" \
  -o "$compiled/check_include.exe" -loleaut32 -lole32 -luuid
"$triplet-g++" -std=c++17 -Wall -Werror -municode -O1 -I"$dir/include" "$dir/samples/cpp/record.cpp" \
  -o "$compiled/wendrix-record.exe" -lole32 -loleaut32 -luuid -lshell32 -static
wine "$compiled/check_include.exe" "$(windows_path "$dir/include/Wendrix.tlb")" "$ocx"
wendrix_log "$name: include/ compiles in C and C++; Wendrix.tlb is the OCX's library"

regsvr32() { "$loader" "$system\\regsvr32.exe" /s "$@" "$ocx"; }
# The default value of the key $1 in the registry view of the build.
reg_value() {
  "$loader" "$system\\reg.exe" query "$1" /ve "/reg:$view" 2>/dev/null |
    tr -d '\r' | sed -n 's/.*REG_SZ *//p'
}
key_exists() { "$loader" "$system\\reg.exe" query "$1" "/reg:$view" >/dev/null 2>&1; }
# An independent reader accepts the take a sample checked.
check_take() {
  python3 - "$1" <<'EOF'
import sys, wave
with wave.open(sys.argv[1]) as w:
    assert (w.getnchannels(), w.getsampwidth(), w.getframerate()) == (2, 2, 44100)
    assert w.getnframes() > 0
EOF
}

# Registration-free: nothing registered; the C++ sample beside Wendrix.ocx and Wendrix.manifest,
# with the application manifest the guide shows, creates the control by its ProgID.
! key_exists "HKCR\\CLSID\\$clsid" || wendrix_die "the control is registered before the check"
free="$unpacked/registration-free"
mkdir -p "$free"
cp "$dir/Wendrix.ocx" "$dir/Wendrix.manifest" "$dir/samples/cpp/wendrix-record.exe" "$free/"
arch=$([[ $view == 64 ]] && echo amd64 || echo x86)
assembly="$(tr -d '\r\n' <"$dir/Wendrix.manifest" | grep -o '<assemblyIdentity[^>]*>')"
[[ $assembly == *"processorArchitecture=\"$arch\""* ]] ||
  wendrix_die "Wendrix.manifest is not for $arch: $assembly"
cat >"$free/wendrix-record.exe.manifest" <<EOF
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <assemblyIdentity type="win32" name="WendrixRecord" version="1.0.0.0" processorArchitecture="$arch"/>
  <dependency>
    <dependentAssembly>
      $assembly
    </dependentAssembly>
  </dependency>
</assembly>
EOF
wendrix_log "$name: wendrix-record.exe registration-free"
(cd "$free" && wine wendrix-record.exe take.wav --seconds 2 --expect-signal)
check_take "$free/take.wav"
# The same from a thread in the multithreaded apartment, through the manifest's marshaler.
"$triplet-gcc" -std=c11 -Wall -Werror -municode -I"$dir/include" "$here/check_mta.c" \
  -o "$free/check_mta.exe" -lole32 -loleaut32 -luuid
sed 's/name="WendrixRecord"/name="WendrixCheckMta"/' "$free/wendrix-record.exe.manifest" \
  >"$free/check_mta.exe.manifest"
(cd "$free" && wine check_mta.exe)
# Wine's marshaler registers the type library it loads through the manifest (machine-wide, at
# the OCX beside the client); the OCX's own unregistration takes that back.
"$loader" "$system\\regsvr32.exe" /u /s "$(windows_path "$free/Wendrix.ocx")"

# Per user, without administrator's rights: /n /i:user writes the class, the ProgID and the type
# library under HKCU\Software\Classes only, and /u /n /i:user removes exactly them.
user='HKCU\Software\Classes'
platform=$([[ $view == 64 ]] && echo win64 || echo win32)
trap 'regsvr32 /u /n /i:user || true' EXIT
regsvr32 /n /i:user
got="$(reg_value "$user\\CLSID\\$clsid\\InprocServer32")"
[[ ${got,,} == "${ocx,,}" ]] || wendrix_die "the per-user class names '$got', not $ocx"
[[ "$(reg_value "$user\\$progid\\CLSID")" == "$clsid" ]] || wendrix_die "no per-user ProgID"
got="$(reg_value "$user\\TypeLib\\$libid\\2.0\\409\\$platform")"
[[ ${got,,} == "${ocx,,}" ]] || wendrix_die "the per-user type library names '$got', not $ocx"
key_exists "$user\\CLSID\\$clsid\\Implemented Categories\\$catid" ||
  wendrix_die "the per-user class lacks the control category"
for key in "CLSID\\$clsid" "$progid" "TypeLib\\$libid"; do
  ! key_exists "HKLM\\Software\\Classes\\$key" || wendrix_die "the per-user registration wrote HKLM: $key"
done
# The event log's source of this bitness is the machine's alone (HKLM\SYSTEM): the per-user
# scope writes none.
source_key="SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Wendrix ($view-bit)"
for hive in HKLM HKCU; do
  ! key_exists "$hive\\$source_key" || wendrix_die "the per-user registration wrote $hive\\$source_key"
done
regsvr32 /u /n /i:user
for key in "CLSID\\$clsid" "$progid" "TypeLib\\$libid"; do
  ! key_exists "$user\\$key" || wendrix_die "the per-user unregistration left $key"
done
key_exists "$user\\CLSID" || wendrix_die "the per-user unregistration removed more than its keys"
wendrix_log "$name: registered and unregistered for the user alone"

regsvr32
trap '"$loader" "$system\\regsvr32.exe" /u /s "$ocx" || true' EXIT
registered="$(reg_value "HKCR\\CLSID\\$clsid\\InprocServer32")"
if [[ ${registered,,} != "${ocx,,}" ]]; then
  wendrix_die "the $view-bit registration names '$registered', not the packaged $ocx"
fi
key_exists "HKLM\\$source_key" || wendrix_die "the registration wrote no event source"
wendrix_log "$name: Wendrix.ocx registered ($view-bit)"
# What regsvr32 wrote, for the installer's check (check-msi.sh) to compare with.
mapfile -t our_keys < <(python3 "$here/check_registration.py" keys "$dir/include/Wendrix.h" \
  'HKLM\Software\Classes' "$build/msi/registration.txt")
wine "$build/registry_capture.exe" dump "$(windows_path "$unpacked/regsvr32.txt")" "${our_keys[@]}"

cd "$dir/samples"
wendrix_log "$name: samples/cpp/wendrix-record.exe"
# Without a name the take goes to the user's Music folder, not the current one. The prefix's
# Music is the home folder, shared with whoever else runs Wine here: a folder of this check's
# own stands in for it while the sample runs.
music="$unpacked/music"
mkdir -p "$music"
shell_folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
wine reg add "$shell_folders" /v 'My Music' /t REG_EXPAND_SZ /d "$(windows_path "$music")" /f
status=0
wine cpp/wendrix-record.exe --seconds 2 --expect-signal || status=$?
wine reg add "$shell_folders" /v 'My Music' /t REG_EXPAND_SZ /d '%USERPROFILE%\Music' /f
((status == 0)) || wendrix_die "wendrix-record.exe failed ($status)"
check_take "$music/wendrix-sample.wav"

wendrix_log "$name: samples/vbscript/record.vbs"
output="$("$loader" "$system\\cscript.exe" //nologo 'vbscript\record.vbs' 2>&1)"
printf '%s\n' "$output"
# Wine's script host ends a script that hits an unhandled error with exit code 0: the sample
# passes only when it also printed its last line.
grep -qx $'Done.\r\\?' <<<"$output" || wendrix_die "record.vbs did not run to its end"
grep -q '^Take: .*\\samples\\' <<<"$output" && wendrix_die "record.vbs records into the current folder"
regsvr32 /u
trap - EXIT
cd "$here"
"$here/check-first-steps.sh" "$zip" "$loader" "$system"
wendrix_log "$name: package checked"

# 7. The installer (target msi), with nothing registered again.
"$here/check-msi.sh" "$build" "$unpacked/regsvr32.txt" "$ocx"
