#!/usr/bin/env bash
# aze sfx --windows: archives written into a copy of a Windows program and read back by aze,
# the result checked by an independent reader (Debian's python3-pefile) and, when Wine is
# there, by the Windows loader itself. STUB stands in for winqor.exe: a small mingw-w64 build
# with the same resources (the placeholder, an icon, a dialog, strings, a manifest) that
# prints the SETUP_ARCHIVE resource FindResourceW picks.
# usage: aze_sfx_windows.sh AZE STUB [WINEPREFIX]
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
stub=$2
wine_prefix=${3:+$(readlink -m "$3")}
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
make_sample_archives "$aze"

# What a program made from STUB must hold, read by pefile: exactly one SETUP_ARCHIVE/131/0
# with ARCHIVE's bytes, the placeholder, every other resource of STUB unchanged, a correct
# checksum, sections that do not overlap and one .wqrsrc section, the last.
cat >check_pe.py <<'EOF'
import sys
import pefile

program, archive, stub = sys.argv[1:4]
PLACEHOLDER = bytes.fromhex("5aa5a55a5aa5a55a")


def resources(pe):
    found = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                key = (str(t.name) if t.name else t.id, str(n.name) if n.name else n.id, lang.id)
                entry = lang.data.struct
                data = pe.get_data(entry.OffsetToData, entry.Size)
                found.setdefault(key, []).append(data)
    return found


def problems():
    pe = pefile.PE(program)
    mine = resources(pe)
    theirs = resources(pefile.PE(stub))
    archive_bytes = open(archive, "rb").read()
    if mine.get(("SETUP_ARCHIVE", 131, 0)) != [archive_bytes]:
        yield "no single SETUP_ARCHIVE/131/0 with the archive's bytes"
    if mine.get(("SETUP_ARCHIVE", 131, 1033)) != [PLACEHOLDER]:
        yield "the 1033 placeholder is gone"
    for key, data in theirs.items():
        if key != ("SETUP_ARCHIVE", 131, 0) and mine.get(key) != data:
            yield "resource %r changed or is gone" % (key,)
    if pe.OPTIONAL_HEADER.CheckSum != pe.generate_checksum():
        yield "checksum %d, pefile computes %d" % (pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum())
    sections = sorted(pe.sections, key=lambda s: s.VirtualAddress)
    for a, b in zip(sections, sections[1:]):
        if a.VirtualAddress + max(a.Misc_VirtualSize, a.SizeOfRawData) > b.VirtualAddress:
            yield "sections %s and %s overlap in memory" % (a.Name, b.Name)
    raw = sorted((s for s in pe.sections if s.SizeOfRawData), key=lambda s: s.PointerToRawData)
    for a, b in zip(raw, raw[1:]):
        if a.PointerToRawData + a.SizeOfRawData > b.PointerToRawData:
            yield "sections %s and %s overlap in the file" % (a.Name, b.Name)
    names = [s.Name.rstrip(b"\0") for s in pe.sections]
    if names.count(b".wqrsrc") != 1 or names[-1] != b".wqrsrc":
        yield "not one .wqrsrc section at the end: %r" % names
    last = pe.sections[-1]
    end = pe.OPTIONAL_HEADER.SizeOfImage
    if last.VirtualAddress + last.Misc_VirtualSize > end or end % pe.OPTIONAL_HEADER.SectionAlignment:
        yield "SizeOfImage %#x does not cover the last section" % end


failed = list(problems())
for problem in failed:
    print(problem)
sys.exit(1 if failed else 0)
EOF

# check_pe WHAT PROGRAM ARCHIVE STUB
check_pe() {
  expect_status 0 "$1: pefile's view" -- "$python" check_pe.py "$2" "$3" "$4"
  [ -z "$out" ] || echo "$out" >&2
}

section_count() {
  "$python" -c 'import pefile, sys; print(len(pefile.PE(sys.argv[1]).sections))' "$1"
}

