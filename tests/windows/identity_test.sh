#!/usr/bin/env bash
# A Windows installer given a product's icon and version information (aze sfx --icon,
# --version-info), under Wine: Windows' own readers (GetFileVersionInfoW, VerQueryValueW, the
# icon lookup) find the strings, versions and images; the installer still unpacks beside itself;
# signed with osslsigncode it verifies and still shows and unpacks the same.
# usage: identity_test.sh AZE WINQOR_EXE VERSION_PROBE_EXE PROJECT_ICO PNG, in the Wine prefix
# that WINEPREFIX names. PROJECT_ICO is winqor's own icon (16 and 32 pixels), PNG a 256x256 PNG.
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/lib.sh"
aze=$(readlink -f "$1") stub=$(readlink -f "$2") probe=$(readlink -f "$3")
project_ico=$(readlink -f "$4") png=$(readlink -f "$5")
for tool in wine wineserver; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
[ -n "${WINEPREFIX:-}" ] || { echo "skipped: no Wine prefix (WINEPREFIX)"; exit 77; }
export WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64 WINEDEBUG=-all
unset DISPLAY
cd "$work"

# product.ico: the project's two bitmaps, then the PNG.
/usr/bin/python3 - "$project_ico" "$png" product.ico <<'EOF'
import struct, sys
source, png, out = sys.argv[1:4]
d = open(source, "rb").read()
images = []
for i in range(struct.unpack("<H", d[4:6])[0]):
    e = struct.unpack("<BBBBHHII", d[6 + 16 * i:22 + 16 * i])
    images.append((e[:6], d[e[7]:e[7] + e[6]]))
images.append(((0, 0, 0, 0, 1, 32), open(png, "rb").read()))
offset = 6 + 16 * len(images)
b = bytearray(struct.pack("<HHH", 0, 1, len(images)))
for e, data in images:
    b += struct.pack("<BBBBHHII", *e, len(data), offset)
    offset += len(data)
for e, data in images:
    b += data
open(out, "wb").write(b)
EOF
mkdir -p dist/docs
printf 'read me\n' >dist/readme.txt
head -c 100000 /dev/urandom >dist/docs/blob.bin

expect_status 0 "aze sfx --windows with an icon and version information" -- "$aze" sfx --windows \
  --stub "$stub" --icon product.ico --version-info "ProductName=Example Product" \
  --version-info "CompanyName=Example Ltd" --version-info "LegalCopyright=© 2026 Example Ltd" \
  --version-info FileVersion=2.1.0.7 --version-info ProductVersion=2.1 \
  --version-info "FileDescription=Example Product Setup" -o setup.exe dist

strings=$(for table in 000004b0 040904b0; do
  printf '%s\n' "$table CompanyName=Example Ltd" "$table FileDescription=Example Product Setup" \
    "$table FileVersion=2.1.0.7" "$table LegalCopyright=© 2026 Example Ltd" \
    "$table ProductName=Example Product" "$table ProductVersion=2.1"
done)
expected="file version 2.1.0.7
product version 2.1.0.0
translation 000004b0
translation 040904b0
$strings
icon 16: 16x16
icon 32: 32x32
icon 256: 256x256"

# probe PROGRAM: what Windows' readers find in it.
probe() {
  expect_status 0 "version_probe $1" -- bash "$here/run_in_wine.sh" "$probe" "$1"
  out=$(tr -d '\r' <<<"$out")
}
probe setup.exe
expect_equal "Windows' readers of setup.exe" "$out" "$expected"

expect_status 0 "the installer runs" -- timeout 120 wine setup.exe
expect_equal "and unpacks beside itself" "$(describe_tree setup)" "$(describe_tree dist)"

if command -v osslsigncode >/dev/null && command -v openssl >/dev/null; then
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=winqor test" \
    -keyout key.pem -out cert.pem 2>/dev/null || fail "openssl req"
  expect_status 0 "osslsigncode sign" -- osslsigncode sign -certs cert.pem -key key.pem \
    -n "Example Product" -in setup.exe -out signed.exe
  expect_status 0 "osslsigncode verify" -- osslsigncode verify -CAfile cert.pem -in signed.exe
  probe signed.exe
  expect_equal "Windows' readers of signed.exe" "$out" "$expected"
  expect_status 0 "the signed installer runs" -- timeout 120 wine signed.exe
  expect_equal "and unpacks beside itself" "$(describe_tree signed)" "$(describe_tree dist)"
else
  skip_checks 6 "osslsigncode or openssl is not installed (signing)"
fi
finish
