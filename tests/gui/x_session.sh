# What both GUI suites (the GTK winqor's and winqor.exe's under Wine) do with a private X
# server: start it, wait for windows and for the program's end, and send keys with xdotool.
# Sourced by gui_lib.sh and wine_gui_lib.sh, which set before it:
#   WORK           the test's temporary folder
#   PROGRAM_NAME   the program's name in messages
#   PATIENCE       how many tenths of a second a window's closing or the program's end is waited for
#   WINDOW_PATIENCE  how many seconds a window's showing is waited for
#   XVFB_SCREEN    the screen's size, e.g. 1600x1200x24

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# A server of our own on a display number it picks itself, so tests can run side by side.
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 "$XVFB_SCREEN" -nolisten tcp 3> "$WORK/display" 2> "$WORK/xvfb.log" &
    XVFB_PID=$!
    for _ in $(seq 100); do
        [ -s "$WORK/display" ] && break
        sleep 0.1
    done
    [ -s "$WORK/display" ] || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
    DISPLAY=":$(head -n 1 "$WORK/display")"
    export DISPLAY
}

# Waits for a visible window with this title; prints its id.
wait_window() {
    local id
    id=$(timeout "$WINDOW_PATIENCE" xdotool search --sync --onlyvisible --name "$1" 2> /dev/null |
        head -n 1) || fail "no window titled $1 appeared"
    [ -n "$id" ] || fail "no window titled $1 appeared"
    echo "$id"
}

window_shown() {
    xdotool search --onlyvisible --name "$1" > /dev/null 2>&1
}

# Waits until no visible window has this title.
wait_window_gone() {
    for _ in $(seq "$PATIENCE"); do
        window_shown "$1" || return 0
        sleep 0.1
    done
    fail "the window titled $1 did not close"
}

# Gives the window the keyboard (no window manager does it here).
focus() {
    xdotool windowfocus --sync "$1"
}

keys() {  # window, keys...
    local window=$1
    shift
    focus "$window"
    xdotool key --clearmodifiers --delay 60 "$@"
}

type_text() {  # window, text
    focus "$1" && xdotool type --clearmodifiers --delay 30 "$2"
}

# Waits until the program has ended; its exit status in EXIT_STATUS.
wait_exit() {
    for _ in $(seq "$PATIENCE"); do
        kill -0 "$APP_PID" 2> /dev/null || break
        sleep 0.1
    done
    kill -0 "$APP_PID" 2> /dev/null && fail "$PROGRAM_NAME is still running"
    EXIT_STATUS=0
    wait "$APP_PID" || EXIT_STATUS=$?
    APP_PID=
}
