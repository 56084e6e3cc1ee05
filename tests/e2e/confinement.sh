#!/usr/bin/env bash
# Extraction is confined to its folder: a write that the walk's own checks would never make,
# tried outside the folder by the test builds' probe, fails through aze extract and through a
# self-extracting program, and succeeds when confinement is switched off (so the test can
# fail); so does every other change outside (a folder, links, a FIFO, removing, renaming,
# truncating). The Setup.exe a self-extracting program starts is not confined.
# usage: confinement.sh AZE PROBE
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
probe=$(readlink -f "$2")
cd "$work"
make_sample_archives "$aze"
denied="Permission denied"
refused="Operation not permitted"

WINQOR_TEST_ESCAPE_TO=$work/seam "$aze" -v extract -C seam-check plain.aze >/dev/null 2>seam.err
if ! grep -q "confinement probe" seam.err; then
  echo "skipped: this build carries no confinement probe (WINQOR_TEST_SEAMS)"
  exit 77
fi
rm -f seam
if grep -q "not confined" seam.err; then
  echo "skipped: this system cannot confine a process: $(grep 'not confined' seam.err)"
  exit 77
fi

# probe_run NAME ESCAPE COMMAND...: runs COMMAND with the probe aimed at ESCAPE.
probe_run() {
  local what=$1 escape=$2
  shift 2
  expect_status 0 "$what" -- env WINQOR_TEST_ESCAPE_TO="$escape" "$@"
}

probe_run "aze extract" "$work/by-aze" "$aze" -v extract -C a plain.aze
expect_match "aze extract's probe" "$err" "confinement probe: $work/by-aze: $denied"
[ ! -e by-aze ] || fail "aze extract wrote outside its folder"
probe_run "aze extract unconfined" "$work/by-aze" env WINQOR_TEST_UNCONFINED=1 "$aze" -v extract -C b plain.aze
expect_match "unconfined, the probe writes" "$err" "confinement probe: $work/by-aze: written"
[ -e by-aze ] || fail "the unconfined probe did not write: the test could not fail"

# Every other way out of the folder, each tried alone on an entry outside it: the call, then
# what the entry is before the run ("file", "folder" or nothing).
ways="mkdir|
symlink|
link|file
mkfifo|
unlink|file
rmdir|folder
rename|file
truncate|file"
# The entries of a folder with their type, size and link count, to see any change.
entries() { (cd "$1" && find . -mindepth 1 -printf '%y %P %s %n\n' | LC_ALL=C sort); }
# prepare WHAT: a fresh folder "outside" holding, as "target", what the way's row names.
prepare() {
  rm -rf outside && mkdir outside
  case $1 in
    file) printf 'keep\n' >outside/target ;;
    folder) mkdir outside/target ;;
  esac
}
while IFS='|' read -r way before; do
  prepare "$before"
  unchanged=$(entries outside)
  expect_status 0 "aze extract, $way" -- env WINQOR_TEST_ESCAPE_TO="$work/outside/target" \
    WINQOR_TEST_ESCAPE_BY="$way" "$aze" -v extract -C "by-$way" plain.aze
  # Landlock denies the path, or the allow-list the call itself (the walk never makes it).
  expect_match "$way outside the folder" "$err" "confinement probe: $way $work/outside/target: ($denied|$refused)"
  expect_equal "$way changed nothing outside" "$(entries outside)" "$unchanged"
  expect_equal "$way: the archive still extracts" "$(describe_tree "by-$way")" "$expected"
  # Unconfined, the same call changes the entry: the check above could fail.
  prepare "$before"
  expect_status 0 "aze extract unconfined, $way" -- env WINQOR_TEST_UNCONFINED=1 \
    WINQOR_TEST_ESCAPE_TO="$work/outside/target" WINQOR_TEST_ESCAPE_BY="$way" \
    "$aze" -v extract -C "free-$way" plain.aze
  expect_match "unconfined, $way is done" "$err" "confinement probe: $way $work/outside/target: done"
  [ "$(entries outside)" != "$unchanged" ] || fail "unconfined, $way changed nothing: the test could not fail"
done <<<"$ways"

mkdir tree && printf '#!/bin/sh\ntouch "%s/setup-wrote"\n' "$work" >tree/Setup.exe
"$aze" sfx -o inst.run --stub "$probe" --run-setup tree >/dev/null || fail "aze sfx failed"
probe_run "a self-extracting program" "$work/by-sfx" ./inst.run
expect_match "its probe" "$err" "confinement probe: $work/by-sfx: $denied"
[ ! -e by-sfx ] || fail "the self-extracting run wrote outside its folder"
[ -e setup-wrote ] || fail "Setup.exe could not write outside the folder"
rm -rf inst
probe_run "a self-extracting program unconfined" "$work/by-sfx" env WINQOR_TEST_UNCONFINED=1 ./inst.run
[ -e by-sfx ] || fail "the unconfined probe did not write: the test could not fail"

finish
