#!/usr/bin/env bash
# The Windows self-extracting program end to end, under Wine: aze sfx --windows puts an archive
# into winqor.exe; the result unpacks beside itself, starts the Setup.exe it carried in the
# output folder with the inherited environment, waits for it and exits with its status; the
# debug trace holds the run's lines; names Windows would take for devices or streams are refused.
# A Setup.exe that asks for an administrator's rights is started too, and a signed installer
# verifies and still unpacks.
# usage: sfx_test.sh AZE WINQOR_EXE SETUP_PROBE_EXE SETUP_PROBE_ADMIN_EXE [seams], in the Wine
# prefix that WINEPREFIX names (the Windows tests' fixture makes it and keeps its server
# running). "seams": winqor.exe carries the test seams (WINQOR_TEST_SEAMS).
source "$(dirname "$0")/../e2e/lib.sh"
aze=$1 stub=$2 probe=$3 admin_probe=$4 seams=${5:-}
for tool in wine wineserver; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

[ -n "${WINEPREFIX:-}" ] || { echo "skipped: no Wine prefix (WINEPREFIX)"; exit 77; }
export WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY

# Runs a Windows program with the debug channel on standard error ($trace), its status in $status.
run_windows() {
  WINEDEBUG=-all,warn+seh wine "$@" >"$work/stdout" 2>"$work/trace" && status=0 || status=$?
  trace=$(cat "$work/trace")
}
windows_path() { winepath -w "$1" 2>/dev/null; }

# The program's manifest, read by an independent parser: exactly one (type 24, id 1), and it
# asks for no rights of its own, so that Windows' installer detection leaves setup.exe alone.
if /usr/bin/python3 -c 'import pefile' 2>/dev/null; then
  manifest=$(/usr/bin/python3 - "$stub" <<'PY'
import sys, pefile, xml.etree.ElementTree as tree
pe = pefile.PE(sys.argv[1])
found = [(name.id, lang.data.struct)
         for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries if kind.id == 24
         for name in kind.directory.entries for lang in name.directory.entries]
assert len(found) == 1 and found[0][0] == 1, found
data = found[0][1]
root = tree.fromstring(pe.get_data(data.OffsetToData, data.Size))
levels = [e.get("level") for e in root.iter() if e.tag.endswith("requestedExecutionLevel")]
aware = [e.text for e in root.iter() if e.tag.endswith("longPathAware")]
print(",".join(levels), ",".join(aware))
PY
  ) || fail "winqor.exe's manifest does not parse"
  expect_equal "one manifest, asInvoker and long-path aware" "$manifest" "asInvoker true"
else
  skip_checks 1 "python3-pefile is not installed (the manifest)"
fi

mkdir -p "$work/dist/docs" "$work/dl"
printf 'read me\n' >"$work/dist/readme.txt"
head -c 200000 /dev/urandom >"$work/dist/docs/blob.bin"
cp "$probe" "$work/dist/Setup.exe"

expect_status 0 "aze sfx --windows" -- "$aze" sfx --windows --stub "$stub" --run-setup \
  -o "$work/dl/setup.exe" "$work/dist"

export WINQOR_PROBE_RECORD=$(windows_path "$work/probe.txt") WINQOR_PROBE_MARK=inherited
WINQOR_PROBE_EXIT=7 run_windows "$work/dl/setup.exe"
expect_equal "the run exits with Setup.exe's status" "$status" 7
rm "$work/dl/setup/Setup.exe"
expect_equal "the tree unpacks beside the program" "$(describe_tree "$work/dl/setup")" \
  "$(cd "$work/dist" && rm Setup.exe && describe_tree .)"
expect_equal "Setup.exe ran in the output folder, with the environment" \
  "$(tr -d '\r' <"$work/probe.txt")" "$(windows_path "$work/dl/setup")"$'\n'inherited
for line in 'CWinQORDlg::Prepare\n' 'found SETUP_ARCHIVE resource\n' 'readme.txt\t\tfilesize = 8\n'; do
  expect_match "the trace holds $line" "$trace" "OutputDebugString[AW] \"$(printf '%s' "$line" | sed 's/\\/\\\\/g')\""
done
expect_match "the trace names the output folder" "$trace" 'OutputFolder:[A-Z]:\\\\.*\\\\dl\\\\setup'

# The switches, one row each: exit status | what Setup.exe recorded after its folder and mark,
# its arguments bracketed ("-": not started) | the folder that holds the tree | the arguments.
# Folders are below $work; the arguments for Setup.exe keep their spaces, quotes and
# backslashes through the quoting of its command line.
unset WINQOR_PROBE_MARK
while IFS='|' read -r want record tree arguments; do
  [ -n "$want" ] || continue
  rm -f "$work/probe.txt"
  eval "set -- $arguments"
  WINQOR_PROBE_EXIT=$want run_windows "$work/dl/setup.exe" "$@"
  expect_equal "$arguments: status" "$status" "$want"
  got=$(tr -d '\r' <"$work/probe.txt" 2>/dev/null | tail -n +3 | tr '\n' '^')
  [ -f "$work/probe.txt" ] || got=-
  expect_equal "$arguments: Setup.exe's arguments" "$got" "$record"
  if [ "$tree" != - ]; then
    expect_equal "$arguments: the tree in $tree" "$(describe_tree "$work/$tree" | grep -v Setup.exe)" \
      "$(describe_tree "$work/dl/setup" | grep -v Setup.exe)"
  fi
