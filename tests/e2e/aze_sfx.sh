#!/usr/bin/env bash
# aze sfx, and the self-extracting programs it makes, run for real. PROBE stands in for winqor:
# it is built the same way (with the placeholder) and runs the self-extracting run without a
# display, printing "result N". The archives are our own writer's; a program is also made from
# the reference archive of another writer when it is there.
# usage: aze_sfx.sh AZE PROBE PACK_TREE VECTORS_DIR
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
probe=$(readlink -f "$2")
pack=$(readlink -f "$3")
vectors=$4
typist=$(readlink -f "$(dirname "$0")/type_on_terminal.sh")
cd "$work"
umask 022
make_sample_archives "$aze"

# on_terminal PROGRAM [PROMPT ANSWER]... [PROMPT]: runs PROGRAM on a pseudo-terminal, typing
# each answer once its prompt is there; prints what the terminal showed.
on_terminal() {
  timeout 60 bash "$typist" terminal.log "$@" >/dev/null
  tr -d '\r' <terminal.log
}

# --- the program as built: only the placeholder ---
expect_status 0 "program with the placeholder only" -- "$probe"
expect_equal "placeholder result" "$out" "result 0"
expect_equal "placeholder messages" "$err" "$(printf 'CWinQORDlg::Prepare\nfound SETUP_ARCHIVE resource')"

# --- an archive made into a program ---
mkdir dist elsewhere
expect_status 0 "sfx of an archive" -- "$aze" sfx -o dist/pack.run --stub "$probe" plain.aze
expect_equal "sfx line" "$out" "wrote dist/pack.run, which extracts into dist/pack"
expect_equal "program mode" "$(stat -c %a dist/pack.run)" "755"
expect_status 0 "the program started from elsewhere" -- sh -c "cd elsewhere && ../dist/pack.run"
expect_equal "run result" "$out" "result 1"
expect_equal "tree beside the program" "$(describe_tree dist/pack)" "$expected"
expect_equal "nothing in the current directory" "$(ls -A elsewhere)" ""
expect_status 0 "a second run over the same folder" -- dist/pack.run
expect_equal "tree after the second run" "$(describe_tree dist/pack)" "$expected"

expect_status 0 "aze list of the program" -- "$aze" list dist/pack.run
listing=$out
expect_status 0 "aze list of the archive" -- "$aze" list plain.aze
expect_equal "same listing" "$listing" "$out"
expect_status 0 "aze test of the program" -- "$aze" test dist/pack.run
expect_status 0 "aze extract of the program" -- "$aze" extract -C via-aze dist/pack.run
expect_equal "tree through aze" "$(describe_tree via-aze)" "$expected"
expect_status 1 "aze list of a program without an archive" -- "$aze" list "$probe"

expect_status 0 "sfx to a name without extension" -- "$aze" sfx -o dist/packprog --stub "$probe" plain.aze
expect_status 0 "run of the program without extension" -- dist/packprog
expect_equal "its folder" "$(describe_tree dist/packprog.d)" "$expected"

expect_status 0 "sfx with a program as the stub" -- "$aze" sfx -o dist/again.run --stub dist/pack.run encrypted.aze
expect_status 0 "the archive was replaced" -- "$aze" test --password-file - dist/again.run <<<"Secret1"

# --- the winqor beside aze is the default stub ---
mkdir bin lonely
cp "$aze" bin/aze && cp "$probe" bin/winqor && cp "$aze" lonely/aze
expect_status 0 "sfx with the winqor beside aze" -- bin/aze sfx -o dist/default.run plain.aze
expect_status 0 "its run" -- dist/default.run
expect_equal "its result" "$out" "result 1"
expect_status 2 "sfx without a winqor beside aze" -- lonely/aze sfx -o dist/none.run plain.aze
expect_equal "missing stub message" "$err" \
  "aze: cannot read the winqor program to copy (give --stub PATH): $work/lonely/winqor"

