#!/usr/bin/env bash
# Checks the installer of one build under Wine's msiexec, silently, as an administrator and a
# user would run it:
#   packaging/check-msi.sh BUILD_DIR REGSVR32.txt OCX
# (run by check-package.sh with what `regsvr32 OCX` wrote, listed by registry_capture's dump)
# 1. per machine: msiexec /i … /qn installs into Program Files, Wendrix.ocx into the shared
#    folder of its bitness under Common Files; the control is created by its ProgID and the
#    installed C++ sample records the test tone; Apps & features lists it once with version and
#    publisher; the registry under our class, ProgID, type library, interfaces and event source
#    is what regsvr32 writes (the module's path aside); the ICE rules of check_ice.py hold for
#    it, the other bitness's package and a vendor's package built from redist/Wendrix.wxs as it
#    ships, together;
# 2. a package of a higher version installed over it replaces it: one entry, the newer files,
#    the same registration;
# 3. msiexec /x … /qn leaves no file and no key of ours, and the ProgID no longer resolves;
# 4. with the other bitness's package installed (if it was built), 1 and 3 leave its
#    registration as it was;
# 5. our package and the vendor's, installed in either order and removed in either order: after
#    the first removal the control is still created and records through the other product;
#    after the second nothing is left;
# 6. per user (ALLUSERS=""), in the default folder and in a WENDRIXDIR given: the user's classes
#    and that folder only, nothing under HKLM; and removed again without a trace.
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
  win32) bits=32 programs='Program Files (x86)' other=win64 wixl_arch=x86 ;;
  win64) bits=64 programs='Program Files' other=win32 wixl_arch=x64 ;;
esac
progid='Wendrix.DSWendrixControl'
work="$build/msi-check"
rm -rf "$work"
mkdir -p "$work"
windows_path() { echo "Z:${1//\//\\}"; }
wendrix_wine_prefix
drive="$WINEPREFIX/drive_c"
machine_dir="$drive/$programs/Wendrix"
# Wendrix.ocx's shared folders, this bitness's and the other's (the prefix is a 64-bit one).
shared_dir="$drive/$programs/Common Files/Wendrix"
shared_dirs=("$drive/Program Files/Common Files/Wendrix" "$drive/Program Files (x86)/Common Files/Wendrix")
local_dir="$(echo "$drive"/users/*/AppData/Local)"
user_dir="$local_dir/Programs/Wendrix ($bits-bit)"
user_shared="$local_dir/Programs/Common/Wendrix ($bits-bit)"
chosen_dir="$(dirname "$(dirname "$local_dir")")/Wendrix chosen"

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
  for dir in "$machine_dir" "$user_dir" "$chosen_dir" "$user_shared" "${shared_dirs[@]}"; do
    [[ ! -e $dir ]] || wendrix_die "$1: $dir is left"
  done
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
for file in docs/README.html redist/Wendrix.wxs include/Wendrix.h LICENSE.txt \
  samples/cpp/record.cpp; do
  [[ -f $machine_dir/$file ]] || wendrix_die "the per-machine installation lacks $file"
done
[[ -f $shared_dir/Wendrix.ocx && ! -e $machine_dir/Wendrix.ocx ]] ||
  wendrix_die "Wendrix.ocx is not in $shared_dir alone"
got="$(entries)"
[[ $got == "Wendrix $version ($bits-bit)|$version|Wendrix" ]] ||
  wendrix_die "Apps & features lists '$got'"
# The registered control is created by its ProgID, and the C++ sample (a copy with no
# Wendrix.ocx beside it) records a take that an independent reader accepts.
mkdir -p "$work/recorder"
cp "$machine_dir/samples/cpp/wendrix-record.exe" "$work/recorder/"
records() {
  capture create "$progid" || wendrix_die "$1: the control is not created by its ProgID"
  rm -f "$work/recorder/take.wav"
  (cd "$work/recorder" && wine wendrix-record.exe take.wav --seconds 2 --expect-signal) ||
    wendrix_die "$1: the sample recorded nothing"
  python3 - "$work/recorder/take.wav" <<'EOF'
import sys, wave
with wave.open(sys.argv[1]) as w:
    assert (w.getnchannels(), w.getsampwidth(), w.getframerate()) == (2, 2, 44100)
    assert w.getnframes() > 0
EOF
}
records "installed per machine"
machine_dump "$work/msi.txt"
python3 "$here/check_registration.py" compare "$regsvr32_list" "$regsvr32_ocx" \
  "$work/msi.txt" "$(c_path "$shared_dir/Wendrix.ocx")" ||
  wendrix_die "the installer's registration is not regsvr32's"
wendrix_log "$name: installed per machine, a take recorded;" \
  "$(wc -l <"$work/msi.txt") registry lines as regsvr32 writes them"

# A vendor's package built from redist/Wendrix.wxs as it ships, per machine, with the registry
# rows of ours; the ICE rules hold for it, ours and the other bitness's, together.
vendor="$work/vendor"
mkdir -p "$vendor"
cat >"$vendor/product.wxs" <<'EOF'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="A vendor's product" Language="1033" Version="1.0.0" Manufacturer="Vendor"
           UpgradeCode="0F5C2B7E-1D3A-4C8B-9E6F-A1B2C3D4E5F6">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="vendor.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir"/>
    <Feature Id="Main" Level="1"><ComponentGroupRef Id="Wendrix"/></Feature>
  </Product>
</Wix>
EOF
(cd "$build/msi" && wixl -a "$wixl_arch" -D WendrixSource=stage -o "$vendor/vendor.msi" \
  "$vendor/product.wxs" "$build/redist/Wendrix.wxs")
