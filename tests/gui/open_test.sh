#!/usr/bin/env bash
# winqor started with an archive, as the desktop starts it for a double-clicked file: a path
# (relative to where it starts) or a file: URI opens the window with both fields filled, and
# Extract writes the tree; a missing file leaves the fields empty; a self-extracting program
# ignores the argument.
source "$(dirname "$0")/gui_lib.sh"
AZE=$(readlink -f "${4:?usage: $0 WINQOR MAKE_TEST_ARCHIVE CLOSE_REQUEST AZE}")

mkdir -p "$WORK/start/sub" "$WORK/spaced dir" "$WORK/sfx"
"$MAKE_ARCHIVE" "$WORK/start/sub/plain.aze"
"$MAKE_ARCHIVE" "$WORK/spaced dir/my pkg.aze"
start_xvfb

# Given an archive, a self-extracting program still unpacks only its own, into its own folder,
# and opens no window (it would not end by itself if it did).
"$AZE" sfx -o "$WORK/sfx/pack.run" --stub "$WINQOR" "$WORK/start/sub/plain.aze" > /dev/null
timeout 60 "$WORK/sfx/pack.run" "$WORK/start/sub/plain.aze" > "$WORK/winqor.log" 2>&1 ||
    fail "the self-extracting program given an argument ended with status $?"
"$MAKE_ARCHIVE" --check "$WORK/sfx/pack" || fail "the self-extracting run differs from its archive"
[ ! -e "$WORK/start/sub/plain" ] || fail "the self-extracting program extracted its argument"

# "argument|folder the default destination names": the focus starts on Extract, so Return
# extracts what the fields hold.
cases=(
    "sub/plain.aze|$WORK/start/sub/plain"
    "file://${WORK// /%20}/spaced%20dir/my%20pkg.aze|$WORK/spaced dir/my pkg"
)
for entry in "${cases[@]}"; do
    start_winqor "$WORK/start" "${entry%%|*}" "ignored.aze"
    keys "$MAIN_WINDOW" Return
    wait_tree "${entry#*|}"
    keys "$MAIN_WINDOW" Escape
    wait_exit
done

# A missing file leaves both fields empty: once it exists, Extract still has nothing to load.
# The extraction typed afterwards runs after that Extract, so its tree shows the first is done.
start_winqor "$WORK/start" later.aze
cp "$WORK/start/sub/plain.aze" "$WORK/start/later.aze"
keys "$MAIN_WINDOW" Return Tab Tab
type_text "$MAIN_WINDOW" "$WORK/typed"
keys "$MAIN_WINDOW" Tab Tab
type_text "$MAIN_WINDOW" "$WORK/start/later.aze"
keys "$MAIN_WINDOW" Return
wait_tree "$WORK/typed"
[ ! -e "$WORK/start/later" ] || fail "a file missing at start was taken as the archive"
echo "PASS"
