#!/usr/bin/env bash
# An encrypted archive: the password dialog ("Dialog") opens over the main window and Esc
# cancels it; the focus starts on OK, so Return checks the empty field, which is refused and
# gets the focus; a wrong password is refused and cleared; the field takes no more than 15
# characters: five typed in front of the right 15-character password are refused, and it
# extracts.
source "$(dirname "$0")/wine_gui_lib.sh"

make_sample_tree "$WORK/tree"
printf 'OpenSesame12345\n' > "$WORK/password"
"$AZE" create --password-file "$WORK/password" -o "$WORK/locked.aze" "$WORK/tree" > /dev/null
start_xvfb
start_winqor "$WORK"

type_paths "$WORK/out" "$WORK/locked.aze"

keys "$MAIN_WINDOW" Return
prompt=$(wait_window '^Dialog$')
keys "$prompt" Escape
wait_window_gone '^Dialog$'
window_shown '^winQOR$' || fail "the main window closed after a cancelled password"
[ -e "$WORK/out" ] && fail "a cancelled password wrote $WORK/out"

keys "$MAIN_WINDOW" Return
prompt=$(wait_window '^Dialog$')
keys "$prompt" Return
# A refused password must leave the field empty: were the wrong one kept, the right one typed
# after it would not fit, and the dialog would never close. (End: the focus coming back selects
# the field's text, which typing would replace.)
type_text "$prompt" 'opensesame12345'
keys "$prompt" Return End
# Only the first 15 characters count, so the five extra ones must come first to show.
type_text "$prompt" 'OpenSesame12345'
keys "$prompt" Home
type_text "$prompt" 'XXXXX'
keys "$prompt" Return
wait_window_gone '^Dialog$'
wait_tree "$WORK/tree" "$WORK/out"
window_shown '^winQOR$' || fail "the main window closed after extracting"

keys "$MAIN_WINDOW" Escape
wait_exit
[ "$EXIT_STATUS" -eq 0 ] || fail "winqor.exe ended with status $EXIT_STATUS"
echo "PASS"
