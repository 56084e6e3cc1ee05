#!/usr/bin/env bash
# The Wine prefix the Windows tests run in, one per build folder.
#   start PREFIX: makes the prefix when it is missing or was left half made, turns Wine's crash
#                 dialog off (a crashing test must fail, not wait for a click), and starts a
#                 wineserver that stays, with Wine's own processes (services, devices), so each
#                 test program starts in a fraction of a second.
#   stop PREFIX:  ends that wineserver and every Wine process of the prefix.
# Everything Wine prints goes to PREFIX.log: a server or service left running must not hold
# the test runner's output open.
set -euo pipefail
usage="usage: wine_prefix.sh start|stop PREFIX"
action=${1:?$usage}
WINEPREFIX=$(realpath -m "${2:?$usage}")
export WINEPREFIX WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# No window is ever shown, and none is needed to make the prefix.
unset DISPLAY WAYLAND_DISPLAY
log=$WINEPREFIX.log
ready=$WINEPREFIX/.winqor-ready

make_prefix() {
    rm -rf "$WINEPREFIX"
    wineboot --init >>"$log" 2>&1
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >>"$log" 2>&1
    # The registry reaches the disk only when the server has nothing left to run.
    wineserver --wait >>"$log" 2>&1
    touch "$ready"
}

case $action in
start)
    [ -f "$ready" ] || make_prefix
    # Refused when a server of this prefix still runs (a run that was not stopped): that one
    # serves as it is.
    wineserver --persistent </dev/null >>"$log" 2>&1 || true
    wineboot </dev/null >>"$log" 2>&1
    ;;
stop)
    wineserver --kill </dev/null >>"$log" 2>&1 || true
    ;;
*)
    echo "$usage" >&2
    exit 2
    ;;
esac
