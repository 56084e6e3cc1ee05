#!/usr/bin/env bash
# The window menu: right-click, Alt+Space and Shift+F10 open it; its last entry "About winQOR..."
# (mnemonic A) opens the About box, which Esc, OK and the close box close; its Close entry ends
# the program. The window carries the application icon in both sizes.
source "$(dirname "$0")/gui_lib.sh"

mkdir -p "$WORK/start"
start_xvfb
start_winqor "$WORK/start"

open_about_with() {  # how the menu is opened
    case $1 in
        right-click)
            focus "$MAIN_WINDOW"
            # The window's empty corner, away from the fields and buttons.
            xdotool mousemove --window "$MAIN_WINDOW" 3 3 click 3
            ;;
        *) keys "$MAIN_WINDOW" "$1" ;;
    esac
    wait_menu
    xdotool key --delay 60 a
    wait_window '^About winQOR$'
}

for how in right-click alt+space shift+F10; do
    about=$(open_about_with "$how")
    keys "$about" Escape
    wait_window_gone '^About winQOR$'
    window_shown '^winQOR$' || fail "closing the About box (opened by $how) closed the main window"
done

about=$(open_about_with shift+F10)
keys "$about" Return
wait_window_gone '^About winQOR$'
about=$(open_about_with alt+space)
close_box "$about"
wait_window_gone '^About winQOR$'

if command -v xprop > /dev/null; then
    icons=$(xprop -id "$MAIN_WINDOW" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' | sort | tr '\n' ' ')
    [ "$icons" = "Icon (16 x 16) Icon (32 x 32) " ] || fail "the window's icons are: $icons"
fi

keys "$MAIN_WINDOW" shift+F10
wait_menu
xdotool key --delay 60 c
wait_exit
[ "$EXIT_STATUS" -eq 0 ] || fail "winqor ended with status $EXIT_STATUS"
echo "PASS"
