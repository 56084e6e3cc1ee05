#!/usr/bin/env bash
# A self-extracting program that carries a licence shows it in a window before it unpacks
# anything: Decline, Esc and the close box end the run writing nothing (1 without arguments,
# 206 with them); Accept unpacks. The text is the licence's.
source "$(dirname "$0")/gui_lib.sh"
AZE=$(readlink -f "${4:?usage: $0 WINQOR MAKE_TEST_ARCHIVE CLOSE_REQUEST AZE}")

mkdir -p "$WORK/sfx"
"$MAKE_ARCHIVE" "$WORK/plain.aze"
printf 'The terms of use.\nYou may run it.\n' > "$WORK/terms.txt"
"$AZE" sfx -o "$WORK/sfx/pack.run" --stub "$WINQOR" --license "$WORK/terms.txt" \
    "$WORK/plain.aze" > /dev/null || fail "aze sfx --license"
start_xvfb

# Starts the program (arguments: its own) and waits for the licence.
start_licensed() {
    (cd "$WORK/sfx" && exec ./pack.run "$@") > "$WORK/winqor.log" 2>&1 &
    APP_PID=$!
    LICENCE=$(wait_window '^Licence$')
}

# "how it is declined|arguments|exit status"
cases=(
    "alt+d|--|1"
    "Escape|--|1"
    "close box|--|1"
    "alt+d|--target $WORK/t|206"
)
for entry in "${cases[@]}"; do
    IFS='|' read -r decline arguments want <<< "$entry"
    # shellcheck disable=SC2086
    [ "$arguments" = -- ] && start_licensed || start_licensed $arguments
    if [ "$decline" = "close box" ]; then
        close_box "$LICENCE"
    else
        keys "$LICENCE" "$decline"
    fi
    wait_exit
    [ "$EXIT_STATUS" -eq "$want" ] || fail "declined by $decline: status $EXIT_STATUS, wanted $want"
    [ -e "$WORK/sfx/pack" ] || [ -e "$WORK/t" ] && fail "declined by $decline, the run wrote its tree"
    grep -q "the licence was declined" "$WORK/winqor.log" || fail "declined by $decline: no trace says so"
done

# Accept unpacks beside the program.
start_licensed
keys "$LICENCE" alt+a
wait_exit
[ "$EXIT_STATUS" -eq 0 ] || fail "accepted: status $EXIT_STATUS"
"$MAKE_ARCHIVE" --check "$WORK/sfx/pack" || fail "accepted: the tree differs from the archive"
echo "PASS"
