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
# - the property-setting actions before costing come out deferred (type 2099); they must run
#   immediately (51);
# - an expandable value (Type="expandable") comes out without its #% prefix: registration.sql
#   (make_wxs.py) sets those values again with it;
# - the File table has no versions: msi_file_versions.py gives Wendrix.ocx (and any versioned
#   program) its file version, so that Windows Installer's version rules decide which copy of
#   the shared Wendrix.ocx stays;
# - wixl writes no MsiLockPermissionsEx table: a per-machine installation gives the installation
#   folder the permissions of Program Files (administrators and SYSTEM may change it, users read
#   and run), not inherited from a parent users may write to (a second volume's root, say);
# - with a certificate configured (WENDRIX_SIGN_PFX, see scripts/sign), the finished package is
#   Authenticode-signed, last, since any later change would break the signature.
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
  -q "UPDATE CustomAction SET Type=51 WHERE Type=2099"
while IFS= read -r statement; do
  msibuild "$out" -q "$statement"
done < <(cat registration.sql 2>/dev/null || true; python3 "$here/msi_file_versions.py" "$out" stage)
# Program Files' own permissions, protected from inheritance: full control for SYSTEM and the
# administrators, read and run for users, and full control of what an owner creates below.
msibuild "$out" -q "CREATE TABLE \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\` CHAR(72) NOT NULL, \
\`LockObject\` CHAR(72) NOT NULL, \`Table\` CHAR(32) NOT NULL, \`SDDLText\` LONGCHAR NOT NULL, \
\`Condition\` CHAR(255) PRIMARY KEY \`MsiLockPermissionsEx\`)" \
  -q "INSERT INTO \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\`, \`LockObject\`, \`Table\`, \
\`SDDLText\`, \`Condition\`) VALUES ('WendrixDirLock', 'WENDRIXDIR', 'CreateFolder', \
'D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICIIO;GA;;;CO)', 'ALLUSERS')"
# What the mending is for must hold: no root wixl invented, the actions immediate.
if msiinfo export "$out" Registry | awk -F'\t' 'NR > 3 && $2 !~ /^(-1|0|1|2|3)$/' | grep -q .; then
  echo "make-msi.sh: a registry root Windows Installer does not know" >&2; exit 1
fi
[[ "$(msiinfo export "$out" CustomAction | tail -n +4 | cut -f2 | sort -u)" == 51 ]] ||
  { echo "make-msi.sh: a property-setting action is not immediate" >&2; exit 1; }
if [[ -n ${WENDRIX_SIGN_PFX:-} ]]; then
  "$here/../scripts/sign" "$out"
fi
