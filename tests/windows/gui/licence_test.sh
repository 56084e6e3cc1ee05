#!/usr/bin/env bash
# A Windows installer that carries a licence (aze sfx --windows --license) shows it in the
# resource script's dialog ("Licence") before it unpacks anything: Decline, Esc and the close
# box end the run writing nothing (1 without arguments, 206 with them); Accept unpacks.
source "$(dirname "$0")/wine_gui_lib.sh"

make_sample_tree "$WORK/tree"
mkdir -p "$WORK/sfx"
printf 'The terms of use.\nYou may run it.\n' > "$WORK/terms.txt"
"$AZE" sfx --stub "$WINQOR" --license "$WORK/terms.txt" -o "$WORK/sfx/setup.exe" "$WORK/tree" \
    > /dev/null || fail "aze sfx --license"
start_xvfb

# Starts the installer (arguments: its own) and waits for its licence.
start_installer() {
    wait_headless_desktop_gone
    (cd "$WORK/sfx" && exec wine setup.exe "$@") > "$WORK/winqor.log" 2>&1 &
    APP_PID=$!
    LICENCE=$(wait_window '^Licence$')
}

# "how it is declined|arguments|exit status"
cases=(
    "alt+d|--|1"
    "Escape|--|1"
    "Return|--|1"
    "alt+d|--target $(winpath "$WORK/t")|206"
)
for entry in "${cases[@]}"; do
    IFS='|' read -r decline arguments want <<< "$entry"
    # shellcheck disable=SC2086
    if [ "$arguments" = -- ]; then start_installer; else start_installer $arguments; fi
    keys "$LICENCE" "$decline"
    wait_exit
    [ "$EXIT_STATUS" -eq "$want" ] || fail "declined by $decline: status $EXIT_STATUS, wanted $want"
    if [ -e "$WORK/sfx/setup" ] || [ -e "$WORK/t" ]; then
        fail "declined by $decline, the run wrote its tree"
    fi
done

start_installer
keys "$LICENCE" alt+a
wait_exit
[ "$EXIT_STATUS" -eq 0 ] || fail "accepted: status $EXIT_STATUS"
wait_tree "$WORK/tree" "$WORK/sfx/setup"
echo "PASS"
