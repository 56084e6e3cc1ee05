#!/usr/bin/env bash
# aze sfx --windows --icon and --version-info: a Windows program given a product's icon and
# version information, read back by an independent reader (Debian's python3-pefile), still
# read by aze, still signed and verified by osslsigncode; bad icon files and settings refused
# with one line before anything is written.
# usage: aze_sfx_identity.sh AZE STUB LINUX_STUB PROJECT_ICO PNG
# STUB stands in for winqor.exe (tests/e2e/pe_stub: an icon group 128 at English (United
# States), no version resource); LINUX_STUB for the Linux winqor. PROJECT_ICO is winqor's own
# icon (two bitmaps), PNG a 256x256 PNG: together the product's icon.
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
stub=$2
linux_stub=$(readlink -f "$3")
project_ico=$(readlink -f "$4")
png=$(readlink -f "$5")
python=/usr/bin/python3
if [ -z "$stub" ] || [ ! -f "$stub" ]; then
  echo "skipped: no Windows test stub (x86_64-w64-mingw32-gcc and -windres were not found)"
  exit 77
fi
if ! "$python" -c 'import pefile' 2>/dev/null; then
  echo "skipped: $python cannot import pefile (install python3-pefile)"
  exit 77
fi
stub=$(readlink -f "$stub")
cd "$work"
umask 022
mkdir -p tree/docs && printf 'read me\n' >tree/readme.txt && head -c 5000 /dev/urandom >tree/docs/blob.bin

# write_ico OUT [EDIT]: product.ico (the project's two bitmaps, then the PNG), EDIT (Python, on
# the list of [entry fields, data] pairs `images` or on the finished bytes `b`) applied.
cat >ico.py <<'EOF'
import struct, sys
source, png, out = sys.argv[1:4]
edit_images = sys.argv[4] if len(sys.argv) > 4 else ""
edit_bytes = sys.argv[5] if len(sys.argv) > 5 else ""
d = open(source, "rb").read()
images = []
for i in range(struct.unpack("<H", d[4:6])[0]):
    e = list(struct.unpack("<BBBBHHII", d[6 + 16 * i:22 + 16 * i]))
    images.append([e[:6], d[e[7]:e[7] + e[6]]])
images.append([[0, 0, 0, 0, 1, 32], open(png, "rb").read()])
exec(edit_images)
offset = 6 + 16 * len(images)
b = bytearray(struct.pack("<HHH", 0, 1, len(images)))
for e, data in images:
    b += struct.pack("<BBBBHHII", *e, len(data), offset)
    offset += len(data)
for e, data in images:
    b += data
exec(edit_bytes)
open(out, "wb").write(b)
EOF
write_ico() { "$python" ico.py "$project_ico" "$png" "$@"; }
write_ico product.ico

settings=(--version-info "ProductName=Example Product" --version-info FileVersion=2.1.0.7
  --version-info "CompanyName=Example Ltd" --version-info "FileDescription=Example Product Setup"
  --version-info "LegalCopyright=© 2026 Example Ltd" --version-info OriginalFilename=setup.exe
  --version-info InternalName=setup --version-info "ProductVersion=2.1"
  --version-info "Comments=made with aze")

# What a program made from STUB with product.ico and the settings must hold, read by pefile:
# one icon group 128, neutral, listing the icon file's images in its order under RT_ICON ids
# that hold their bytes; none of the stub's images; one RT_VERSION with the strings in the
# neutral and the English (United States) table, both translations and the fixed versions;
# every other resource of the stub unchanged, the archive, and a correct checksum.
cat >check_identity.py <<'EOF'
import struct, sys
import pefile

program, stub, ico = sys.argv[1:4]
want = dict(a.split("=", 1) for a in sys.argv[4:])


def resources(pe):
    found = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                key = (str(t.name) if t.name else t.id, str(n.name) if n.name else n.id, lang.id)
                entry = lang.data.struct
                found[key] = pe.get_data(entry.OffsetToData, entry.Size)
    return found


def ico_images(path):
    d = open(path, "rb").read()
    out = []
    for i in range(struct.unpack("<H", d[4:6])[0]):
        e = struct.unpack("<BBBBHHII", d[6 + 16 * i:22 + 16 * i])
        out.append((e[0], e[1], d[e[7]:e[7] + e[6]]))
    return out


def numbers(dotted):
    parts = [int(p) for p in dotted.split(".")] + [0, 0, 0]
    return (parts[0] << 16 | parts[1], parts[2] << 16 | parts[3])


