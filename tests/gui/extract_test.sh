#!/usr/bin/env bash
# The main window by keyboard alone: the tab order reaches both fields, Enter in either field
# extracts, a second extraction writes over the first, Esc ends the program.
source "$(dirname "$0")/gui_lib.sh"

mkdir -p "$WORK/start"
"$MAKE_ARCHIVE" "$WORK/sample.aze"
start_xvfb
start_winqor "$WORK/start"

# The focus starts on Extract: Tab, Tab reaches the destination, two more the archive.
keys "$MAIN_WINDOW" Tab Tab
type_text "$MAIN_WINDOW" "$WORK/out"
keys "$MAIN_WINDOW" Tab Tab
type_text "$MAIN_WINDOW" "$WORK/sample.aze"
keys "$MAIN_WINDOW" Return
wait_tree "$WORK/out"

# Again over the same files, with Enter in the destination field: each file is replaced.
echo changed > "$WORK/out/hello.txt"
rm "$WORK/out/docs/notes.txt"
keys "$MAIN_WINDOW" shift+Tab shift+Tab Return
wait_tree "$WORK/out"
window_shown '^winQOR$' || fail "the window closed after extracting"

keys "$MAIN_WINDOW" Escape
wait_exit
[ "$EXIT_STATUS" -eq 0 ] || fail "winqor ended with status $EXIT_STATUS"
echo "PASS"