# --- encrypted: the password on the terminal, or the run is abandoned ---
expect_status 0 "sfx of an encrypted archive" -- "$aze" sfx -o enc.run --stub "$probe" encrypted.aze
expect_status 0 "no terminal, no display" -- ./enc.run </dev/null
expect_equal "abandoned" "$out" "result -1"
[ ! -e enc ] || fail "an abandoned run created its folder"
terminal=$(on_terminal ./enc.run "Password: " wrong "Password: " Secret1)
expect_match "a wrong password asks again" "$terminal" "Password: "$'\n'"Password: "
expect_match "then the run takes place" "$terminal" "result 1"
expect_equal "encrypted tree" "$(describe_tree enc)" "$expected"
checks=$((checks + 1))
! grep -q 'Secret1\|wrong' <<<"$terminal" || fail "a typed password was echoed: $terminal"
rm -rf enc
terminal=$(on_terminal ./enc.run "Password: " wrong "Password: ")
expect_match "the end of input abandons" "$terminal" "result -1"
[ ! -e enc ] || fail "a run abandoned at the terminal created its folder"

# --- the reference archive of another writer, made into a program ---
if have_vectors "$vectors"; then
  cp "$vectors/plain.aze" reference.aze
  expect_status 0 "sfx of the reference archive" -- "$aze" sfx -o dist/reference.run --stub "$probe" reference.aze
  expect_status 0 "its run" -- dist/reference.run
  expect_equal "its tree" "$(describe_tree dist/reference)" "$(LC_ALL=C sort "$vectors/expected-tree.txt")"
else
  skip_checks 3 "$(no_vectors_reason "$vectors")"
fi

# --- Setup.exe ---
mkdir -p app/lib
printf '#!/bin/sh\npwd > "%s/setup-ran"\n' "$work" >app/Setup.exe
printf 'data\n' >app/lib/data.txt
"$pack" app app.aze --run-setup || fail "pack_tree failed"
expect_status 0 "sfx of an archive that runs Setup.exe" -- "$aze" sfx -o dist/app.run --stub "$probe" app.aze
expect_status 0 "the run with Setup.exe" -- dist/app.run
expect_equal "Setup.exe ran in the output folder" "$(cat setup-ran 2>/dev/null)" "$work/dist/app"
expect_equal "the files beside it" "$(cat dist/app/lib/data.txt)" "data"

# --- execute permission: kept by aze create and aze sfx DIR, given back under the umask ---
mkdir -p modes/bin
printf '#!/bin/sh\n' >modes/bin/tool && chmod 755 modes/bin/tool
printf '#!/bin/sh\n' >modes/private && chmod 700 modes/private
printf 'text\n' >modes/notes.txt && chmod 644 modes/notes.txt
printf 'fixed\n' >modes/fixed.txt && chmod 444 modes/fixed.txt
printf '#!/bin/sh\n' >modes/fixed-tool && chmod 555 modes/fixed-tool
expect_status 0 "aze create of a tree with executables" -- "$aze" create -o modes.aze modes
expect_status 0 "aze sfx of that tree" -- "$aze" sfx -o modes-run --stub "$probe" modes
declare -A wanted_modes=(
  [022]="bin/tool 755 fixed-tool 555 fixed.txt 444 notes.txt 644 private 744 "
  [077]="bin/tool 700 fixed-tool 500 fixed.txt 400 notes.txt 600 private 700 "
)
for mask in 022 077; do
  expect_status 0 "aze extract under umask $mask" -- \
    sh -c "umask $mask && '$aze' extract -C modes-$mask modes.aze"
  expect_equal "its modes under umask $mask" "$(modes_of modes-$mask)" "${wanted_modes[$mask]}"
  rm -rf modes-run.d
  expect_status 0 "the program's run under umask $mask" -- sh -c "umask $mask && ./modes-run"
  expect_equal "its modes under umask $mask" "$(modes_of modes-run.d)" "${wanted_modes[$mask]}"
done

# --- names with a terminal sequence and a forged line: escaped on the debug channel of aze -v
# and of the self-extracting run, the format's own tabs kept ---
mkdir -p named/$'red\e[31m' && printf 'x' >named/$'red\e[31m'/$'cr\rforged\nline\t'
"$aze" create -o named.aze named >/dev/null && "$aze" sfx -o dist/named.run --stub "$probe" named.aze >/dev/null ||
  fail "aze create and sfx of odd names"
