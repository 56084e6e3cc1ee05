#!/usr/bin/env bash
# aze against hostile input: a program file whose resource entry claims gigabytes, password
# files that never end or are folders, names holding control characters, a standard output
# that cannot be written, and a folder swapped for a link while aze create reads the tree.
# Each ends with a clear line and a meaningful status, and nothing outside changes.
# usage: aze_hostile.sh AZE
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
cd "$work"
umask 022

# The bytes of an unsigned integer, little-endian: le VALUE COUNT.
le() {
  local i
  for ((i = 0; i < $2; i++)); do printf "\\x$(printf %02x $((($1 >> (8 * i)) & 255)))"; done
}

# Appends a resource table with one SETUP_ARCHIVE entry (neutral, 131) to FILE: the entry
# claims SIZE bytes at OFFSET. append_table FILE OFFSET SIZE.
append_table() {
  local table
  table=$(stat -c %s "$1")
  {
    le 45 4 && le 131 4 && le 0 4 && le 13 4 && le "$2" 8 && le "$3" 8 && printf 'SETUP_ARCHIVE'
    le 1 4 && le 1 4 && le "$table" 8 && printf 'WQRESTBL'
  } >>"$1"
}

# Runs aze with at most 1 GB of address space, so that reading a claimed size into memory
# fails loudly. A sanitizer build reserves more than that to start at all: it runs unlimited.
if (ulimit -v 1000000 && exec "$aze" --help) >/dev/null 2>&1; then memory_limit=1000000; else memory_limit=unlimited; fi
bounded_aze() {
  (ulimit -v "$memory_limit" && exec "$aze" "$@")
}

mkdir small && printf 'x' >small/f.txt
"$aze" create -o small.aze small >/dev/null || fail "aze create small"
expected_small=$("$aze" list small.aze)

# --- a resource entry claiming 3 GB of a sparse file: only an archive's worth is read ---
printf 'stub' >zeros.run && truncate -s 3G zeros.run && append_table zeros.run 0 $((3 << 30))
expect_status 1 "an entry of 3 GB that holds no archive" -- bounded_aze list zeros.run
expect_equal "its message" "$err" "aze: not an archive, or its sizes are out of range: zeros.run"
{ printf 'stub' && cat small.aze; } >carried.run && truncate -s 3G carried.run
append_table carried.run 4 $(((3 << 30) - 4))
expect_status 0 "an entry of 3 GB that starts with an archive" -- bounded_aze list carried.run
expect_equal "its listing" "$out" "$expected_small"
printf 'stub' >table.run
head -c 24 /dev/zero >>table.run && printf 'WQRESTBL' >>table.run
# A program whose archive is damaged: every command that reads one says so the same way.
cp small.aze damaged.aze
printf '\x00\x00\x00\x00' | dd of=damaged.aze bs=1 seek=260 conv=notrunc status=none
{ printf 'stub' && cat damaged.aze; } >damaged.run
append_table damaged.run 4 "$(stat -c %s damaged.aze)"
for command in test list info; do
  expect_status 1 "aze $command: a damaged resource table" -- "$aze" "$command" table.run
  expect_equal "its message" "$err" \
    "aze: damaged program file: its resource table does not hold together: table.run"
  expect_status 1 "aze $command: a program carrying a damaged archive" -- "$aze" "$command" damaged.run
  expect_equal "its message" "$err" "aze: damaged archive or wrong password: digest mismatch: damaged.run"
done

