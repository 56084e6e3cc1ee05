#!/usr/bin/env bash
# Runs a command on a pseudo-terminal and types each answer once its prompt has shown and the
# terminal's echo is off, as a person would: a password prompt shows before the echo goes off,
# and turning it off discards what was typed before. A prompt asked again is answered once its
# next showing is there. A last PROMPT without an answer is waited for, then the input ends.
# Everything the terminal showed goes to LOG. Exits with the command's status.
# usage: type_on_terminal.sh LOG COMMAND [PROMPT ANSWER]... [PROMPT]
set -u
log=$1
command=$2
shift 2
fifo=$(mktemp -u)
mkfifo "$fifo"
: > "$log"
script -qfec "$command" "$log" < "$fifo" > /dev/null &
pid=$!
exec 3> "$fifo"
rm -f "$fifo"
declare -A shown_before

# Whether the terminal the command runs on has its echo off.
echo_is_off() {
  local child terminal
  child=$(pgrep -P "$pid" | head -n 1)
  terminal=$(readlink "/proc/$child/fd/0" 2> /dev/null) || return 1
  stty -F "$terminal" -a 2> /dev/null | grep -qw -- -echo
}

# Waits (at most 20 s) until PROMPT has shown once more than it had, with the echo off.
wait_for_prompt() {
  local prompt=$1 want=$((${shown_before[$1]:-0} + 1))
  shown_before[$prompt]=$want
  for _ in $(seq 1 400); do
    [ "$(grep -oF -- "$prompt" "$log" | wc -l)" -ge "$want" ] && echo_is_off && return 0
    sleep 0.05
  done
}

while [ $# -ge 1 ]; do
  wait_for_prompt "$1"
  [ $# -ge 2 ] && printf '%s\n' "$2" >&3
  shift 2 2> /dev/null || shift
done
exec 3>&-
wait "$pid"