for run in "$aze -v extract -C named-out named.aze" "dist/named.run"; do
  expect_status 0 "$run" -- $run
  expect_match "$run: the folder" "$err" '^OutputFolder:.*/red\\x1b\[31m$'
  expect_match "$run: the file" "$err" '^cr\\rforged\\nline\\t'$'\t\t''filesize = 1$'
  checks=$((checks + 1))
  ! grep -q $'[\e\r]\|^line' <<<"$err" || fail "$run: a raw control character or a forged line: $err"
done
expect_equal "the odd names extracted as they are" "$(describe_tree named-out)" "$(describe_tree named)"

# --- what aze sfx refuses ---
printf 'not an archive' >text.aze
head -c 300 plain.aze >short.aze
expect_status 2 "--run-setup with an archive" -- "$aze" sfx -o x.run --stub "$probe" --run-setup plain.aze
expect_status 2 "--password-file with an archive" -- "$aze" sfx -o x.run --stub "$probe" --password-file - plain.aze
expect_status 1 "not an archive" -- "$aze" sfx -o x.run --stub "$probe" text.aze
expect_equal "not an archive message" "$err" "aze: not an archive: shorter than its 256-byte header: text.aze"
expect_status 1 "a cut archive" -- "$aze" sfx -o x.run --stub "$probe" short.aze
expect_match "cut archive message" "$err" "ends before its payload does: short.aze$"
expect_status 1 "a missing archive" -- "$aze" sfx -o x.run --stub "$probe" missing.aze
expect_status 3 "an output that cannot be written" -- "$aze" sfx -o no/such/x.run --stub "$probe" plain.aze
expect_match "write failure message" "$err" "^aze: cannot write the program: .*: no/such/x.run$"
expect_status 2 "no -o" -- "$aze" sfx --stub "$probe" plain.aze
# strip drops everything past the ELF sections, the resource table too.
cp "$probe" stripped-stub && strip --strip-all stripped-stub
expect_status 2 "a stub stripped after the build" -- "$aze" sfx -o x.run --stub stripped-stub plain.aze
expect_equal "its message" "$err" "aze: not a winqor program: it has no resource table (strip removes it); copy the build's bin/winqor or the installed one as they are, or give --stub PATH: stripped-stub"
[ ! -e x.run ] || fail "a refused sfx wrote its program"

cp plain.aze not-embedded.aze
printf '\x00' | dd of=not-embedded.aze bs=1 seek=20 conv=notrunc status=none
expect_status 0 "an archive whose embedded byte is 0" -- "$aze" sfx -o dist/window.run --stub "$probe" not-embedded.aze
expect_match "warning" "$err" "^aze: warning: the archive's embedded byte is 0"
expect_status 0 "that program opens its window" -- dist/window.run
expect_equal "no self-extracting run" "$out" "result 0"
[ ! -e dist/window ] || fail "a program whose archive is not embedded extracted it"

# --- a folder as input ---
mkdir plain-folder
printf 'x\n' >plain-folder/a.txt
expect_status 1 "--run-setup for a folder without Setup.exe" -- "$aze" sfx -o x.run --stub "$probe" --run-setup plain-folder
expect_equal "its message" "$err" "aze: --run-setup needs a Setup.exe at the top of the folder: plain-folder"
rm -f setup-ran
"$aze" sfx -o dist/app2.run --stub "$probe" --run-setup app >/dev/null 2>folder.err && folder_status=0 || folder_status=$?
if grep -q "folder input is not available yet" folder.err; then
  echo "note: aze sfx DIR is not wired to the folder walk yet; its run is not tested"
else
  expect_equal "sfx of a folder" "$folder_status" "0"
  expect_status 0 "the run of a folder's program" -- dist/app2.run
  expect_equal "its Setup.exe ran" "$(cat setup-ran 2>/dev/null)" "$work/dist/app2"
fi

finish
