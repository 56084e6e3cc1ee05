#!/usr/bin/env bash
# The window and a destination too small for the tree (a tmpfs, so the test needs root): Extract
# writes nothing and stays silent, the reason with both figures on the debug channel, and the
# window stays open; a destination with room then extracts.
source "$(dirname "$0")/gui_lib.sh"
AZE=$(readlink -f "${4:?usage: $0 WINQOR MAKE_TEST_ARCHIVE CLOSE_REQUEST AZE}")

mkdir -p "$WORK/start" "$WORK/small" "$WORK/tree"
mount -t tmpfs -o size=1048576,mode=755 tmpfs "$WORK/small" 2> /dev/null ||
    { echo "SKIP: a tmpfs cannot be mounted here (the test needs root)"; exit 77; }
trap 'status=$?; umount "$WORK/small"; (exit $status); finish' EXIT
head -c 2000000 /dev/zero > "$WORK/tree/zeros"
"$AZE" create -o "$WORK/big.aze" "$WORK/tree" > /dev/null || fail "aze create"
start_xvfb
start_winqor "$WORK/start"

keys "$MAIN_WINDOW" Tab Tab
type_text "$MAIN_WINDOW" "$WORK/small/out"
keys "$MAIN_WINDOW" Tab Tab
type_text "$MAIN_WINDOW" "$WORK/big.aze"
keys "$MAIN_WINDOW" Return
wait_log "not enough free space in $WORK/small/out \([0-9,]+ bytes needed, [0-9,]+ free\)"
[ -z "$(find "$WORK/small" -type f)" ] || fail "a tree refused for room wrote files"
window_shown '^winQOR$' || fail "the window closed after a refusal"

# Back to the destination field: a folder with room extracts.
keys "$MAIN_WINDOW" shift+Tab shift+Tab ctrl+a
type_text "$MAIN_WINDOW" "$WORK/roomy"
keys "$MAIN_WINDOW" Return
wait_file "$WORK/roomy/zeros"
cmp -s "$WORK/roomy/zeros" "$WORK/tree/zeros" || fail "the roomy destination holds another file"

keys "$MAIN_WINDOW" Escape
wait_exit
[ "$EXIT_STATUS" -eq 0 ] || fail "winqor ended with status $EXIT_STATUS"
echo "PASS"
