#!/usr/bin/env bash
# Runs a Windows program under Wine and passes on its output and exit status.
# usage: run_in_wine.sh PROGRAM.exe [ARGUMENTS...]
# The output goes through a file: Wine's own processes (services, devices) that a program's
# start may launch inherit its output and outlive it, and a pipe they held would keep the
# test runner waiting for the end of the output long after the program ended.
set -uo pipefail
output=$(mktemp)
trap 'rm -f "$output"' EXIT
wine "$@" </dev/null >"$output" 2>&1
status=$?
cat "$output"
# Wine 8 often reports 0 for a program that an unhandled exception ended (from one run in eight
# to one in three here), as its debugger takes the process down: Wine's own line about the
# exception tells. A program that starts others gets their lines too: none of them may crash.
if [ "$status" -eq 0 ] && grep -q '^wine: Unhandled' "$output"; then
    echo "run_in_wine.sh: the program ended on an unhandled exception" >&2
    status=1
fi
exit "$status"
