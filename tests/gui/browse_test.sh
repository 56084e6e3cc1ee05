#!/usr/bin/env bash
# The two choosers: the archive file dialog opens in the current folder, a name typed without
# extension gets ".aze", and both fields follow the choice; the folder picker's Cancel leaves the
# destination as typed, a chosen folder replaces it.
source "$(dirname "$0")/gui_lib.sh"

mkdir -p "$WORK/start" "$WORK/picked"
"$MAKE_ARCHIVE" "$WORK/start/pkg.aze"
start_xvfb
start_winqor "$WORK/start"

# Types a path into a chooser and accepts it. The location field is opened first (Ctrl+L, once:
# a second one would close it again): a "/" typed into the file list opens it too, but the keys
# that follow at once can be lost. A Return right after the typing can be swallowed while the
# chooser completes the name, so the path is typed and sent again until the chooser goes.
choose_path() {  # chooser title, path
    local chooser
    chooser=$(wait_window "$1")
    keys "$chooser" ctrl+l
    for _ in 1 2 3 4 5; do
        window_shown "$1" || return 0
        keys "$chooser" ctrl+a
        type_text "$chooser" "$2"
        keys "$chooser" Return
        window_goes "$1" && return 0
    done
    fail "the chooser titled $1 did not accept $2"
}

# The archive's "..." is the last tab stop; Return on it opens the file dialog.
keys "$MAIN_WINDOW" Tab Tab Tab Tab Tab Return
choose_path '^Open$' "$WORK/start/pkg"
# Back on the archive's "...": one Tab wraps around to Extract.
keys "$MAIN_WINDOW" Tab Return
wait_tree "$WORK/start/pkg"

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
wait_tree "$WORK/picked"
echo "PASS"