def problems():
    pe = pefile.PE(program)
    mine, theirs = resources(pe), resources(pefile.PE(stub))
    groups = [k for k in mine if k[0] == 14]
    if groups != [(14, 128, 0)]:
        yield "icon groups %r, not one neutral 128" % groups
        return
    group = mine[(14, 128, 0)]
    reserved, kind, count = struct.unpack("<HHH", group[:6])
    images = ico_images(ico)
    if (reserved, kind, count) != (0, 1, len(images)) or len(group) != 6 + 14 * count:
        yield "the group's header %r" % ((reserved, kind, count),)
        return
    ids = []
    for i, (width, height, data) in enumerate(images):
        w, h, _, _, _, _, size, nid = struct.unpack("<BBBBHHIH", group[6 + 14 * i:20 + 14 * i])
        ids.append(nid)
        if (w, h, size) != (width, height, len(data)) or mine.get((3, nid, 0)) != data:
            yield "image %d is not RT_ICON %d with the icon file's bytes" % (i + 1, nid)
    icons = sorted(k[1] for k in mine if k[0] == 3)
    if icons != sorted(ids):
        yield "RT_ICON ids %r, wanted only the group's %r" % (icons, sorted(ids))
    for key, data in theirs.items():
        if key[0] not in (3, 14) and key != ("SETUP_ARCHIVE", 131, 0) and mine.get(key) != data:
            yield "resource %r changed or is gone" % (key,)
    versions = [k for k in mine if k[0] == 16]
    if versions != [(16, 1, 0)]:
        yield "version resources %r, not one neutral 1" % versions
    tables = {}
    for info in pe.FileInfo[0]:
        for table in getattr(info, "StringTable", []):
            tables[table.LangID.decode()] = {k.decode(): v.decode() for k, v in table.entries.items()}
    for language in ("000004b0", "040904b0"):
        if tables.get(language) != want:
            yield "string table %s: %r" % (language, tables.get(language))
    version = mine[(16, 1, 0)]
    at = version.index("Translation\0".encode("utf-16-le")) + 24
    at = (at + 3) // 4 * 4
    if version[at:at + 8] != bytes.fromhex("0000b0040904b004"):
        yield "translations %s" % version[at:at + 8].hex()
    fixed = pe.VS_FIXEDFILEINFO[0]
    if (fixed.FileVersionMS, fixed.FileVersionLS) != numbers(want["FileVersion"]):
        yield "fixed file version %#x.%#x" % (fixed.FileVersionMS, fixed.FileVersionLS)
    product = want.get("ProductVersion", want["FileVersion"])
    if (fixed.ProductVersionMS, fixed.ProductVersionLS) != numbers(product):
        yield "fixed product version %#x.%#x" % (fixed.ProductVersionMS, fixed.ProductVersionLS)
    if pe.OPTIONAL_HEADER.CheckSum != pe.generate_checksum():
        yield "checksum %d, pefile computes %d" % (pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum())


failed = list(problems())
for problem in failed:
    print(problem)
sys.exit(1 if failed else 0)
EOF
strings=("ProductName=Example Product" FileVersion=2.1.0.7 "CompanyName=Example Ltd"
  "FileDescription=Example Product Setup" "LegalCopyright=© 2026 Example Ltd"
  OriginalFilename=setup.exe InternalName=setup ProductVersion=2.1 "Comments=made with aze")

expect_status 0 "sfx with an icon and version information" -- \
  "$aze" sfx --windows --stub "$stub" --icon product.ico "${settings[@]}" -o setup.exe tree
expect_equal "sfx line" "$out" "wrote setup.exe, which extracts into setup"
expect_status 0 "pefile's view" -- "$python" check_identity.py setup.exe "$stub" product.ico "${strings[@]}"
[ -z "$out" ] || echo "$out" >&2
expect_status 0 "aze extract of the program" -- "$aze" extract -C via-aze setup.exe
expect_equal "the tree through aze" "$(describe_tree via-aze)" "$(describe_tree tree)"

# The made program as the stub: its icon and version resource are replaced, not added to.
write_ico other.ico 'images = images[1:2]'
expect_status 0 "sfx of a made program with another icon" -- "$aze" sfx --windows --stub setup.exe \
  --icon other.ico --version-info ProductName=Other --version-info FileVersion=2.1.0.7 \
  -o again.exe tree
expect_status 0 "pefile's view of the second" -- "$python" check_identity.py again.exe "$stub" \
  other.ico ProductName=Other FileVersion=2.1.0.7
[ -z "$out" ] || echo "$out" >&2

# Only one of the two: the other part of the stub stays as it was.
expect_status 0 "sfx with version information only" -- "$aze" sfx --windows --stub "$stub" \
  --version-info ProductName=Only -o version-only.exe tree
