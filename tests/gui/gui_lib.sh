# Shared steps of the GUI tests: a private X server, the program under test, keys sent with
# xdotool, and a screenshot when a test fails. Sourced by each test script.
set -euo pipefail

usage="usage: $0 WINQOR MAKE_TEST_ARCHIVE CLOSE_REQUEST"
WINQOR=$(readlink -f "${1:?$usage}")
MAKE_ARCHIVE=$(readlink -f "${2:?$usage}")
CLOSE_REQUEST=$(readlink -f "${3:?$usage}")
TEST_NAME=$(basename "$0" .sh)

for tool in Xvfb xdotool xprop import; do
    command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/winqor-$TEST_NAME.XXXXXX")
# Screenshots of failed runs stay where the test ran (the build's test folder).
SHOTS=${GUI_SCREENSHOT_DIR:-$PWD}
XVFB_PID=
APP_PID=
PROGRAM_NAME=winqor PATIENCE=100 WINDOW_PATIENCE=20 XVFB_SCREEN=1600x1200x24
source "$(dirname "${BASH_SOURCE[0]}")/x_session.sh"

# A fresh, quiet GTK session: no settings daemon, no accessibility bus, a HOME of its own.
export HOME=$WORK/home GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 GTK_THEME=Adwaita
export XDG_RUNTIME_DIR=$WORK/runtime XDG_CONFIG_HOME=$WORK/home/.config
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY

screenshot() {  # name
    [ -n "${DISPLAY:-}" ] || return 0
    import -display "$DISPLAY" -window root "$SHOTS/$1.png" 2> /dev/null &&
        echo "screenshot: $SHOTS/$1.png" >&2
}

finish() {
    local status=$?
    if [ "$status" -ne 0 ] && [ "$status" -ne 77 ]; then
        screenshot "$TEST_NAME-failure"
        [ -f "$WORK/winqor.log" ] && { echo "--- winqor's output:" >&2; tail -n 40 "$WORK/winqor.log" >&2; }
    fi
    [ -n "$APP_PID" ] && kill "$APP_PID" 2> /dev/null || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2> /dev/null || true
    wait 2> /dev/null || true
    rm -rf "$WORK"
    exit "$status"
}
trap finish EXIT

# Starts winqor in folder $1 (its current directory), with the arguments that follow.
start_winqor() {
    local folder=$1
    shift
    (cd "$folder" && exec "$WINQOR" "$@") > "$WORK/winqor.log" 2>&1 &
    APP_PID=$!
    MAIN_WINDOW=$(wait_window '^winQOR$')
}

# Waits until a menu of the program is shown: keys sent after that go to the menu, which holds
# the keyboard from the moment it is shown.
wait_menu() {
    local id
    for _ in $(seq 100); do
        for id in $(xdotool search --onlyvisible --pid "$APP_PID" 2> /dev/null); do
            xprop -id "$id" _NET_WM_WINDOW_TYPE 2> /dev/null | grep -q _NET_WM_WINDOW_TYPE_POPUP_MENU &&
                return 0
        done
        sleep 0.1
    done
    fail "no menu was shown"
}

# Whether the window with this title goes within a few seconds.
window_goes() {
    for _ in $(seq 30); do
        window_shown "$1" || return 0
        sleep 0.1
    done
    return 1
}

# The close box of the window's title bar.
close_box() {
    "$CLOSE_REQUEST" "$1"
}

# Waits until a file exists (an extraction runs inside the Extract command).
wait_file() {
    for _ in $(seq 100); do
        [ -e "$1" ] && return 0
        sleep 0.1
    done
    fail "$1 was not written"
}

# Waits until winqor's output holds a line matching the pattern (grep -E).
wait_log() {
    for _ in $(seq 100); do
        grep -qE "$1" "$WORK/winqor.log" && return 0
        sleep 0.1
    done
    fail "winqor's output never said /$1/"
}

# Waits until a folder holds exactly the sample tree of make_test_archive.
wait_tree() {
    for _ in $(seq 100); do
        "$MAKE_ARCHIVE" --check "$1" > /dev/null 2>&1 && return 0
        sleep 0.1
    done
    "$MAKE_ARCHIVE" --check "$1" || fail "$1 does not hold the archive's tree"
}

# The files below a folder with their contents' digests, one per line, sorted.
tree_digest() {
    (cd "$1" && find . -type f -print0 | sort -z | xargs -0 -r md5sum)
}
