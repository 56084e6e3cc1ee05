#!/usr/bin/env bash
# The system menu ends with "&About winQOR..." (below Wine's own "About Wine"): Alt+Space opens
# the menu, Up wraps round to its last entry, Return opens the About box; Esc and OK close it and
# leave the main window open.
source "$(dirname "$0")/wine_gui_lib.sh"

start_xvfb
start_winqor "$WORK"

for close in Escape Return; do
    keys "$MAIN_WINDOW" alt+space Up Return
    about=$(wait_window '^About winQOR$')
    keys "$about" "$close"
    wait_window_gone '^About winQOR$'
    window_shown '^winQOR$' || fail "closing the About box with $close closed the main window"
done

keys "$MAIN_WINDOW" Escape
wait_exit
[ "$EXIT_STATUS" -eq 0 ] || fail "winqor.exe ended with status $EXIT_STATUS"
echo "PASS"
