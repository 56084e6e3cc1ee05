#!/usr/bin/env bash
# aze info of a Windows program made by aze sfx --windows --license: its kind, its licence (the
# SETUP_LICENSE resource, read back by python3-pefile as an independent reader) and the
# version strings the resource compiler wrote into the stub, as text and as JSON.
# usage: info_windows.sh AZE STUB
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
stub=$2
python=/usr/bin/python3
if [ -z "$stub" ] || [ ! -f "$stub" ]; then
  echo "skipped: no Windows test stub (x86_64-w64-mingw32-gcc and -windres were not found)"
  exit 77
fi
stub=$(readlink -f "$stub")
cd "$work"
make_sample_archives "$aze"
printf 'Die Lizenz f\xc3\xbcr alle.\n' >terms.txt

expect_status 0 "aze sfx --windows --license" -- \
  "$aze" sfx --stub "$stub" --license terms.txt -o setup.exe plain.aze
expect_status 0 "aze info of the Windows program" -- "$aze" info setup.exe
text=$(printf '%s' "$out" | tr '\n' '^')
expect_match "its kind" "$text" "kind: Windows program\\^"
expect_match "its counts" "$text" "folders: 4\\^files: 5 \\(93,915 bytes\\)"
expect_match "its licence" "$text" "licence: $(stat -c %s terms.txt) bytes"
expect_match "its version strings" "$text" \
  "version CompanyName: Acme Software\\^version ProductName: Acme Tool \"Pro\"\\^version FileVersion: 1.2.3.4\\^version Comments: \\^?"
expect_status 0 "aze info --json of the Windows program" -- "$aze" info --json setup.exe
checks=$((checks + 1))
printf '%s' "$out" | "$python" -c '
import json, sys
info = json.load(sys.stdin)
want = {"CompanyName": "Acme Software", "ProductName": "Acme Tool \"Pro\"", "FileVersion": "1.2.3.4",
        "Comments": ""}
if info["versionInfo"] != want or info["kind"] != "Windows program" or info["licenseBytes"] != int(sys.argv[1]):
    sys.exit(f"got {info}")
' "$(stat -c %s terms.txt)" || fail "aze info --json of the Windows program: $out"
# The licence is a resource of its own, neutral, beside the archive.
if "$python" -c 'import pefile' 2>/dev/null; then
  checks=$((checks + 1))
  "$python" - setup.exe terms.txt <<'PY' || fail "pefile does not find the licence resource"
import sys
import pefile
pe = pefile.PE(sys.argv[1])
want = open(sys.argv[2], "rb").read()
for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    if t.name is not None and str(t.name) == "SETUP_LICENSE":
        entry = t.directory.entries[0]
        language = entry.directory.entries[0]
        data = language.data.struct
        got = pe.get_data(data.OffsetToData, data.Size)
        sys.exit(0 if entry.id == 131 and language.id == 0 and got == want else 1)
sys.exit(1)
PY
else
  skip_checks 1 "python3 cannot import pefile"
fi
expect_status 0 "aze list of the licensed Windows program" -- "$aze" list setup.exe

# A licence and a product's version information together, in one rewrite of the program.
expect_status 0 "aze sfx --windows --license --version-info" -- \
  "$aze" sfx --stub "$stub" --license terms.txt --version-info 'ProductName=Acme Installer' \
  --version-info FileVersion=3.1 -o product.exe plain.aze
expect_status 0 "aze info of the program with both" -- "$aze" info --json product.exe
checks=$((checks + 1))
printf '%s' "$out" | "$python" -c '
import json, sys
info = json.load(sys.stdin)
version = info["versionInfo"]
if version.get("ProductName") != "Acme Installer" or version.get("FileVersion") != "3.1":
    sys.exit(f"versionInfo: {version}")
if info["licenseBytes"] != int(sys.argv[1]) or info["files"] != 5:
    sys.exit(f"got {info}")
' "$(stat -c %s terms.txt)" || fail "aze info of the program with both: $out"
finish
