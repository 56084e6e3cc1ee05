#!/usr/bin/env bash
# Without a display winqor says so in one line on standard error and ends with a failure status,
# whatever its command line holds (it reads none). The debug channel may add its own lines there.
set -uo pipefail
WINQOR=$(readlink -f "${1:?usage: $0 WINQOR}")
work=$(mktemp -d "${TMPDIR:-/tmp}/winqor-no-display.XXXXXX")
trap 'rm -rf "$work"' EXIT

for args in "" "--display=:0" "--help"; do
    # shellcheck disable=SC2086
    (cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY "$WINQOR" $args > out.txt 2> err.txt)
    status=$?
    [ "$status" -ne 0 ] || { echo "FAIL: status 0 without a display (args: $args)"; exit 1; }
    [ ! -s "$work/out.txt" ] || { echo "FAIL: output on standard output"; exit 1; }
    lines=$(grep -c '^winqor: .*display' "$work/err.txt")
    [ "$lines" -eq 1 ] || { echo "FAIL: $lines messages about the display:"; cat "$work/err.txt"; exit 1; }
    [ -z "$(ls -A "$work" | grep -v -x -e out.txt -e err.txt)" ] || { echo "FAIL: files written"; exit 1; }
done
echo "PASS"