# The stub as built (unstripped: its COFF symbol table follows the sections) and stripped.
stubs=("$stub")
if command -v x86_64-w64-mingw32-strip >/dev/null; then
  x86_64-w64-mingw32-strip -o stripped-stub.exe "$stub" && stubs+=("$work/stripped-stub.exe")
fi

"$aze" extract -C tree plain.aze >/dev/null || fail "cannot extract the sample archive"
for kind in "${stubs[@]}"; do
  name=$(basename "$kind" .exe)
  rm -rf via-aze "$name"-*
  # --- a folder, with --windows and the stub named ---
  expect_status 0 "$name: sfx --windows of a folder" -- \
    "$aze" sfx --windows --stub "$kind" -o "$name-setup.exe" tree
  expect_equal "$name: sfx line" "$out" "wrote $name-setup.exe, which extracts into $name-setup"
  expect_status 0 "$name: the same folder as an archive" -- "$aze" create -o tree.aze tree
  check_pe "$name: folder" "$name-setup.exe" tree.aze "$kind"
  expect_status 0 "$name: aze list of the program" -- "$aze" list "$name-setup.exe"
  listing=$out
  expect_status 0 "$name: aze list of the archive" -- "$aze" list plain.aze
  expect_equal "$name: same listing" "$listing" "$out"
  expect_status 0 "$name: aze test of the program" -- "$aze" test "$name-setup.exe"
  expect_status 0 "$name: aze extract of the program" -- "$aze" extract -C via-aze "$name-setup.exe"
  expect_equal "$name: tree through aze" "$(describe_tree via-aze)" "$expected"

  # --- an archive, the kind told by the stub's bytes alone ---
  expect_status 0 "$name: sfx of an archive" -- "$aze" sfx --stub "$kind" -o "$name-plain.exe" plain.aze
  check_pe "$name: archive" "$name-plain.exe" plain.aze "$kind"

  # --- a program made before: its section is replaced, not added to ---
  expect_status 0 "$name: sfx with a made program as the stub" -- \
    "$aze" sfx --windows --stub "$name-plain.exe" -o "$name-again.exe" encrypted.aze
  check_pe "$name: again" "$name-again.exe" encrypted.aze "$kind"
  expect_equal "$name: section count" "$(section_count "$name-again.exe")" \
    "$(section_count "$name-plain.exe")"
  expect_status 0 "$name: the archive was replaced" -- \
    "$aze" test --password-file - "$name-again.exe" <<<"Secret1"
done
expect_status 1 "aze list of the stub with its placeholder only" -- "$aze" list "$stub"

# --- the Windows loader picks the neutral entry ---
if [ -n "$wine_prefix" ] && command -v wine >/dev/null; then
  export WINEPREFIX=$wine_prefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
  mkdir -p "$WINEPREFIX"
  if placeholder=$(timeout 300 wine "$stub" 2>/dev/null | tr -d '\r') &&
    [ "$placeholder" = "8 5a a5 a5 5a 5a a5 a5 5a" ]; then
    expect_status 0 "wine: the program with the archive" -- timeout 120 wine "$(basename "$stub" .exe)-plain.exe"
    expect_equal "wine: FindResourceW's choice" "$(tr -d '\r' <<<"$out")" \
      "$(stat -c %s plain.aze) $(head -c 8 plain.aze | od -An -tx1 | xargs)"
  else
    echo "note: wine does not run the stub here ($placeholder); the loader's view is not tested"
  fi
fi

# --- the Windows stub where aze looks for it ---
mkdir -p install/bin install/lib/winqor lonely/bin
cp "$aze" install/bin/aze && cp "$stub" install/lib/winqor/winqor.exe && cp "$aze" lonely/bin/aze
expect_status 0 "sfx --windows with the installed winqor.exe" -- \
  install/bin/aze sfx --windows -o default.exe plain.aze
check_pe "default stub" default.exe plain.aze "$stub"
expect_status 2 "sfx --windows without a winqor.exe" -- lonely/bin/aze sfx --windows -o none.exe plain.aze
expect_equal "missing stub message" "$err" \
  "aze: cannot find the Windows winqor.exe to copy (aze looks in ../lib/winqor/ from its own folder; give --stub PATH): $work/lonely/lib/winqor/winqor.exe"

