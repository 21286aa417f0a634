#!/usr/bin/python3
"""Drives virtual-hid-uhid for the Windows tests in the Windows guest.

The tests run under Wine and cannot start a Linux program themselves, so this
program starts and commands the device for them. It listens on 127.0.0.1 and
serves one connection at a time, one command a line, one answer a line:

  start ARG...          starts virtual-hid-uhid ARG...; "ok" once it printed
                        "created 0483:0525", else "fail WHY"
  send LINE             writes LINE to the device program's input ("ok")
  wait N MS PREFIX      "ok" once N of its lines start with PREFIX, "fail"
                        when MS milliseconds pass first
  stop                  SIGTERM, then "ok STATUS" with its exit status
  quit                  ends this program

Every wait is bounded; a device program that does not end within 5 s of
SIGTERM is killed.
"""

import argparse
import socket
import subprocess
import sys
import threading
import time


class Device:
    def __init__(self, program, args):
        self.lines = []
        self.cond = threading.Condition()
        self.proc = subprocess.Popen([program] + args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     text=True, bufsize=1)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            with self.cond:
                self.lines.append(line.strip())
                self.cond.notify_all()
        with self.cond:
            self.lines.append(None)  # the program's output ended
            self.cond.notify_all()

    def wait(self, count, prefix, timeout):
        end = time.monotonic() + timeout
        with self.cond:
            while sum(1 for l in self.lines if l and l.startswith(prefix)) < count:
                left = end - time.monotonic()
                if left <= 0 or None in self.lines:
                    return False
                self.cond.wait(left)
            return True

    def send(self, line):
        try:
            self.proc.stdin.write(line + "\n")
            self.proc.stdin.flush()
            return True
        except OSError:
            return False

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(2)
        return self.proc.returncode


def serve(conn, program, state):
    reader = conn.makefile("r", encoding="utf-8", newline="\n")
    for line in reader:
        # "wait" takes the rest of its line as the prefix, blanks included.
        line = line.strip()
        words = line.split(None, 3 if line.startswith("wait ") else -1)
        if not words:
            continue
        cmd, args = words[0], words[1:]
        answer = "fail unknown command " + cmd
        if cmd == "start":
            if state.get("device"):
                state["device"].stop()
            dev = state["device"] = Device(program, args)
            answer = "ok" if dev.wait(1, "created 0483:0525", 10) else "fail the device was not created"
        elif cmd == "send" and state.get("device"):
            answer = "ok" if state["device"].send(" ".join(args)) else "fail the device program has ended"
        elif cmd == "wait" and len(args) == 3 and state.get("device"):
            ok = state["device"].wait(int(args[0]), args[2], int(args[1]) / 1000.0)
            answer = "ok" if ok else "fail no %s line %s within %s ms" % (args[0], args[2], args[1])
        elif cmd == "stop":
            dev = state.pop("device", None)
            answer = "ok %d" % (dev.stop() if dev else 0)
        elif cmd == "quit":
            conn.sendall(b"ok\n")
            return False
        print("device-control: %s: %s" % (line, answer), file=sys.stderr, flush=True)
        conn.sendall((answer + "\n").encode())
    return True


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--uhid", required=True, help="path of virtual-hid-uhid")
    args = ap.parse_args()
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", args.port))
    server.listen(1)
    print("device-control: listening on 127.0.0.1:%d" % args.port, flush=True)
    state = {}
    try:
        going = True
        while going:
            conn, _ = server.accept()
            with conn:
                going = serve(conn, args.uhid, state)
    finally:
        if state.get("device"):
            state["device"].stop()


if __name__ == "__main__":
    sys.exit(main())
