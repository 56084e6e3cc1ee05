#!/usr/bin/env bash
# The sandboxed child's limits, and what the parent checks of it: a taken-over child (the test
# builds' probe) can make no file larger than a record can be, touch no more memory than
# decoding needs, hold few descriptors and raise none of its limits; another architecture's
# entry point ends it; a change to the output folder's mode fails the run; its standard error
# reaches the parent's escaped and bounded. A good extraction of a 1,000-deep tree still works
# under the walls, through aze and a self-extracting program.
# usage: sandbox_limits.sh AZE PROBE
. "$(dirname "$0")/lib.sh"
aze=$(readlink -f "$1")
probe=$(readlink -f "$2")
cd "$work"
make_sample_archives "$aze"

WINQOR_TEST_FORBIDDEN=thread "$aze" -v test plain.aze >/dev/null 2>seam.err
grep -q "sandbox probe" seam.err || { echo "skipped: this build carries no sandbox probe (WINQOR_TEST_SEAMS)"; exit 77; }
grep -q "sandbox: walls up: no capability, limits" seam.err ||
  { echo "skipped: the sandbox's limits are not up: $(grep -i 'sandbox' seam.err)"; exit 77; }

refused="Operation not permitted"
too_large="File too large"
# call, then how it ends
limits="fallocate|$refused
ftruncate|$too_large
write-far|$too_large
descriptors|Too many open files
raise-limit|$refused
core-limit|0"
# The sanitizers' shadow memory is more than any memory limit, so their builds set none.
if ! ldd "$aze" | grep -q 'libasan\|libtsan'; then
  limits+="
memory|Cannot allocate memory"
fi
calls=$(cut -d'|' -f1 <<<"$limits" | paste -sd,)
mkdir tree && printf 'setup\n' >tree/Setup.txt
"$aze" sfx -o inst.run --stub "$probe" tree >/dev/null || fail "aze sfx failed"

for front in "aze extract" "a self-extracting program"; do
  rm -rf a inst
  if [ "$front" = "aze extract" ]; then set -- "$aze" -v extract -C a plain.aze; else set -- ./inst.run; fi
  expect_status 0 "$front" -- env WINQOR_TEST_FORBIDDEN="$calls" "$@"
  while IFS='|' read -r call ending; do
    expect_match "$front: $call" "$err" "sandbox probe: $call: $ending"
  done <<<"$limits"
  expect_equal "$front: no probe entry left" "$(find . -name 'sandbox-probe*' | wc -l)" 0
done

# Root that cannot shed its power (CAP_SETPCAP taken from its bounding set beforehand) does not
# go on with it: nothing is read or written.
if [ "$(id -u)" -eq 0 ]; then
  expect_status 4 "root without CAP_SETPCAP" -- setpriv --bounding-set -setpcap "$aze" extract -C powerful plain.aze
  expect_match "it says why" "$err" "privileges could not be shed: the bounding set cannot be emptied without CAP_SETPCAP"
  [ ! -e powerful ] || fail "the run that could not shed its power left its folder behind"
else
  skip_checks 3 "root's own case needs root"
fi

# Another architecture's entry point: the child ends, nothing is extracted.
expect_status 4 "an x32 call" -- env WINQOR_TEST_FORBIDDEN=x32 "$aze" extract -C x32 plain.aze
expect_match "an x32 call ends the child" "$err" "ended with signal 31"
[ ! -e x32 ] || fail "the x32 run left its folder behind"

# The parent holds the output folder: a child that changes its mode fails the run.
mkdir held && chmod 755 held
expect_status 4 "a changed output folder" -- env WINQOR_TEST_FORBIDDEN=folder-mode "$aze" extract -C held plain.aze
expect_match "the change is named" "$err" "the output folder was changed while the archive was read"
rm -rf inst
expect_status 204 "a changed output folder, self-extracting" -- env WINQOR_TEST_FORBIDDEN=folder-mode ./inst.run --quiet
expect_match "the self-extracting run names the change" "$err" "the output folder was changed"

# The child's standard error: the library's own lines come back, and what the child writes is
# escaped and bounded.
expect_status 0 "aze -v test" -- env WINQOR_TEST_FORBIDDEN=stderr-escape "$aze" -v test plain.aze
expect_match "the decoder's lines reach the parent" "$err" "combined CRCs: stored = 0x[0-9a-f]+, computed"
expect_match "a control character arrives escaped" "$err" 'probe \\x1b\[31mred'
printf '%s' "$err" | grep -q $'\x1b' && fail "an escape character reached the terminal"
expect_status 4 "a flood on standard error" -- env WINQOR_TEST_FORBIDDEN=stderr-flood "$aze" test plain.aze
expect_match "the flooding child is killed" "$err" "more than 1048576 bytes to its standard error"

# A tree 1,000 folders deep still extracts under the walls.
deep=deep-tree
path=$deep
for _ in $(seq 1 1000); do path+=/d; done
mkdir -p "$path" && printf 'bottom\n' >"$path/file.txt"
"$aze" create -o deep.aze "$deep" >/dev/null || fail "aze create of the deep tree"
expect_status 0 "aze extract of a 1,000-deep tree" -- "$aze" extract -C deep-out deep.aze
expect_equal "the deep tree extracted whole" "$(describe_tree deep-out)" "$(describe_tree "$deep")"
"$aze" sfx -o deep.run --stub "$probe" deep.aze >/dev/null || fail "aze sfx of the deep tree"
expect_status 0 "a self-extracting program of a 1,000-deep tree" -- ./deep.run
expect_equal "its tree extracted whole" "$(describe_tree deep)" "$(describe_tree "$deep")"

finish
