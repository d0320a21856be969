#!/usr/bin/env bash
# Checks the installer of one build under Wine's msiexec, silently, as an administrator and a
# user would run it:
#   packaging/check-msi.sh BUILD_DIR REGSVR32.txt OCX
# (run by check-package.sh with what `regsvr32 OCX` wrote, listed by registry_capture's dump)
# 1. per machine: msiexec /i … /qn installs into Program Files; the control is created by its
#    ProgID and the installed C++ sample records the test tone; Apps & features lists it once
#    with version and publisher; the registry under our class, ProgID, type library and
#    interfaces is what regsvr32 writes (the module's path aside);
# 2. a package of a higher version installed over it replaces it: one entry, the newer files,
#    the same registration;
# 3. msiexec /x … /qn leaves no file and no key of ours, and the ProgID no longer resolves;
# 4. per user (ALLUSERS=""): the user's classes and programs folder only, nothing under HKLM; and
#    removed again without a trace;
# 5. with the other bitness's package installed (if it was built), 1 and 3 leave its
#    registration as it was;
# 6. redist/Wendrix.wxs builds into a vendor's package with the same registry rows.
# Needs the services scripts/test starts: the Wine prefix and PulseAudio with the test tone.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../scripts/common.sh"

(($# == 3)) || wendrix_die "usage: check-msi.sh BUILD_DIR REGSVR32.txt OCX"
build="$(cd "$1" && pwd)" regsvr32_list=$2 regsvr32_ocx=$3
name="$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")"
msi="$build/$name.msi"
[[ -f $msi ]] || wendrix_die "$msi is missing: build the target 'msi' first"
version="${name#Wendrix-}" && version="${version%-win*}"
arch="${name##*-}"
case $arch in
  win32) bits=32 programs='Program Files (x86)' other=win64 ;;
  win64) bits=64 programs='Program Files' other=win32 ;;
esac
progid='Wendrix.DSWendrixControl'
work="$build/msi-check"
rm -rf "$work"
mkdir -p "$work"
windows_path() { echo "Z:${1//\//\\}"; }
wendrix_wine_prefix
drive="$WINEPREFIX/drive_c"
machine_dir="$drive/$programs/Wendrix"
user_dir="$(echo "$drive"/users/*/AppData/Local)/Programs/Wendrix ($bits-bit)"

msiexec() { wine msiexec "$@" </dev/null; }
capture() { wine "$build/registry_capture.exe" "$@"; }
# Lists our keys under ROOT (HKLM or HKCU) into FILE.
dump() {
  local -a keys
  mapfile -t keys < <(python3 "$here/check_registration.py" keys "$build/include/Wendrix.h" \
    "$2\\Software\\Classes" "$build/msi/registration.txt")
  capture dump "$(windows_path "$1")" "${keys[@]}"
}
# Our keys under HKLM, but for the other bitness's own entry in the shared type library key.
machine_dump() {
  dump "$1" HKLM
  sed -i "/\\\\$other"$'\t'"/d" "$1"
}
# The Apps & features entries of this bitness's package: "name|version|publisher" per line.
entries() {
  for view in 32 64; do
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s "/reg:$view" 2>/dev/null
  done | tr -d '\r' | awk -v want="Wendrix .* \\\\($bits-bit\\\\)" '
      /^HKEY/ { if (n != "") print n "|" v "|" p; n = v = p = "" }
      $1 == "DisplayName" { sub(/^ *DisplayName *REG_SZ */, ""); if ($0 ~ want) n = $0 }
      $1 == "DisplayVersion" { sub(/^ *DisplayVersion *REG_SZ */, ""); v = $0 }
      $1 == "Publisher" { sub(/^ *Publisher *REG_SZ */, ""); p = $0 }
      END { if (n != "") print n "|" v "|" p }' | sort -u
}
# The Windows path of a file under the prefix's drive C:.
c_path() { local p="${1#"$drive"}"; echo "C:${p//\//\\}"; }
# Whether nothing of ours is left: no folder, no key under HKLM or HKCU, no ProgID.
assert_gone() {
  [[ ! -e $machine_dir && ! -e $user_dir ]] || wendrix_die "$1: the installation folder is left"
  dump "$work/left-machine.txt" HKLM
  dump "$work/left-user.txt" HKCU
  if [[ -s $work/left-machine.txt || -s $work/left-user.txt ]]; then
    cat "$work/left-machine.txt" "$work/left-user.txt"
    wendrix_die "$1: keys of ours are left"
  fi
  ! capture create "$progid" 2>/dev/null || wendrix_die "$1: the ProgID still creates the control"
  [[ -z "$(entries)" ]] || wendrix_die "$1: Apps & features still lists it"
}

