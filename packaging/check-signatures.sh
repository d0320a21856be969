#!/usr/bin/env bash
# Checks that the release zip and the installer of one build carry Authenticode signatures that
# verify against the certificate given (the one scripts/sign signed with): the installer itself
# and every program shipped in either (Wendrix.ocx, wendrix-host.exe, the C++ sample's
# recorder):
#   packaging/check-signatures.sh build/win64 CERT.pem
# osslsigncode verify recomputes each file's hash and checks the signature and its chain.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../scripts/common.sh"

(($# == 2)) || wendrix_die "usage: check-signatures.sh BUILD_DIR CERT.pem"
build="$(cd "$1" && pwd)" cert=$2
name="$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")"
zip="$build/$name.zip" msi="$build/$name.msi"
[[ -f $zip ]] || wendrix_die "$zip is missing: build the target 'package' first"
[[ -f $msi ]] || wendrix_die "$msi is missing: build the target 'msi' first"
out="$build/signature-check"
rm -rf "$out"
mkdir -p "$out/zip" "$out/msi"
programs=(Wendrix.ocx wendrix-host.exe samples/cpp/wendrix-record.exe)
python3 - "$zip" "$name" "$out/zip" "${programs[@]}" <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    for program in sys.argv[4:]:
        with open(os.path.join(sys.argv[3], os.path.basename(program)), "wb") as f:
            f.write(z.read(f"{sys.argv[2]}/{program}"))
PY
msiextract -C "$out/msi" "$msi" >/dev/null
verify() {
  osslsigncode verify -CAfile "$cert" -in "$1" >"$out/verify.log" 2>&1 || {
    cat "$out/verify.log" >&2
    wendrix_die "$2: no valid signature"
  }
  wendrix_log "$2: signature verified"
}
verify "$msi" "$name.msi"
for program in "${programs[@]}"; do
  verify "$out/zip/${program##*/}" "$name.zip: $program"
  found="$(find "$out/msi" -type f -name "${program##*/}")"
  [[ $(wc -l <<<"$found") == 1 && -n $found ]] || wendrix_die "$name.msi holds no one ${program##*/}"
  verify "$found" "$name.msi: ${program##*/}"
done
