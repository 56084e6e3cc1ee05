#!/usr/bin/env bash
# Takes the pictures of the window in docs/window.md: docs/main-window.png and docs/password-dialog.png.
# Usage: docs/screenshots.sh BUILD_DIR (a build with winqor and the GUI tests' helper).
# Xvfb runs no window manager, so the pictures show the windows without their title bars.
build=$(readlink -f "${1:?usage: $0 BUILD_DIR}")
docs=$(cd "$(dirname "$0")" && pwd)
set -- "$build/bin/winqor" "$build/tests/gui/make_test_archive" "$build/tests/gui/close_request"
source "$docs/../tests/gui/gui_lib.sh"

mkdir -p "$WORK/Downloads"
"$MAKE_ARCHIVE" "$WORK/Downloads/tools.aze" 'Open Sesame'
start_xvfb
xsetroot -solid '#5a6b7d' 2> /dev/null || true
start_winqor "$WORK/Downloads"
keys "$MAIN_WINDOW" Tab Tab
type_text "$MAIN_WINDOW" "/home/ada/Downloads/tools"
keys "$MAIN_WINDOW" Tab Tab
type_text "$MAIN_WINDOW" "/home/ada/Downloads/tools.aze"
keys "$MAIN_WINDOW" Tab Tab
sleep 0.5
import -window "$MAIN_WINDOW" "$docs/main-window.png"

# The password dialog over the window: point the archive field at the encrypted archive.
keys "$MAIN_WINDOW" Tab Tab Tab Tab ctrl+a
type_text "$MAIN_WINDOW" "$WORK/Downloads/tools.aze"
keys "$MAIN_WINDOW" Return
prompt=$(wait_window '^Dialog$')
keys "$prompt" Tab Tab
type_text "$prompt" 'Open Ses'
sleep 0.5
import -window "$prompt" "$docs/password-dialog.png"
echo "written: $docs/main-window.png $docs/password-dialog.png"
