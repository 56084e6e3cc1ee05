#!/usr/bin/env bash
# The two choosers: the archive file dialog opens in the current folder, a name typed without
# extension gets ".aze", and both fields follow the choice; the folder picker's Cancel leaves the
# destination as typed, a chosen folder replaces it.
source "$(dirname "$0")/gui_lib.sh"

mkdir -p "$WORK/start" "$WORK/picked"
"$MAKE_ARCHIVE" "$WORK/start/pkg.aze"
start_xvfb
start_winqor "$WORK/start"

# Types a path into a chooser and accepts it. The location field is opened first (Ctrl+L): a "/"
# typed into the file list opens it too, but the keys that follow at once can be lost. A Return
# right after the typing can be swallowed while the chooser completes the name, so it is sent
# again until the chooser goes.
choose_path() {  # chooser title, path
    local chooser
    chooser=$(wait_window "$1")
    keys "$chooser" ctrl+l
    sleep 0.5
    keys "$chooser" ctrl+a
    type_text "$chooser" "$2"
    sleep 0.5
    for _ in 1 2 3 4 5; do
        keys "$chooser" Return
        sleep 0.7
        window_shown "$1" || return 0
    done
    fail "the chooser titled $1 did not accept $2"
}

# The archive's "..." is the last tab stop; Return on it opens the file dialog.
keys "$MAIN_WINDOW" Tab Tab Tab Tab Tab Return
choose_path '^Open$' "$WORK/start/pkg"
# Back on the archive's "...": one Tab wraps around to Extract.
keys "$MAIN_WINDOW" Tab Return
wait_file "$WORK/start/pkg/docs/deep/empty.txt"
sleep 0.5
"$MAKE_ARCHIVE" --check "$WORK/start/pkg" || fail "the default destination differs from the archive"

# The destination's "...": Esc cancels the picker, and the field keeps its text.
keys "$MAIN_WINDOW" Tab Tab Tab Return
picker=$(wait_window '^Select a folder to extract:$')
keys "$picker" Escape
wait_window_gone '^Select a folder to extract:$'
rm -rf "$WORK/start/pkg"
# From the destination's "..." three Tabs reach Extract.
keys "$MAIN_WINDOW" Tab Tab Tab Return
wait_file "$WORK/start/pkg/docs/deep/empty.txt"

# Chosen: the destination becomes the picked folder.
keys "$MAIN_WINDOW" Tab Tab Tab Return
choose_path '^Select a folder to extract:$' "$WORK/picked"
keys "$MAIN_WINDOW" Tab Tab Tab Return
wait_file "$WORK/picked/docs/deep/empty.txt"
sleep 0.5
"$MAKE_ARCHIVE" --check "$WORK/picked" || fail "the picked folder differs from the archive"
echo "PASS"