expect_equal "its icon is the stub's" "$("$python" - version-only.exe "$stub" <<'EOF'
import sys, pefile
def icons(path):
    pe = pefile.PE(path)
    return sorted((t.id, n.id, l.id, pe.get_data(l.data.struct.OffsetToData, l.data.struct.Size))
                  for t in pe.DIRECTORY_ENTRY_RESOURCE.entries if t.id in (3, 14)
                  for n in t.directory.entries for l in n.directory.entries)
print(icons(sys.argv[1]) == icons(sys.argv[2]), pefile.PE(sys.argv[1]).FileInfo[0][0].StringTable[0].entries)
EOF
)" "True {b'ProductName': b'Only'}"

# Signed after aze sfx, with a throw-away certificate: the signature verifies, and aze still
# reads the signed program.
if command -v osslsigncode >/dev/null && command -v openssl >/dev/null; then
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=winqor test" \
    -keyout key.pem -out cert.pem 2>/dev/null || fail "openssl req"
  expect_status 0 "osslsigncode sign" -- osslsigncode sign -certs cert.pem -key key.pem \
    -n "Example Product" -in setup.exe -out signed.exe
  expect_status 0 "osslsigncode verify" -- osslsigncode verify -CAfile cert.pem -in signed.exe
  expect_status 0 "aze extract of the signed program" -- "$aze" extract -C via-signed signed.exe
  expect_equal "the signed program's tree" "$(describe_tree via-signed)" "$(describe_tree tree)"
else
  skip_checks 4 "osslsigncode or openssl is not installed (signing)"
fi

# --- refused before anything is written: one line each, exit 2, no program ---
# What | the icon file's edit (Python on images, then on the bytes b) | the message.
while IFS='|' read -r what on_images on_bytes message; do
  [ -n "$what" ] || continue
  write_ico bad.ico "$on_images" "$on_bytes"
  expect_status 2 "an icon file that is $what" -- "$aze" sfx --windows --stub "$stub" \
    --icon bad.ico -o refused.exe tree
  expect_equal "$what: the message" "$err" "aze: $message: bad.ico"
  [ ! -e refused.exe ] || fail "$what: a refused sfx wrote its program"
done <<'TABLE'
cut short||b = b[:-10]|image 3 of the icon file runs past the file's end: the file is cut short, or the sizes do not add up
without images|images = []||the icon file holds no images
of 257 images|images = images[1:2] * 257||the icon file lists 257 images, more than the 256 an icon may have
with sizes that do not add up||struct.pack_into("<I", b, 6 + 8, struct.unpack_from("<I", b, 6 + 8)[0] - 16)|the icon file holds 16 bytes outside its images: the sizes do not add up
with a PNG image that is not PNG|images[2][1] = b"\x89PNG\r\n\x1a\x0a" + b"not png at all"||image 3 of the icon file is not a valid PNG image: a chunk runs past the image's end
with a PNG image of other bytes|images[2][1] = b"GIF89a" + bytes(60)||image 3 of the icon file is neither a PNG image nor a bitmap
TABLE
while IFS='|' read -r setting message; do
  expect_status 2 "--version-info $setting" -- "$aze" sfx --windows --stub "$stub" \
    --version-info "$setting" -o refused.exe tree
  expect_equal "$setting: the message" "$err" "aze: --version-info: $message"
  [ ! -e refused.exe ] || fail "$setting: a refused sfx wrote its program"
done <<'TABLE'
Version=1|unknown key Version (the keys are CompanyName, FileDescription, FileVersion, InternalName, LegalCopyright, OriginalFilename, ProductName, ProductVersion, Comments)
FileVersion=1.2.3.4.5|FileVersion 1.2.3.4.5 is not up to four dotted numbers from 0 to 65535 (2.1.0.7)
FileVersion=1.70000|FileVersion 1.70000 is not up to four dotted numbers from 0 to 65535 (2.1.0.7)
ProductName=|the value of ProductName is empty
ProductName|ProductName is not KEY=VALUE
TABLE
expect_status 2 "a missing icon file" -- "$aze" sfx --windows --stub "$stub" --icon none.ico \
  -o refused.exe tree
expect_equal "its message" "$err" "aze: cannot read the icon file (No such file or directory): none.ico"
expect_status 2 "--icon for a Linux program" -- "$aze" sfx --stub "$linux_stub" --icon product.ico \
  -o refused.run tree
expect_equal "its message" "$err" \
  "aze: --icon and --version-info apply to a Windows program (give --windows, or a Windows winqor.exe as --stub)"
[ ! -e refused.exe ] && [ ! -e refused.run ] || fail "a refused sfx wrote its program"
finish
