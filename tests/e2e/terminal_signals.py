#!/usr/bin/env python3
"""A signal that ends aze while it asks for a password on a terminal, with the echo off, must
leave the terminal as it found it (echo on) and end aze by that same signal, as a shell expects.
Each signal the prompt restores the terminal for is sent once, to a fresh run; then the prompt's
two other ends, the password typed and the input ended, leave the echo on too.
usage: terminal_signals.py AZE VECTORS"""
import os
import pty
import select
import signal
import sys
import tempfile
import termios
import time

BOUND_SECONDS = 20  # a bound on waiting for the prompt, not a measured duration


def echo_is_on(master):
    return termios.tcgetattr(master)[3] & termios.ECHO != 0


def wait_for_prompt_with_echo_off(master):
    shown = b""
    deadline = time.monotonic() + BOUND_SECONDS
    while time.monotonic() < deadline:
        if b"Password: " in shown and not echo_is_on(master):
            return True
        ready, _, _ = select.select([master], [], [], 0.05)
        if ready:
            try:
                shown += os.read(master, 4096)
            except OSError:
                return False
    return False


def read_rest(master):
    shown = b""
    while True:
        try:
            piece = os.read(master, 4096)
        except OSError:  # the terminal's other end closed
            return shown
        if not piece:
            return shown
        shown += piece


def answer_prompt(aze, archive, destination, answer):
    """Runs aze extract on a terminal and, once the prompt shows with the echo off, does
    answer(pid, master). The terminal's echo afterwards, the wait status and what it showed."""
    # aze starts only once the terminal has been looked at: a child that ran first could turn
    # the echo off before the look.
    go_read, go_write = os.pipe()
    pid, master = pty.fork()
    if pid == 0:
        try:
            os.close(go_write)
            os.read(go_read, 1)
            os.execv(aze, [aze, "extract", "-C", destination, archive])
        finally:
            os._exit(127)
    os.close(go_read)
    try:
        echo_before = echo_is_on(master)
        os.write(go_write, b"g")
        os.close(go_write)
        if not echo_before:
            return "the terminal's echo was off before the run", 0, b""
        if not wait_for_prompt_with_echo_off(master):
            return "no password prompt with the echo off", 0, b""
        answer(pid, master)
        shown = read_rest(master)
        _, status = os.waitpid(pid, 0)
        return None if echo_is_on(master) else "left the terminal without echo", status, shown
    finally:
        os.close(master)


def interrupt_prompt(aze, archive, destination, number):
    problem, status, _ = answer_prompt(aze, archive, destination,
                                       lambda pid, _: os.kill(pid, number))
    if problem is None and (not os.WIFSIGNALED(status) or os.WTERMSIG(status) != number):
        problem = "did not end by the signal (status %d)" % status
    return problem


def type_at_prompt(aze, archive, destination, typed, want_status, want_shown):
    problem, status, shown = answer_prompt(aze, archive, destination,
                                           lambda _, master: os.write(master, typed))
    if problem is None and (not os.WIFEXITED(status) or os.WEXITSTATUS(status) != want_status):
        problem = "ended with status %d" % status
    if problem is None and want_shown not in shown:
        problem = "did not say %r: %r" % (want_shown, shown)
    return problem


def main():
    aze, vectors = sys.argv[1], sys.argv[2]
    archive = os.path.join(vectors, "encrypted.aze")
    if not os.path.exists(archive):
        print("SKIP: no reference archives")
        return 77
    failures = 0
    with tempfile.TemporaryDirectory(prefix="winqor-e2e.") as work:
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT):
            destination = os.path.join(work, signal.Signals(number).name)
            problem = interrupt_prompt(aze, archive, destination, number)
            print("%s %s: %s" % ("FAIL" if problem else "ok", signal.Signals(number).name,
                                 problem or "echo restored, ended by the signal"))
            failures += problem is not None
            if os.path.exists(destination) and os.listdir(destination):
                print("FAIL %s: wrote into the destination" % signal.Signals(number).name)
                failures += 1
        # The prompt's other ends: the password typed, and the input ended (Ctrl-D) at once.
        typed = [
            ("the right password", b"Secret1\n", 0, b"4 folders, 5 files"),
            ("the input ended", b"\x04", 1, b"cannot read the password from the terminal"),
        ]
        for what, keys, status, shown in typed:
            problem = type_at_prompt(aze, archive, os.path.join(work, what), keys, status, shown)
            print("%s %s: %s" % ("FAIL" if problem else "ok", what, problem or "as it should"))
            failures += problem is not None
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
