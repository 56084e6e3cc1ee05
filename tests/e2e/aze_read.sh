#!/usr/bin/env bash
# aze list, test and extract through the real binary: results, exit codes, one-line messages.
# The archives are our own writer's; the reference archives of another writer are read too when
# they are there.
# usage: aze_read.sh AZE VECTORS_DIR
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
vectors=$2
cd "$work"
umask 022
make_sample_archives "$aze"

expect_status 0 "extract plain" -- "$aze" extract plain.aze
expect_equal "plain tree" "$(describe_tree plain)" "$expected"
expect_match "success line" "$out" "^extracted 4 folders, 5 files, 93915 bytes into plain$"
expect_equal "read-only file stays read-only" "$(stat -c %a plain/README.txt)" "444"

expect_status 0 "extract again over it" -- "$aze" extract plain.aze
expect_equal "tree after the second run" "$(describe_tree plain)" "$expected"

printf 'Secret1\n' > right
printf 'secret1\n' > wrong
expect_status 0 "extract encrypted" -- "$aze" extract --password-file right -C enc encrypted.aze
expect_equal "encrypted tree" "$(describe_tree enc)" "$expected"
expect_status 1 "wrong password" -- "$aze" extract --password-file wrong -C enc2 encrypted.aze
expect_equal "wrong password message" "$err" "aze: wrong password"
[ ! -e enc2 ] || fail "a wrong password created the destination"
expect_status 0 "password from standard input" -- sh -c "printf 'Secret1\n' | '$aze' test --password-file - encrypted.aze"

expect_status 0 "list" -- "$aze" list plain.aze
# The listing: the tree's lines without the digests.
listing_of() {
  grep -v '^$' | sed -E 's/^(F [^ ]+( [^ ]+)*) [0-9a-f]{32}$/\1/' | LC_ALL=C sort
}
expect_equal "listing" "$(printf '%s\n' "$out" | LC_ALL=C sort)" "$(listing_of <<<"$expected")"
expect_status 0 "test" -- "$aze" test plain.aze
expect_match "test line" "$out" "plain.aze: OK"

# list --json: every line parsed by a real JSON parser, in archive order, with the listing's
# facts; a name with control characters, quotes and a backslash-free tab comes through intact.
ctl=$'ctl\x01\x1f\x7f\ttab\nline "q"'
mkdir -p json-tree/sub/deep && printf 'hello world\n' >json-tree/sub/a.txt && printf x >"json-tree/sub/$ctl"
printf '#!/bin/sh\n' >json-tree/sub/deep/tool
chmod 444 json-tree/sub/a.txt && chmod 755 json-tree/sub/deep/tool
"$aze" create -o json.aze json-tree >/dev/null || fail "aze create of json.aze"
# Decodes each line into (type, path, size, readOnly, executable, keys), one tuple a line in
# Python's repr.
json_lines() {
  python3 -c 'import json, sys
for line in sys.stdin:
    o = json.loads(line)
    print(repr((o["type"], o["path"], o.get("size"), o.get("readOnly"), o.get("executable"), sorted(o))))'
}
expect_status 0 "list --json" -- "$aze" list --json json.aze
expect_equal "json lines" "$(printf '%s\n' "$out" | json_lines)" "$(python3 -c 'import sys
file_keys = ["executable", "path", "readOnly", "size", "type"]
rows = [("folder", "sub", None, None, None, ["path", "type"]),
        ("file", "sub/a.txt", 12, True, False, file_keys),
        ("file", "sub/" + sys.argv[1], 1, False, False, file_keys),
        ("folder", "sub/deep", None, None, None, ["path", "type"]),
        ("file", "sub/deep/tool", 10, False, True, file_keys)]
print("\n".join(map(repr, rows)))' "$ctl")"
expect_equal "json lines carry no raw control character" "$(printf '%s' "$out" | tr -d '\n' | LC_ALL=C tr -d '[:print:]' | wc -c)" "0"
expect_status 0 "list --json of the sample" -- "$aze" list --json plain.aze
expect_equal "its paths are the listing's" "$(printf '%s\n' "$out" | python3 -c 'import json, sys
for line in sys.stdin:
    o = json.loads(line)
    print(("D " if o["type"] == "folder" else "F ") + o["path"] + ("" if o["type"] == "folder" else " %d" % o["size"]))' | LC_ALL=C sort)" \
  "$(listing_of <<<"$expected" | grep -v '^D \.$')"

