#!/usr/bin/env bash
# What a screen reader reads of the window and the password dialog, from the live accessibility
# tree (AT-SPI) on a private session bus: every button and field has a name that says something,
# each field is labelled by its label, and with LANGUAGE=de or fr the texts are German or French.
if [ -z "${WINQOR_PRIVATE_BUS:-}" ]; then
    command -v dbus-run-session > /dev/null || { echo "SKIP: dbus-run-session is not installed"; exit 77; }
    WINQOR_PRIVATE_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
source "$(dirname "$0")/gui_lib.sh"
# Debian's pyatspi is a module of Debian's own python3.
python=/usr/bin/python3
[ -x "$python" ] && "$python" -c 'import pyatspi' 2> /dev/null ||
    { echo "SKIP: python3-pyatspi is not installed"; exit 77; }
[ -x /usr/libexec/at-spi-bus-launcher ] || { echo "SKIP: at-spi2-core is not installed"; exit 77; }
# This test wants the accessibility bus that gui_lib.sh turns off.
unset NO_AT_BRIDGE

mkdir -p "$WORK/start"
"$MAKE_ARCHIVE" "$WORK/locked.aze" 'OpenSesame12345'
start_xvfb
names() {  # language, window
    "$python" "$(dirname "$0")/accessible_names.py" "$1" "$2" || fail "the $1 $2 window's names"
}
# "language|LANG|LANGUAGE|password dialog's title": LANGUAGE counts only beside a locale other
# than C. The window opens with the encrypted archive; Return on Extract asks its password.
for entry in "en|C||Dialog" "de|C.UTF-8|de|Dialog" "fr|C.UTF-8|fr|Dialogue"; do
    IFS='|' read -r language lang languages title <<< "$entry"
    export LANG=$lang LANGUAGE=$languages
    start_winqor "$WORK/start" "$WORK/locked.aze"
    names "$language" main
    keys "$MAIN_WINDOW" Return
    prompt=$(wait_window "^$title\$")
    names "$language" password
    keys "$prompt" Escape
    wait_window_gone "^$title\$"
    close_box "$MAIN_WINDOW"
    wait_exit
done
unset LANG LANGUAGE
[ -e "$WORK/start/locked" ] && fail "a cancelled password dialog wrote the archive's folder"
echo "PASS"
