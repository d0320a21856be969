#!/usr/bin/env bash
# Builds the installer of one bitness with Debian's wixl:
#   packaging/make-msi.sh win32|win64 VERSION WORK_DIR OUT.msi
# WORK_DIR holds stage/ (the release zip's files, Wendrix.ocx among them) and registration.wxs
# (make_wxs.py: Wendrix.ocx and its registry, from the control's own registration). Every other
# file of stage/ becomes a component of its own (wixl-heat). msi.cmake runs it; the package check
# runs it again with a higher version to try a major upgrade.
#
# wixl writes some things differently from what Windows Installer reads, so the finished database
# is mended with msibuild:
# - Root="HKMU" comes out as root 4, which Windows Installer does not know: it is -1 (HKLM for a
#   per-machine installation, HKCU for a per-user one);
# - the property-setting action before costing comes out deferred (type 2099); it must run
#   immediately (51);
# - an expandable value (Type="expandable") comes out without its #% prefix: registration.sql
#   (make_wxs.py) sets those values again with it;
# - wixl knows no component conditions: the keys outside the classes (WendrixMachine, if the
#   registration writes any) are for a per-machine installation only.
set -euo pipefail
(($# == 4)) || { echo "usage: make-msi.sh win32|win64 VERSION WORK_DIR OUT.msi" >&2; exit 2; }
arch=$1 version=$2 work=$3 out=$4
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
case $arch in
  win64) wixl_arch=x64 win64=yes ;;
  win32) wixl_arch=x86 win64=no ;;
  *) echo "make-msi.sh: $arch is neither win32 nor win64" >&2; exit 2 ;;
esac
out="$(realpath -m "$out")"
cd "$work"
[[ -f stage/Wendrix.ocx && -f registration.wxs ]] || {
  echo "make-msi.sh: $work lacks stage/Wendrix.ocx or registration.wxs" >&2; exit 1; }

(cd stage && find . -type f ! -path ./Wendrix.ocx | sed 's|^\./|stage/|' | LC_ALL=C sort) |
  wixl-heat -p stage/ --component-group Files --var var.StageDir --directory-ref WENDRIXDIR \
    --win64 >files.wxs
rm -f "$out"
wixl -a "$wixl_arch" -D Version="$version" -D Arch="$arch" -D Win64="$win64" -D StageDir=stage \
  -D WendrixSource=stage -o "$out" "$here/Wendrix.msi.wxs" registration.wxs files.wxs
msibuild "$out" -q "UPDATE Registry SET Root=-1 WHERE Root=4" \
  -q "UPDATE CustomAction SET Type=51 WHERE Action='PerUserFolder'"
while IFS= read -r statement; do
  msibuild "$out" -q "$statement"
done < <(cat registration.sql 2>/dev/null || true)
if grep -q 'Id="WendrixMachine"' registration.wxs; then
  msibuild "$out" -q "UPDATE Component SET Condition='ALLUSERS=1' WHERE Component='WendrixMachine'"
fi
# What the mending is for must hold: no root wixl invented, the action immediate.
if msiinfo export "$out" Registry | awk -F'\t' 'NR > 3 && $2 !~ /^(-1|0|1|2|3)$/' | grep -q .; then
  echo "make-msi.sh: a registry root Windows Installer does not know" >&2; exit 1
fi
msiinfo export "$out" CustomAction | grep -q $'^PerUserFolder\t51\t' ||
  { echo "make-msi.sh: the per-user folder action is not immediate" >&2; exit 1; }
