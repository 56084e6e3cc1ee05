#!/usr/bin/env bash
# An archive extracted by keyboard alone: the focus starts on Extract, the tab order reaches the
# destination and then the archive field, Enter extracts and the window stays open; Esc ends the
# program with status 0.
source "$(dirname "$0")/wine_gui_lib.sh"

make_sample_tree "$WORK/tree"
"$AZE" create -o "$WORK/sample.aze" "$WORK/tree" > /dev/null
start_xvfb
start_winqor "$WORK"

type_paths "$WORK/out" "$WORK/sample.aze"
keys "$MAIN_WINDOW" Return
wait_tree "$WORK/tree" "$WORK/out"
window_shown '^winQOR$' || fail "the window closed after extracting"

keys "$MAIN_WINDOW" Escape
wait_exit
[ "$EXIT_STATUS" -eq 0 ] || fail "winqor.exe ended with status $EXIT_STATUS"
echo "PASS"
