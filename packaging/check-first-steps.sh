#!/usr/bin/env bash
# The guide's first steps, done as a reader would do them, word for word from the pages in the
# zip: unpack the zip where docs/README.md ("In five minutes") says, register the Wendrix.ocx
# with that page's regsvr32 line for this bitness (with /s added: a box would wait for a click),
# then run the script quick start of docs/hosts.md with the script host of the same bitness.
#   packaging/check-first-steps.sh ZIP LOADER SYSTEM_DIR
# (check-package.sh calls it with the Wine loader and system folder of the zip's bitness.)
# Unregisters and removes everything it made, also on failure. Needs the test services.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/../scripts/common.sh"

(($# == 3)) || wendrix_die "usage: check-first-steps.sh ZIP LOADER SYSTEM_DIR"
zip="$1" loader="$2" system="$3"
name="$(basename "$zip" .zip)"
wendrix_wine_prefix
work="$(mktemp -d)"
readme="$work/README.md"
python3 -m zipfile -e "$zip" "$work/zip"
tr -d '\r' <"$work/zip/$name/docs/README.md" >"$readme"
tr -d '\r' <"$work/zip/$name/docs/hosts.md" >"$work/hosts.md"

# Step 1: "unpacking `<zip>` into `<folder>`"; step 2: the regsvr32 line naming that folder.
read -r folder command < <(python3 - "$readme" "$(basename "$zip")" <<'EOF'
import re, sys
page, zip_name = open(sys.argv[1], encoding="utf-8").read(), sys.argv[2]
steps = page.split("## In five minutes", 1)[-1]
text = re.sub(r"\s+", " ", steps)
found = dict(re.findall(r"[Uu]npacking `([^`]+\.zip)` into `([^`]+)`", text))
if zip_name not in found:
    sys.exit(f"docs/README.md: the first steps do not say where {zip_name} is unpacked")
folder = found[zip_name]
lines = [c for c in re.findall(r"`([^`]*regsvr32\.exe \"[^\"]+\")`", text)
         if c.split('"')[1].startswith(folder + "\\")]
if len(lines) != 1:
    sys.exit(f"docs/README.md: {len(lines)} regsvr32 lines for a file in {folder}, not 1")
print(folder.replace(" ", "\x1f"), lines[0])
EOF
)
folder="${folder//$'\x1f'/ }"
exe="${command%% \"*}"
ocx="${command#* \"}"
ocx="${ocx%\"}"
unix_folder="$(winepath -u "$folder" 2>/dev/null)"
[[ -n $unix_folder ]] || wendrix_die "$folder: no such folder in the Wine prefix"
mkdir -p "$unix_folder"
[[ ! -e $unix_folder/$name ]] || wendrix_die "$unix_folder/$name exists before the check"
temp_unix="$(winepath -u "$("$loader" "$system\\cmd.exe" /c echo %TEMP% | tr -d '\r')")"
take="$temp_unix/take.wav"
cleanup() {
  "$loader" "$exe" /u /s "$ocx" >/dev/null 2>&1 || true
  rm -rf "$unix_folder/$name" "$work" "$take"
}
trap cleanup EXIT

wendrix_log "$name: unpacked into $folder as the guide says"
python3 -m zipfile -e "$zip" "$unix_folder"
wendrix_log "$name: $command"
"$loader" "$exe" /s "$ocx" || wendrix_die "the guide's regsvr32 line failed: $command"
registered="$("$loader" "$system\\reg.exe" query \
  'HKCR\CLSID\{FEC0C325-2038-45EE-8086-8B087DB56CA3}\InprocServer32' /ve 2>/dev/null |
  tr -d '\r' | sed -n 's/.*REG_SZ *//p')"
[[ ${registered,,} == "${ocx,,}" ]] || wendrix_die "registered '$registered', not $ocx"

# The script of "VBScript and JScript" in docs/hosts.md, as a reader saves it.
python3 - "$work/hosts.md" "$work/quickstart.vbs" <<'EOF'
import re, sys
page = open(sys.argv[1], encoding="utf-8").read()
section = page.split("## VBScript and JScript", 1)[-1]
block = re.search(r"```vb\n(.*?)```", section, re.S)
if not block:
    sys.exit("docs/hosts.md: no script under \"VBScript and JScript\"")
open(sys.argv[2], "w", encoding="utf-8", newline="\r\n").write(block.group(1))
EOF
rm -f "$take"
wendrix_log "$name: the script quick start of docs/hosts.md"
output="$(cd "$work" && "$loader" "$system\\cscript.exe" //nologo quickstart.vbs 2>&1)" || true
printf '%s\n' "$output"
# Wine's script host has no WScript.Sleep: the script ends there, and the control, released with
# the script, finishes the take it started. The take must be a WAVE file of the default format.
python3 - "$take" <<'EOF' || wendrix_die "the script quick start made no valid take.wav in %TEMP%"
import sys, wave
with wave.open(sys.argv[1]) as w:
    assert (w.getnchannels(), w.getsampwidth(), w.getframerate()) == (2, 2, 44100)
EOF
wendrix_log "$name: the guide's first steps work as written"