done <<TABLE
3|[a b]^[say "hi"]^[C:\\my dir\\]^[/S]^|t1|--target '$(windows_path "$work/t1")' 'a b' 'say "hi"' 'C:\\my dir\\' /S
0|-|t2|--extract-only --target '$(windows_path "$work/t2")'
4|[--target]^[x]^|t3|--target='$(windows_path "$work/t3")' -- --target x
201|-|-|--target
TABLE
WINQOR_PROBE_EXIT=9 run_windows "$work/dl/setup.exe" --log "$(windows_path "$work/run.log")" \
  --target "$(windows_path "$work/t4")" --quiet
expect_equal "--log: Setup.exe's status" "$status" 9
expect_match "--log: the first line names the program" "$(head -n 1 "$work/run.log")" \
  '^winqor 1\.0: [A-Z]:\\.*\\dl\\setup\.exe --log .*run\.log --target .*t4 --quiet'
expect_match "--log: the trace" "$(cat "$work/run.log")" 'OutputFolder:[A-Z]:\\.*\\t4'
expect_equal "--log: the last line" "$(tail -n 1 "$work/run.log")" \
  "winqor: exit status 9: Setup.exe's own status"
run_windows "$work/dl/setup.exe" --help
expect_match "--help: written to the standard output it was given" "$(cat "$work/stdout")" \
  '^ +205 +Setup\.exe could not be started'
export WINQOR_PROBE_MARK=inherited

# A Setup.exe that starts a copy of itself and exits is waited for until the copy ends too.
WINQOR_PROBE_LINGER=1 run_windows "$work/dl/setup.exe"
expect_equal "the run waited for what Setup.exe started" "$(tr -d '\r' <"$work/probe.txt" | tail -n 1)" \
  "copy ended"

# A second run over the tree it wrote, Setup.exe exiting 0: the program exits 0.
rm -f "$work/probe.txt"
run_windows "$work/dl/setup.exe"
expect_equal "a run whose Setup.exe succeeds exits 0" "$status" 0

# A walk that fails part way (a folder stands where a file goes) starts no Setup.exe and exits 1.
rm -f "$work/probe.txt" "$work/dl/setup/readme.txt" && mkdir "$work/dl/setup/readme.txt"
run_windows "$work/dl/setup.exe"
expect_equal "a failed walk exits 1" "$status" 1
expect_equal "a failed walk starts no Setup.exe" "$([ -e "$work/probe.txt" ] && echo started)" ""
expect_match "a failed walk says so" "$trace" 'OutputDebugString[AW] "qorOutputArchive:unexpected error\\n"'
rmdir "$work/dl/setup/readme.txt" && cp "$work/dist/readme.txt" "$work/dl/setup/readme.txt"

# An installer whose manifest asks for an administrator's rights: CreateProcessW refuses it with
# ERROR_ELEVATION_REQUIRED on Windows, and the shell then starts it. Wine starts it like any
# other program, so the test seam makes CreateProcessW's refusal happen here.
mkdir -p "$work/admin"
cp "$admin_probe" "$work/admin/Setup.exe"
expect_status 0 "aze sfx --windows of an elevating installer" -- "$aze" sfx --windows \
  --stub "$stub" --run-setup -o "$work/dl/admin.exe" "$work/admin"
rm -f "$work/probe.txt"
WINQOR_TEST_ELEVATION_REQUIRED=1 WINQOR_PROBE_EXIT=5 run_windows "$work/dl/admin.exe"
expect_equal "the elevating Setup.exe ran" "$(tr -d '\r' <"$work/probe.txt" 2>/dev/null | head -n 1)" \
  "$(windows_path "$work/dl/admin")"
expect_equal "and its status is passed on" "$status" 5
if [ -n "$seams" ]; then
  expect_match "through the shell, after CreateProcessW's refusal" "$trace" \
    'test seam: CreateProcessW refused as needing elevation'
fi

# Signed after aze sfx, with a throw-away certificate: the signature verifies, and the signed
# installer still unpacks (its archive lies in a resource section, which signing leaves alone).
if command -v osslsigncode >/dev/null && command -v openssl >/dev/null; then
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=winqor test" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null || fail "openssl req"
  expect_status 0 "osslsigncode sign" -- osslsigncode sign -certs "$work/cert.pem" \
    -key "$work/key.pem" -n "winqor test" -in "$work/dl/setup.exe" -out "$work/dl/signed.exe"
  expect_status 0 "osslsigncode verify" -- osslsigncode verify -CAfile "$work/cert.pem" \
    -in "$work/dl/signed.exe"
  run_windows "$work/dl/signed.exe"
  rm -f "$work/dl/signed/Setup.exe" "$work/dl/setup/Setup.exe"
  expect_equal "the signed installer unpacks" "$(describe_tree "$work/dl/signed")" \
    "$(describe_tree "$work/dl/setup")"
  expect_status 2 "aze sfx refuses a signed program as its stub" -- "$aze" sfx --windows \
    --stub "$work/dl/signed.exe" -o "$work/dl/resigned.exe" "$work/admin"
  expect_match "and says why" "$err" "signed"
fi

# Names Windows takes for devices, or that end in a dot or a space, never reach the disk; the
# archive is refused at that record and nothing is written outside the output folder. The
# whole stream is checked first: 0.txt, stored before them, is not written either.
mkdir -p "$work/hazards"
for name in 0.txt CON NUL.txt com1.log 'trail.' 'space '; do printf 'x' >"$work/hazards/$name"; done
expect_status 0 "aze sfx --windows of hazardous names" -- "$aze" sfx --windows --stub "$stub" \
  -o "$work/dl/hazards.exe" "$work/hazards"
run_windows "$work/dl/hazards.exe"
expect_equal "a run that met such a name fails" "$status" 1
expect_equal "nothing was written" "$(ls -A "$work/dl/hazards" 2>/dev/null)" ""
expect_match "the failure is on the debug channel" "$trace" 'qorOutputArchive:unexpected error'
finish
