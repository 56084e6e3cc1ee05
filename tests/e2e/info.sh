#!/usr/bin/env bash
# aze info and a self-extracting program's --info on plain, encrypted, run-setup and licensed
# archives and programs: what the header says, the folders and files counted (not for an
# encrypted archive), the licence, the output folder; --json is one object python's json reads.
# Nothing is written, nothing is asked.
# usage: info.sh AZE PROBE PACK_TREE
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
probe=$(readlink -f "$2")
pack=$(readlink -f "$3")
cd "$work"
unset DISPLAY WAYLAND_DISPLAY

mkdir -p tree/lib/deep && printf 'data\n' >tree/lib/data.txt && printf '#!/bin/sh\n' >tree/Setup.exe
printf 'The terms.\n' >terms.txt
"$pack" tree plain.aze || fail "pack plain"
"$pack" tree encrypted.aze --password Secret1 || fail "pack encrypted"
"$pack" tree setup.aze --run-setup || fail "pack run-setup"
for name in plain encrypted setup; do
  "$aze" sfx -o "$name.run" --stub "$probe" "$name.aze" >/dev/null || fail "aze sfx $name"
done
"$aze" sfx -o licensed.run --stub "$probe" --license terms.txt plain.aze >/dev/null ||
  fail "aze sfx --license"
listing() { ls -A | grep -vx stderr | LC_ALL=C sort; }
before=$(listing)

# The table: file | encrypted | runs Setup.exe | folders | files | licence bytes ("null": none)
# | kind | output folder (relative to $work).
while IFS='|' read -r file encrypted setup folders files licence kind folder; do
  [ -n "$file" ] || continue
  expect_status 0 "aze info $file" -- "$aze" info "$file"
  text=$out
  expect_match "aze info $file: kind" "$text" "^kind: $kind$"
  expect_match "aze info $file: encrypted" "$text" "encrypted: $([ "$encrypted" = true ] && echo yes || echo no)"
  expect_match "aze info $file: Setup.exe" "$text" "starts Setup.exe: $([ "$setup" = true ] && echo yes || echo no)"
  if [ "$folders" = null ]; then
    expect_match "aze info $file: not counted" "$text" "folders and files: not counted"
  else
    expect_match "aze info $file: counted" "$(printf '%s' "$text" | tr '\n' '^')" \
      "folders: $folders\\^files: $files \\(15 bytes\\)"
  fi
  expect_match "aze info $file: licence" "$text" "licence: $([ "$licence" = null ] && echo none || echo "$licence bytes")"
  expect_status 0 "aze info --json $file" -- "$aze" info --json "$file"
  checks=$((checks + 1))
  printf '%s' "$out" | python3 -c '
import json, sys
info = json.load(sys.stdin)
want = dict(zip(["encrypted", "runsSetup", "folders", "files", "licenseBytes", "kind", "outputFolder"],
                [json.loads(v) if i < 5 else v for i, v in enumerate(sys.argv[1:])]))
for key, value in want.items():
    if info[key] != value:
        sys.exit(f"{key}: {info[key]!r}, wanted {value!r}")
if info["packedSize"] <= 0 or info["unpackedSize"] <= 0 or not isinstance(info["versionInfo"], dict):
    sys.exit(f"sizes or versionInfo: {info}")
if (info["fileBytes"] is None) != (info["files"] is None):
    sys.exit("fileBytes and files disagree")
' "$encrypted" "$setup" "$folders" "$files" "$licence" "$kind" "$folder" ||
    fail "aze info --json $file: $out"
done <<'TABLE'
plain.aze|false|false|2|2|null|archive|plain
encrypted.aze|true|false|null|null|null|archive|encrypted
plain.run|false|false|2|2|null|Linux program|plain
encrypted.run|true|false|null|null|null|Linux program|encrypted
setup.run|false|true|2|2|null|Linux program|setup
licensed.run|false|false|2|2|11|Linux program|licensed
TABLE

# The program's own --info: the same facts, its output folder beside it, no password asked.
while IFS='|' read -r program pattern; do
  [ -n "$program" ] || continue
  expect_status 0 "$program --info" -- sh -c "./$program --info </dev/null"
  expect_match "$program --info" "$(printf '%s' "$out" | tr '\n' '^')" "$pattern"
done <<TABLE
plain.run|encrypted: no.*folders: 2\^files: 2 \(15 bytes\).*licence: none\^output folder: $work/plain$
encrypted.run|encrypted: yes.*not counted.*output folder: $work/encrypted$
setup.run|starts Setup.exe: yes.*folders: 2
licensed.run|licence: 11 bytes
TABLE

# What aze info refuses.
expect_status 2 "aze info of a folder" -- "$aze" info tree
expect_status 1 "aze info of a file that is no archive" -- "$aze" info terms.txt
expect_match "aze info of a file that is no archive: why" "$err" "not an archive"
expect_status 2 "aze info without a file" -- "$aze" info
expect_equal "nothing was written" "$(listing)" "$before"
finish
