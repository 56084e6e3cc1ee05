#!/usr/bin/env bash
# An encrypted archive: the password dialog opens with the focus on OK, a wrong password is
# refused with the field cleared and focused, the right one extracts; Cancel writes nothing and
# leaves the main window open. The field takes no 16th character.
source "$(dirname "$0")/gui_lib.sh"

mkdir -p "$WORK/start"
"$MAKE_ARCHIVE" "$WORK/locked.aze" 'OpenSesame12345'
start_xvfb
start_winqor "$WORK/start"

keys "$MAIN_WINDOW" Tab Tab
type_text "$MAIN_WINDOW" "$WORK/out"
keys "$MAIN_WINDOW" Tab Tab
type_text "$MAIN_WINDOW" "$WORK/locked.aze"

# Cancel, by the button (the tab order's second stop), by Esc and by the close box: nothing is
# written.
for cancel in "Tab Return" "Escape" "close box"; do
    keys "$MAIN_WINDOW" Return
    prompt=$(wait_window '^Dialog$')
    if [ "$cancel" = "close box" ]; then
        close_box "$prompt"
    else
        # shellcheck disable=SC2086
        keys "$prompt" $cancel
    fi
    wait_window_gone '^Dialog$'
    [ -e "$WORK/out" ] && fail "a cancelled password ($cancel) wrote $WORK/out"
    window_shown '^winQOR$' || fail "the main window closed after a cancelled password"
done

keys "$MAIN_WINDOW" Return
prompt=$(wait_window '^Dialog$')
# The focus is on OK, not in the field: what is typed now is lost, and Return presses OK on an
# empty field, which is refused and moves the focus into the field.
type_text "$prompt" 'OpenSesame12345'
keys "$prompt" Return
sleep 0.5
window_shown '^Dialog$' || fail "the dialog closed although the focus was not in the field"
[ -e "$WORK/out" ] && fail "an empty password extracted"
# A wrong password is refused and cleared: were it kept, the right one typed after it would fail.
type_text "$prompt" 'opensesame12345'
keys "$prompt" Return
sleep 0.5
window_shown '^Dialog$' || fail "a wrong password closed the dialog"
[ -e "$WORK/out" ] && fail "a wrong password extracted"
# The password has 15 characters, all the field takes: a character typed in front of them is
# refused, or the password would be wrong.
type_text "$prompt" 'OpenSesame12345'
keys "$prompt" Home
type_text "$prompt" 'Z'
keys "$prompt" Return
wait_window_gone '^Dialog$'
wait_file "$WORK/out/docs/deep/empty.txt"
sleep 0.5
"$MAKE_ARCHIVE" --check "$WORK/out" || fail "the extracted tree differs from the archive"
window_shown '^winQOR$' || fail "the main window closed after extracting"

# The main window's close box ends the program.
close_box "$MAIN_WINDOW"
wait_exit
[ "$EXIT_STATUS" -eq 0 ] || fail "winqor ended with status $EXIT_STATUS"
echo "PASS"
