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
# empty field, which is refused and moves the focus into the field. A focused button is pressed
# when its key is released, and OK checks the password at once, so the keys sent after it are
# handled after the check and need no wait; had a refused password closed the dialog, typing
# into it fails. (Return in the field presses OK only a moment later, with nothing to wait for
# from outside: so the wrong password is sent with Tab, to OK, and Return.)
type_text "$prompt" 'OpenSesame12345'
keys "$prompt" Return
# A wrong password is refused and cleared: were it kept, the right one typed after it would fail.
type_text "$prompt" 'opensesame12345' || fail "the dialog closed although the focus was not in the field"
[ -e "$WORK/out" ] && fail "an empty password extracted"
keys "$prompt" Tab Return
# The password has 15 characters, all the field takes: a character typed in front of them is
# refused, or the password would be wrong.
type_text "$prompt" 'OpenSesame12345' || fail "a wrong password closed the dialog"
[ -e "$WORK/out" ] && fail "a wrong password extracted"
keys "$prompt" Home
type_text "$prompt" 'Z'
keys "$prompt" Return
wait_window_gone '^Dialog$'
wait_tree "$WORK/out"
window_shown '^winQOR$' || fail "the main window closed after extracting"

# The main window's close box ends the program.
close_box "$MAIN_WINDOW"
wait_exit
[ "$EXIT_STATUS" -eq 0 ] || fail "winqor ended with status $EXIT_STATUS"
echo "PASS"