assert_gone "before the installer"
# The other bitness's package, when it was built, stays installed through this check.
other_msi="$(ls "$build/../$other"/Wendrix-*-"$other".msi 2>/dev/null | head -n 1 || true)"
other_capture="$build/../$other/registry_capture.exe"
if [[ -n $other_msi && -f $other_capture ]]; then
  msiexec /i "$(windows_path "$other_msi")" /qn || wendrix_die "$other_msi: not installed"
  trap 'msiexec /x "$(windows_path "$other_msi")" /qn || true' EXIT
  other_keys() {
    mapfile -t keys < <(python3 "$here/check_registration.py" keys "$build/include/Wendrix.h" \
      'HKLM\Software\Classes' "$build/../$other/msi/registration.txt")
    wine "$other_capture" dump "$(windows_path "$1")" "${keys[@]}"
  }
  other_keys "$work/other-before.txt"
  wendrix_log "$name: the $other package is installed beside it"
fi

wendrix_log "$name: msiexec /i $name.msi /qn (per machine)"
msiexec /i "$(windows_path "$msi")" /qn || wendrix_die "msiexec /i failed"
remove_other() { [[ -z $other_msi ]] || msiexec /x "$(windows_path "$other_msi")" /qn || true; }
trap 'msiexec /x "$(windows_path "$msi")" /qn || true; remove_other' EXIT
for file in Wendrix.ocx docs/README.html redist/Wendrix.wxs include/Wendrix.h LICENSE.txt \
  samples/cpp/record.cpp; do
  [[ -f $machine_dir/$file ]] || wendrix_die "the per-machine installation lacks $file"
done
got="$(entries)"
[[ $got == "Wendrix $version ($bits-bit)|$version|Wendrix" ]] ||
  wendrix_die "Apps & features lists '$got'"
capture create "$progid" || wendrix_die "the installed control is not created by its ProgID"
(cd "$work" && wine "$machine_dir/samples/cpp/wendrix-record.exe" take.wav --seconds 2 --expect-signal)
python3 - "$work/take.wav" <<'EOF'
import sys, wave
with wave.open(sys.argv[1]) as w:
    assert (w.getnchannels(), w.getsampwidth(), w.getframerate()) == (2, 2, 44100)
    assert w.getnframes() > 0
EOF
machine_dump "$work/msi.txt"
python3 "$here/check_registration.py" compare "$regsvr32_list" "$regsvr32_ocx" \
  "$work/msi.txt" "$(c_path "$machine_dir/Wendrix.ocx")" ||
  wendrix_die "the installer's registration is not regsvr32's"
wendrix_log "$name: installed per machine, a take recorded;" \
  "$(wc -l <"$work/msi.txt") registry lines as regsvr32 writes them"

# A major upgrade: the same files with a higher version and a marked INSTALL.txt.
IFS=. read -r major minor patch <<<"$version"
newer="$major.$minor.$((patch + 1))"
cp -r "$build/msi" "$work/upgrade"
printf 'upgrade %s\r\n' "$newer" >>"$work/upgrade/stage/INSTALL.txt"
"$here/make-msi.sh" "$arch" "$newer" "$work/upgrade" "$work/Wendrix-$newer-$arch.msi"
msiexec /i "$(windows_path "$work/Wendrix-$newer-$arch.msi")" /qn || wendrix_die "the upgrade failed"
got="$(entries)"
[[ $got == "Wendrix $newer ($bits-bit)|$newer|Wendrix" ]] ||
  wendrix_die "after the upgrade Apps & features lists '$got'"
grep -q "upgrade $newer" "$machine_dir/INSTALL.txt" || wendrix_die "the upgrade left the older files"
machine_dump "$work/upgraded.txt"
cmp -s "$work/msi.txt" "$work/upgraded.txt" || wendrix_die "the upgrade changed the registration"
wendrix_log "$name: $version upgraded to $newer: one entry, the newer files, the same registration"