# (What WiX's light writes and wixl does not: HKMU as root -1, the file version.)
while IFS= read -r statement; do
  msibuild "$vendor/vendor.msi" -q "$statement"
done < <(echo "UPDATE Registry SET Root=-1 WHERE Root=4"
  python3 "$here/msi_file_versions.py" "$vendor/vendor.msi" "$build/msi/stage")
vendor_msi="$(windows_path "$vendor/vendor.msi")"
# (Ours also remembers its installation folder, under Software\Wendrix\Installer.)
registry_rows() { msiinfo export "$1" Registry | tail -n +4 | cut -f3,4 | grep -v '^Software\\Wendrix\\' | LC_ALL=C sort; }
diff <(registry_rows "$vendor/vendor.msi") <(registry_rows "$msi") ||
  wendrix_die "redist/Wendrix.wxs holds other registry rows than the installer"
python3 "$here/check_ice.py" "$msi" "$vendor/vendor.msi" ${other_msi:+"$other_msi"} ||
  wendrix_die "the installers break a rule of Windows Installer's validation"
wendrix_log "$name: redist/Wendrix.wxs builds as it ships; the ICE rules hold for both packages"

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
  # HELPDIR is one value for both bitnesses: the folder of the last one installed.
  other_keys "$work/other-after.txt"
  if ! diff <(grep -v HELPDIR "$work/other-before.txt") <(grep -v HELPDIR "$work/other-after.txt"); then
    wendrix_die "installing and removing $name changed the $other registration"
  fi
  wine "$other_capture" create "$progid" || wendrix_die "the $other control is no longer created"
  msiexec /x "$(windows_path "$other_msi")" /qn || wendrix_die "$other_msi: not removed"
  trap - EXIT
  wendrix_log "$name: removed; the $other installation beside it was left as it was"
fi
assert_gone "after msiexec /x"
wendrix_log "$name: removed: no file, no key, no ProgID"

# Our package and the vendor's share Wendrix.ocx and its registration: installed in either
# order, removed in either order, the control keeps working through the product left, and the
# last removal leaves nothing. (FIRST SECOND REMOVED-FIRST; w: ours, v: the vendor's.)
wendrix_msi="$(windows_path "$msi")"
package() { [[ $1 == w ]] && echo "$wendrix_msi" || echo "$vendor_msi"; }
for row in "w v w" "w v v" "v w w" "v w v"; do
  read -r first second gone <<<"$row"
  trap 'msiexec /x "$wendrix_msi" /qn; msiexec /x "$vendor_msi" /qn' EXIT
  msiexec /i "$(package "$first")" /qn || wendrix_die "$row: the first install failed"
  msiexec /i "$(package "$second")" /qn || wendrix_die "$row: the second install failed"
  msiexec /x "$(package "$gone")" /qn || wendrix_die "$row: the first removal failed"
  [[ -f $shared_dir/Wendrix.ocx ]] || wendrix_die "$row: the first removal took Wendrix.ocx"
  records "$row, one product removed"
  msiexec /x "$(package "$([[ $gone == w ]] && echo v || echo w)")" /qn ||
    wendrix_die "$row: the second removal failed"
  trap - EXIT
  assert_gone "$row, both removed"
done
wendrix_log "$name: with a vendor's product, in either order: each removal leaves the other working"

# Per user: Windows Installer's per-user context of the same package, in its own folder and in
# one given as WENDRIXDIR.
for chosen in "" "$(c_path "$chosen_dir")\\"; do
  files_dir=$([[ -n $chosen ]] && echo "$chosen_dir" || echo "$user_dir")
  wendrix_log "$name: msiexec /i $name.msi ALLUSERS=\"\" WENDRIXDIR=\"$chosen\" /qn (per user)"
  # (Wine's msiexec takes the next property for the value of an empty ALLUSERS= : it goes last.)
  options=(${chosen:+WENDRIXDIR="$chosen"} ALLUSERS="")
  msiexec /i "$(windows_path "$msi")" "${options[@]}" /qn || wendrix_die "the per-user install failed"
  trap 'msiexec /x "$(windows_path "$msi")" ALLUSERS="" /qn || true' EXIT
  [[ -f $files_dir/docs/README.html && -f $user_shared/Wendrix.ocx && ! -e $machine_dir ]] ||
    wendrix_die "the per-user files are not in $files_dir and $user_shared"
  dump "$work/user-machine.txt" HKLM
  [[ ! -s $work/user-machine.txt ]] ||
    wendrix_die "the per-user install wrote HKLM: $(head -n 3 "$work/user-machine.txt")"
  dump "$work/user.txt" HKCU
  # Only the classes: a per-user installation cannot write HKLM, and puts the event source in
  # HKCU, where nothing reads it.
  grep -i '^HKCU\\Software\\Classes\\' "$work/user.txt" | sed 's/^HKCU\\/HKLM\\/' >"$work/user-classes.txt"
  grep -i '^HKLM\\Software\\Classes\\' "$regsvr32_list" >"$work/regsvr32-classes.txt"
  python3 "$here/check_registration.py" compare "$work/regsvr32-classes.txt" "$regsvr32_ocx" \
    "$work/user-classes.txt" "$(c_path "$user_shared/Wendrix.ocx")" ||
    wendrix_die "the per-user registration is not regsvr32's in the user's classes"
  # (Wine's HKEY_CLASSES_ROOT shows HKLM\Software\Classes only, not the user's classes, so the
  # control cannot be created from a per-user registration here; on Windows it can.)
  msiexec /x "$(windows_path "$msi")" ALLUSERS="" /qn || wendrix_die "the per-user removal failed"
  trap - EXIT
  assert_gone "after the per-user removal"
  wendrix_log "$name: installed into $files_dir and removed for the user alone, nothing under HKLM"
done