# --- password files: a line that never ends, a line too long, a folder ---
printf 'Secret1\n' >right
"$aze" create -o locked.aze --password-file right small >/dev/null || fail "aze create locked"
head -c 5000 /dev/zero | tr '\0' 'p' >long
mkdir folder
for case in "/dev/zero|the password file's first line is longer than 4096 bytes" \
  "long|the password file's first line is longer than 4096 bytes" \
  "folder|the password file is a folder"; do
  file=${case%%|*} message=${case#*|}
  expect_status 1 "password file $file" -- timeout 20 "$aze" list --password-file "$file" locked.aze
  expect_equal "its message" "$err" "aze: $message: $file"
  expect_status 1 "new password from $file" -- timeout 20 "$aze" create -o new.aze --password-file "$file" small
  expect_equal "its message" "$err" "aze: $message: $file"
  [ ! -e new.aze ] || fail "a refused password file still wrote an archive"
done

# --- names with control characters are shown escaped, in listings and in messages ---
mkdir names
for name in $'cr\rX' $'esc\e[31m' $'line\nF forged 0'; do printf 'x' >"names/$name"; done
ln -s f.txt $'names/link\e]0;title\a'
expect_status 0 "an archive of such names" -- "$aze" create -o names.aze names
expect_equal "the warning names the link escaped" "$err" \
  'aze: warning: skipped a symbolic link: names/link\x1b]0;title\x07'
expect_status 0 "its listing" -- "$aze" list names.aze
expect_equal "one line per record, escaped" "$out" "$(printf '%s\n' 'D .' 'F cr\rX 1' \
  'F esc\x1b[31m 1' 'F line\nF forged 0 1')"
cp names.aze $'new\nline.aze'
expect_status 0 "a test of an archive with such a name" -- "$aze" test $'new\nline.aze'
expect_equal "its line" "$out" 'new\nline.aze: OK (0 folders, 3 files, 3 bytes)'
mkdir -p $'blocked/line\nF forged 0' && printf 'kept' >$'blocked/line\nF forged 0/keep'
expect_status 3 "a folder in the way of a file" -- "$aze" extract -C blocked names.aze
expect_match "its line names the file escaped" "$err" '^aze: cannot create a file.*line\\nF forged 0$'
expect_equal "in one line" "$(printf '%s\n' "$err" | wc -l)" 1
expect_equal "what was in the way stays" "$(cat $'blocked/line\nF forged 0/keep')" "kept"

# --- a standard output that cannot be written ---
# A listing finds out as it writes; info's few lines fail only when aze flushes them at the end.
for command in list info; do
  expect_status 1 "aze $command to a full device" -- bash -c '"$0" "$1" names.aze >/dev/full' "$aze" "$command"
  expect_equal "its message" "$err" "aze: cannot write to standard output"
done

# --- a folder swapped for a link to outside while aze create reads the tree ---
# a/f is read long after a is listed (2,000 folders are listed in between), while a loop swaps
# a for a link to a folder outside that holds a file of the same name (17 bytes where the one
# inside has 6). Every run either packs what is inside or stops with its line; none packs the
# file outside.
mkdir -p race/tree/a race/outside
printf 'inside' >race/tree/a/f && printf 'outside, 17 bytes' >race/outside/f
(cd race/tree && mkdir -p $(seq -f 'b/%g' 2000))
outside_before=$(describe_tree race/outside)
(
  cd race/tree || exit
  while [ ! -e ../stop ]; do
    mv -T a a.real 2>/dev/null
    ln -sT ../outside a 2>/dev/null
    rm -f a
    mv -T a.real a 2>/dev/null
  done
) &
swapper=$!
for run in $(seq 60); do
  checks=$((checks + 1))
  "$aze" create -o race/out.aze race/tree 2>race/err >/dev/null && status=0 || status=$?
  if [ "$status" -eq 0 ]; then
    ! "$aze" list race/out.aze | grep -q ' 17$' || fail "run $run: a file from outside the folder was packed"
  elif [ "$status" -ne 1 ] || ! tail -n 1 race/err | grep -qE '^aze: cannot read the (folder|file) \('; then
    fail "run $run: exit $status: $(cat race/err)"
  fi
done
touch race/stop && wait "$swapper"
expect_equal "the folder outside is unchanged" "$(describe_tree race/outside)" "$outside_before"

finish