msiexec /x "$(windows_path "$work/Wendrix-$newer-$arch.msi")" /qn || wendrix_die "msiexec /x failed"
trap remove_other EXIT
if [[ -n $other_msi && -f $other_capture ]]; then
  [[ ! -e $machine_dir ]] || wendrix_die "msiexec /x left $machine_dir"
  # HELPDIR and the event source's message file are one value for both bitnesses: the folder
  # or the module of the last one installed.
  other_keys "$work/other-after.txt"
  if ! diff <(grep -v -e HELPDIR -e EventMessageFile "$work/other-before.txt") \
    <(grep -v -e HELPDIR -e EventMessageFile "$work/other-after.txt"); then
    wendrix_die "installing and removing $name changed the $other registration"
  fi
  wine "$other_capture" create "$progid" || wendrix_die "the $other control is no longer created"
  msiexec /x "$(windows_path "$other_msi")" /qn || wendrix_die "$other_msi: not removed"
  trap - EXIT
  wendrix_log "$name: removed; the $other installation beside it was left as it was"
fi
assert_gone "after msiexec /x"
wendrix_log "$name: removed: no file, no key, no ProgID"

# The vendors' fragment builds (with wixl, which knows no component conditions) into a package
# with the registry rows of ours.
vendor="$work/vendor"
mkdir -p "$vendor"
cat >"$vendor/product.wxs" <<'EOF'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="A vendor's product" Language="1033" Version="1.0.0" Manufacturer="Vendor"
           UpgradeCode="0F5C2B7E-1D3A-4C8B-9E6F-A1B2C3D4E5F6">
    <Package InstallerVersion="500" Compressed="yes"/>
    <Media Id="1" Cabinet="vendor.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="CommonFilesFolder"><Directory Id="WENDRIXDIR" Name="Wendrix"/></Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentGroupRef Id="Wendrix"/></Feature>
  </Product>
</Wix>
EOF
sed '/<Condition>/d' "$build/redist/Wendrix.wxs" >"$vendor/Wendrix.wxs"
(cd "$build/msi" && wixl -a "$([[ $arch == win64 ]] && echo x64 || echo x86)" \
  -D WendrixSource=stage -o "$vendor/vendor.msi" "$vendor/product.wxs" "$vendor/Wendrix.wxs")
registry_rows() { msiinfo export "$1" Registry | tail -n +4 | cut -f3,4 | LC_ALL=C sort; }
diff <(registry_rows "$vendor/vendor.msi") <(registry_rows "$msi") ||
  wendrix_die "redist/Wendrix.wxs holds other registry rows than the installer"
wendrix_log "$name: redist/Wendrix.wxs builds into a vendor's package with the same registry rows"

# Per user: Windows Installer's per-user context of the same package.
wendrix_log "$name: msiexec /i $name.msi ALLUSERS=\"\" /qn (per user)"
msiexec /i "$(windows_path "$msi")" ALLUSERS="" /qn || wendrix_die "the per-user install failed"
trap 'msiexec /x "$(windows_path "$msi")" ALLUSERS="" /qn || true' EXIT
[[ -f $user_dir/Wendrix.ocx && ! -e $machine_dir ]] ||
  wendrix_die "the per-user files are not in $user_dir"
dump "$work/user-machine.txt" HKLM
[[ ! -s $work/user-machine.txt ]] ||
  wendrix_die "the per-user install wrote HKLM: $(head -n 3 "$work/user-machine.txt")"
dump "$work/user.txt" HKCU
sed -i 's/^HKCU\\/HKLM\\/' "$work/user.txt"
# Only the classes: the keys outside them (the event source) belong to a machine-wide
# registration alone.
grep -i '^HKLM\\Software\\Classes\\' "$regsvr32_list" >"$work/regsvr32-classes.txt"
python3 "$here/check_registration.py" compare "$work/regsvr32-classes.txt" "$regsvr32_ocx" \
  "$work/user.txt" "$(c_path "$user_dir/Wendrix.ocx")" ||
  wendrix_die "the per-user registration is not regsvr32's in the user's classes"
# (Wine's HKEY_CLASSES_ROOT shows HKLM\Software\Classes only, not the user's classes, so the
# control cannot be created from a per-user registration here; on Windows it can.)
msiexec /x "$(windows_path "$msi")" ALLUSERS="" /qn || wendrix_die "the per-user removal failed"
trap - EXIT
assert_gone "after the per-user removal"
wendrix_log "$name: installed and removed for the user alone, nothing under HKLM"