expect_status 1 "missing archive" -- "$aze" extract missing.aze
expect_equal "missing archive message" "$err" "aze: cannot open the archive: missing.aze"
[ ! -e missing ] || fail "a missing archive created a folder"

cp plain.aze damaged.aze
printf '\x00\x00\x00\x00' | dd of=damaged.aze bs=1 seek=600 conv=notrunc status=none
expect_status 1 "damaged archive" -- "$aze" extract damaged.aze
expect_equal "damaged message" "$err" "aze: damaged archive or wrong password: digest mismatch: damaged.aze"
[ ! -e damaged ] || fail "a damaged archive created its folder"
expect_status 1 "test of a damaged archive" -- "$aze" test damaged.aze
expect_status 1 "list --json of a damaged archive" -- "$aze" list --json damaged.aze
expect_equal "nothing listed before the digest fails" "$out" ""

printf 'not an archive at all' > text.aze
expect_status 1 "not an archive" -- "$aze" list text.aze
expect_equal "not an archive message" "$err" "aze: not an archive: shorter than its 256-byte header: text.aze"

head -c 300 plain.aze > short.aze
expect_status 1 "cut archive" -- "$aze" test short.aze
expect_match "cut archive message" "$err" "^aze: damaged archive: it ends before its payload does: short.aze$"

expect_status 2 "usage error" -- "$aze" extract
expect_status 2 "unknown subcommand" -- "$aze" frobnicate x

# Write failures need permissions that apply: run those as an unprivileged user.
mkdir locked && chmod 555 locked
expect_status 3 "read-only destination" -- as_nobody "$aze" extract -C locked plain.aze
expect_equal "read-only destination message" "$err" "aze: cannot create a file: $PWD/locked/README.txt"
expect_status 3 "destination below a read-only folder" -- as_nobody "$aze" extract -C locked/sub plain.aze
expect_equal "destination message" "$err" "aze: cannot create or enter the destination folder: locked/sub"

mkdir -p replace && chmod 777 replace && printf 'old' > replace/README.txt && chmod 444 replace/README.txt
chown 65534 replace/README.txt
expect_status 0 "existing read-only file replaced" -- as_nobody "$aze" extract -C replace plain.aze
expect_equal "replaced content" "$(cat replace/README.txt | md5sum | cut -d' ' -f1)" "$readme_md5"

expect_status 0 "verbose shows the debug channel" -- "$aze" -v test plain.aze
expect_match "debug lines" "$err" "README.txt		filesize = 16"
expect_status 0 "quiet by default" -- "$aze" test plain.aze
expect_equal "no debug lines" "$err" ""

# --- archives written by another writer: they extract to the tree they were made from ---
if have_vectors "$vectors"; then
  mkdir reference && cp "$vectors/plain.aze" "$vectors/encrypted.aze" reference/
  reference=$(LC_ALL=C sort "$vectors/expected-tree.txt")
  expect_status 0 "extract the reference plain archive" -- "$aze" extract -C reference/plain reference/plain.aze
  expect_equal "its tree" "$(describe_tree reference/plain)" "$reference"
  expect_match "its success line" "$out" "^extracted 4 folders, 5 files, 93915 bytes into reference/plain$"
  # Its reserved bytes are zero: every file gets the mode its attributes give, as always.
  expect_equal "its modes" "$(modes_of reference/plain)" \
    "README.txt 444 docs/empty.txt 644 docs/notes/numbers.txt 644 données/日本.txt 644 tool.bin 644 "
  expect_status 0 "extract the reference encrypted archive" -- \
    "$aze" extract --password-file right -C reference/enc reference/encrypted.aze
  expect_equal "its tree" "$(describe_tree reference/enc)" "$reference"
  expect_status 1 "a wrong password for it" -- "$aze" test --password-file wrong reference/encrypted.aze
  expect_equal "its message" "$err" "aze: wrong password"
  expect_status 0 "list the reference archive" -- "$aze" list reference/plain.aze
  expect_equal "its listing" "$(printf '%s\n' "$out" | LC_ALL=C sort)" "$(listing_of <"$vectors/expected-tree.txt")"
  expect_status 0 "list --json of the reference archive" -- "$aze" list --json reference/plain.aze
  expect_equal "no file of it says whether it is executable" "$(grep -c executable <<<"$out")" "0"
else
  skip_checks 12 "$(no_vectors_reason "$vectors")"
fi

finish
