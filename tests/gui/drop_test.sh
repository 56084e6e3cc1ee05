#!/usr/bin/env bash
# A file dropped from a file manager (a text/uri-list) is taken like one picked with the
# archive's "...": dropped on the window's margin or on a field, it fills both fields, and
# Extract writes its tree. A folder dropped is refused and changes nothing.
source "$(dirname "$0")/gui_lib.sh"
DROP=$(readlink -f "${4:?usage: $0 WINQOR MAKE_TEST_ARCHIVE CLOSE_REQUEST DROP_URI}")

mkdir -p "$WORK/start" "$WORK/drop/a folder.aze"
"$MAKE_ARCHIVE" "$WORK/drop/first one.aze"
"$MAKE_ARCHIVE" "$WORK/drop/second.aze"
start_xvfb
start_winqor "$WORK/start"

uri_of() {
    local path=$1
    echo "file://${path// /%20}"
}

# "x y|file": points from the window's corner: its margin, then the destination field (the
# fourth row of the layout), which would otherwise insert the list as text.
cases=(
    "4 4|$WORK/drop/first one"
    "60 125|$WORK/drop/second"
)
for entry in "${cases[@]}"; do
    read -r x y <<< "${entry%%|*}"
    "$DROP" "$MAIN_WINDOW" "$x" "$y" "$(uri_of "${entry#*|}.aze")" ||
        fail "the drop at $x,$y was not taken"
    keys "$MAIN_WINDOW" Return
    wait_tree "${entry#*|}"
done

# A folder is no archive: refused, and Extract again writes the last file dropped.
"$DROP" "$MAIN_WINDOW" 4 4 "$(uri_of "$WORK/drop/a folder.aze")" && fail "a folder was taken"
rm -rf "$WORK/drop/second"
keys "$MAIN_WINDOW" Return
wait_tree "$WORK/drop/second"
echo "PASS"