# --- what aze sfx --windows refuses ---
# patch FILE PYTHON: edits FILE's bytes (b, a bytearray) with pefile's offsets at hand (pe).
patch() {
  "$python" - "$1" "$2" <<'EOF'
import struct, sys, pefile
path, code = sys.argv[1:3]
pe = pefile.PE(path)
b = bytearray(open(path, "rb").read())
directories = pe.OPTIONAL_HEADER.get_file_offset() + 112
exec(code)
open(path, "wb").write(b)
EOF
}
cp "$stub" signed.exe
patch signed.exe 'struct.pack_into("<II", b, directories + 4 * 8, len(b), 0x100)'
expect_status 2 "a signed stub" -- "$aze" sfx --windows --stub signed.exe -o x.exe plain.aze
expect_equal "its message" "$err" \
  "aze: the program is signed, and adding a resource breaks its signature: sign it after aze sfx, not before: signed.exe"
cp "$stub" pe32.exe
patch pe32.exe 'struct.pack_into("<H", b, pe.OPTIONAL_HEADER.get_file_offset(), 0x10B)'
expect_status 2 "a 32-bit stub" -- "$aze" sfx --stub pe32.exe -o x.exe plain.aze
expect_equal "its message" "$err" \
  "aze: a 32-bit (PE32) Windows program: only 64-bit (PE32+) programs are supported: pe32.exe"
cp "$stub" overlay.exe && printf 'appended' >>overlay.exe
expect_status 2 "a stub with data after its sections" -- "$aze" sfx --stub overlay.exe -o x.exe plain.aze
expect_match "its message" "$err" "^aze: [0-9]+ bytes of other data follow the program's last section"
# Stubs Windows would not start as a program, each refused with the rule it breaks (the stub
# is no DLL, so adding the DLL flag to its characteristics sets it).
coff='pe.FILE_HEADER.get_file_offset()'
optional='pe.OPTIONAL_HEADER.get_file_offset()'
while IFS='|' read -r what code message; do
  cp "$stub" rule.exe
  patch rule.exe "$code"
  expect_status 2 "a stub that is $what" -- "$aze" sfx --windows --stub rule.exe -o x.exe plain.aze
  expect_equal "its message" "$err" "aze: $message: rule.exe"
done <<RULES
an ARM64 program|struct.pack_into("<H", b, $coff, 0xAA64)|not an x86-64 program (its machine type is 0xAA64, x86-64 is 0x8664)
a DLL|struct.pack_into("<H", b, $coff + 18, pe.FILE_HEADER.Characteristics + 0x2000)|a DLL, not a program that Windows starts
aligned to 2^28 in the file|struct.pack_into("<II", b, $optional + 32, 1 << 28, 1 << 28)|its FileAlignment 268435456 is not a power of two from 512 to 65536
aligned tighter in memory than in the file|struct.pack_into("<I", b, $optional + 32, 256)|its SectionAlignment 256 is smaller than its FileAlignment 512
RULES
expect_status 2 "--windows with a Linux program" -- "$aze" sfx --windows --stub "$aze" -o x.exe plain.aze
expect_match "its message" "$err" "^aze: --windows needs a Windows winqor.exe, and this is a Linux \(ELF\) program"
[ ! -e x.exe ] || fail "a refused sfx wrote its program"

# --- a damaged resource tree in a program to read ---
cp "$(basename "$stub" .exe)-plain.exe" damaged.exe
patch damaged.exe 'root = pe.get_offset_from_rva(pe.OPTIONAL_HEADER.DATA_DIRECTORY[2].VirtualAddress)
struct.pack_into("<HH", b, root + 12, 0xFFFF, 0xFFFF)'
expect_status 1 "aze list of a damaged tree" -- "$aze" list damaged.exe
expect_equal "its message" "$err" \
  "aze: damaged Windows program: its resource tree does not hold together (a directory has more entries than the tree has room for): damaged.exe"

finish
