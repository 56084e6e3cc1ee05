#!/usr/bin/env bash
# Runs a command on a pseudo-terminal and types each answer once its prompt has shown, as a
# person would. Everything the terminal showed goes to LOG. Exits with the command's status.
# usage: type_on_terminal.sh LOG COMMAND [PROMPT ANSWER]...
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
while [ $# -ge 2 ]; do
  prompt=$1
  answer=$2
  shift 2
  for _ in $(seq 1 400); do
    grep -qF -- "$prompt" "$log" && break
    sleep 0.05
  done
  printf '%s\n' "$answer" >&3
done
exec 3>&-
wait "$pid"
