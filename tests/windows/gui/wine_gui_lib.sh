# shellcheck shell=bash
# Shared steps of winqor.exe's GUI tests: a private X server, the program under Wine, keys sent
# with xdotool, a screenshot when a test fails. Sourced by each test script, which is run as
#   TEST.sh WINQOR_EXE AZE WINEPREFIX
# AZE is a Linux aze, which writes the test archives; WINEPREFIX is the prefix of the Windows
# tests (wine_prefix.sh makes it when it is missing).
set -euo pipefail

usage="usage: $0 WINQOR_EXE AZE WINEPREFIX"
WINQOR=$(readlink -f "${1:?$usage}")
AZE=${2?$usage}
WINEPREFIX=$(realpath -m "${3:?$usage}")
TEST_NAME=$(basename "$0" .sh)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

for tool in wine Xvfb xdotool; do
    command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
if [ -z "$AZE" ] || [ ! -x "$AZE" ]; then
    echo "SKIP: no Linux aze to write the test archives (WINQOR_LINUX_AZE)"
    exit 77
fi
[ -f "$WINEPREFIX/.winqor-ready" ] || bash "$(dirname "$0")/../wine_prefix.sh" start "$WINEPREFIX"

WORK=$(mktemp -d "${TMPDIR:-/tmp}/winqor-win-$TEST_NAME.XXXXXX")
# Screenshots of failed runs stay where the test ran (the build's test folder).
SHOTS=${GUI_SCREENSHOT_DIR:-$PWD}
XVFB_PID=
APP_PID=
# Wine's windows are slower to come and go than GTK's.
PROGRAM_NAME=winqor.exe PATIENCE=200 WINDOW_PATIENCE=60 XVFB_SCREEN=1280x1024x24
source "$(dirname "${BASH_SOURCE[0]}")/../../gui/x_session.sh"

# The name Wine gives a Linux path: the whole file system is drive Z:.
winpath() {
    local path=${1//\//\\}
    printf 'Z:%s' "$path"
}

screenshot() {  # name
    [ -n "${DISPLAY:-}" ] && command -v import > /dev/null || return 0
    import -display "$DISPLAY" -window root "$SHOTS/$1.png" 2> /dev/null &&
        echo "screenshot: $SHOTS/$1.png" >&2
}

# The prefix's desktop process (explorer.exe) lives on the display of the program that started
# it; it ends with our X server, and the next test must not meet it half gone.
stop_display() {
    local desktop
    desktop=$(xdotool search --class explorer.exe getwindowpid 2> /dev/null | head -n 1) || true
    kill "$XVFB_PID" 2> /dev/null || true
    wait "$XVFB_PID" 2> /dev/null || true
    [ -n "$desktop" ] || return 0
    for _ in $(seq 100); do
        kill -0 "$desktop" 2> /dev/null || return 0
        sleep 0.1
    done
    kill "$desktop" 2> /dev/null || true
}

finish() {
    local status=$?
    if [ "$status" -ne 0 ] && [ "$status" -ne 77 ]; then
        screenshot "windows-$TEST_NAME-failure"
        [ -f "$WORK/winqor.log" ] && { echo "--- winqor.exe's output:" >&2; tail -n 40 "$WORK/winqor.log" >&2; }
    fi
    if [ -n "$APP_PID" ]; then kill "$APP_PID" 2> /dev/null || true; fi
    if [ -n "$XVFB_PID" ]; then stop_display; fi
    rm -rf "$WORK"
    exit "$status"
}
trap finish EXIT

# Whether the prefix's desktop process runs without a display. wine_prefix.sh starts Wine's
# services without one, and the desktop process that comes with them has no display driver:
# a window opened while it lives would go nowhere. It ends by itself soon after.
headless_desktop_running() {
    local pid
    for pid in $(pgrep -f 'explorer\.exe /desktop'); do
        grep -qzx "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2> /dev/null || continue
        grep -qz '^DISPLAY=' "/proc/$pid/environ" 2> /dev/null || return 0
    done
    return 1
}

wait_headless_desktop_gone() {
    for _ in $(seq 200); do
        headless_desktop_running || return 0
        sleep 0.1
    done
    fail "the prefix's desktop process without a display did not end"
}

# Starts winqor.exe in folder $1 (its current directory) and waits for its window.
start_winqor() {
    wait_headless_desktop_gone
    (cd "$1" && exec wine "$WINQOR") > "$WORK/winqor.log" 2>&1 &
    APP_PID=$!
    MAIN_WINDOW=$(wait_window '^winQOR$')
}

# Types the destination $1 and the archive $2 into the main window by keyboard alone, from
# the focus it starts with: Extract, Exit, destination (two tabs); its "...", archive (two more).
type_paths() {
    keys "$MAIN_WINDOW" Tab Tab
    type_text "$MAIN_WINDOW" "$(winpath "$1")"
    keys "$MAIN_WINDOW" Tab Tab
    type_text "$MAIN_WINDOW" "$(winpath "$2")"
}

# A small tree: text, binary, an empty file, a nested folder and a name beyond ASCII.
make_sample_tree() {
    mkdir -p "$1/docs/deep"
    echo "hello from the window" > "$1/hello.txt"
    printf 'notes\nmore notes\n' > "$1/docs/notes.txt"
    : > "$1/docs/deep/empty.txt"
    head -c 70000 /dev/urandom > "$1/docs/data.bin"
    echo "grüße" > "$1/docs/grüße.txt"
}

# Waits until folder $2 holds exactly the tree of folder $1 (the extraction runs inside the
# Extract command, while the window does not answer).
wait_tree() {
    for _ in $(seq 300); do
        diff -r "$1" "$2" > /dev/null 2>&1 && return 0
        sleep 0.1
    done
    diff -r "$1" "$2" >&2 || fail "$2 does not hold the archive's tree"
}
