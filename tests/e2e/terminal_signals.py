#!/usr/bin/env python3
"""A signal that ends aze while it asks for a password on a terminal, with the echo off, must
leave the terminal as it found it (echo on) and end aze by that same signal, as a shell expects.
Each signal the prompt restores the terminal for is sent once, to a fresh run.
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


def interrupt_prompt(aze, archive, destination, number):
    pid, master = pty.fork()
    if pid == 0:
        try:
            os.execv(aze, [aze, "extract", "-C", destination, archive])
        finally:
            os._exit(127)
    try:
        if not echo_is_on(master):
            return "the terminal's echo was off before the run"
        if not wait_for_prompt_with_echo_off(master):
            return "no password prompt with the echo off"
        os.kill(pid, number)
        _, status = os.waitpid(pid, 0)
        if not os.WIFSIGNALED(status) or os.WTERMSIG(status) != number:
            return "did not end by the signal (status %d)" % status
        if not echo_is_on(master):
            return "left the terminal without echo"
        return None
    finally:
        os.close(master)


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
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
