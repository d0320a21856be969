#!/usr/bin/env bash
# Checks that the release zip of one build carries Authenticode signatures on its OCX and host
# program that verify against the certificate given (the one scripts/sign signed with):
#   packaging/check-signatures.sh build/win64 CERT.pem
# osslsigncode verify recomputes each file's hash and checks the signature and its chain.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../scripts/common.sh"

(($# == 2)) || wendrix_die "usage: check-signatures.sh BUILD_DIR CERT.pem"
build="$(cd "$1" && pwd)" cert=$2
name="$(sed -n 's/^set(CPACK_PACKAGE_FILE_NAME "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")"
zip="$build/$name.zip"
[[ -f $zip ]] || wendrix_die "$zip is missing: build the target 'package' first"
out="$build/signature-check"
rm -rf "$out"
mkdir -p "$out"
for module in Wendrix.ocx wendrix-host.exe; do
  python3 - "$zip" "$name/$module" "$out/$module" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z, open(sys.argv[3], "wb") as f:
    f.write(z.read(sys.argv[2]))
PY
  osslsigncode verify -CAfile "$cert" -in "$out/$module" >"$out/$module.log" 2>&1 || {
    cat "$out/$module.log" >&2
    wendrix_die "$name/$module: no valid signature"
  }
  wendrix_log "$name/$module: signature verified"
done
