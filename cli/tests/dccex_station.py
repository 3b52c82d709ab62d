#!/usr/bin/env python3
"""A DCC-EX command station as its public documentation describes it, on a
pseudo-terminal: the tests' far end, written apart from the program's own model.

Prints the port's device name as its first line of output, then serves until it is
ended. Each time the port is opened (the far side appears) the board "restarts":
it boots for --boot seconds, losing what it is sent meanwhile, then prints its
banner. Everything received is written to --log, one line per read, with the
state the station was in ("booting" or "ready").

Behaviours (--behaviour):
  normal   answers every command as documented
  silent   never answers anything, not even its banner
  garbage  prints its banner, then answers every command with a line of noise
           followed by a malformed answer
  old      reads only with a callback (<R cv n m>), as older firmware: a read of
           one operand is answered <X>
"""

import argparse
import os
import select
import sys
import time

BANNER = b"<iDCC-EX V-4.2.1 / MEGA / STANDARD_MOTOR_SHIELD G-devel>\n"


class Station:
    def __init__(self, args, master, log):
        self.args = args
        self.master = master
        self.log = log
        self.cvs = {n: 0 for n in range(1, 1025)}
        self.cvs.update({1: 3, 7: 42, 8: 13, 29: 6})
        self.unreadable = set(args.unreadable)
        self.pending = b""

    def send(self, text):
        os.write(self.master, text.encode("ascii"))

    def answer(self, command):
        parts = command.split()
        letter, numbers = parts[0], parts[1:]
        if self.args.behaviour == "garbage":
            self.send("#~?! \x7f noise\n<r %s zz>\n" % (numbers[0] if numbers else "0"))
            return
        # Broadcasts and diagnostics come between answers: they answer nothing.
        self.send("<* Prog: %s *>\n<p1>\n" % command)
        if letter == "s":
            os.write(self.master, BANNER)
        elif letter in ("1", "0") and numbers == ["PROG"]:
            self.send("<p%s PROG>\n" % letter)
        elif letter == "R" and len(numbers) == 1 and self.args.behaviour != "old":
            cv = int(numbers[0])
            value = -1 if cv in self.unreadable else self.cvs.get(cv, -1)
            time.sleep(self.args.delay)
            self.send("<r %d %d>\n" % (cv, value))
        elif letter == "W" and len(numbers) == 2:
            cv, value = int(numbers[0]), int(numbers[1])
            stored = cv in self.cvs and cv not in (7, 8) and cv not in self.unreadable
            if cv == 8 and value == 8:
                stored = True
            if stored and cv != 8:
                self.cvs[cv] = value
            time.sleep(self.args.delay)
            # Older firmware answers a write with <w ...>, newer with <r ...>.
            self.send("<%s %d %d>\n" % (self.args.write_letter, cv, value if stored else -1))
        elif letter == "B" and len(numbers) == 3:
            cv, bit, value = (int(n) for n in numbers)
            if value:
                self.cvs[cv] |= 1 << bit
            else:
                self.cvs[cv] &= ~(1 << bit)
            self.send("<r %d %d %d>\n" % (cv, bit, value))
        elif letter == "V" and len(numbers) == 2:
            cv = int(numbers[0])
            actual = -1 if cv in self.unreadable else self.cvs.get(cv, -1)
            self.send("<v %d %d>\n" % (cv, actual))
        else:
            self.send("<X>\n")

    def received(self, data, ready):
        self.log.write(("ready " if ready else "booting ") + data.decode("latin-1") + "\n")
        self.log.flush()
        if not ready or self.args.behaviour == "silent":
            return
        self.pending += data
        while b">" in self.pending:
            frame, self.pending = self.pending.split(b">", 1)
            start = frame.rfind(b"<")
            if start >= 0:
                self.answer(frame[start + 1:].decode("latin-1"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--behaviour", default="normal", choices=["normal", "silent", "garbage", "old"])
    parser.add_argument("--boot", type=float, default=0.3)
    parser.add_argument("--delay", type=float, default=0.05)
    parser.add_argument("--unreadable", type=int, action="append", default=[])
    parser.add_argument("--write-letter", default="r", choices=["r", "w"])
    parser.add_argument("--log", required=True)
    args = parser.parse_args()

    master, slave = os.openpty()
    print(os.ttyname(slave), flush=True)
    os.close(slave)
    station = Station(args, master, open(args.log, "w"))
    poller = select.poll()
    poller.register(master, select.POLLIN)
    opened = False
    ready_at = None
    while True:
        events = dict(poller.poll(20))
        hung_up = bool(events.get(master, 0) & select.POLLHUP)
        if hung_up:
            opened, ready_at = False, None
            time.sleep(0.02)
            continue
        if not opened:
            # The port was opened: DTR resets the board.
            opened = True
            ready_at = time.monotonic() + args.boot
        if ready_at is not None and time.monotonic() >= ready_at:
            ready_at = None
            if args.behaviour != "silent":
                os.write(master, b"<* booted *>\n" + BANNER)
        if events.get(master, 0) & select.POLLIN:
            try:
                data = os.read(master, 4096)
            except OSError:
                continue
            station.received(data, ready_at is None)


if __name__ == "__main__":
    sys.exit(main())
