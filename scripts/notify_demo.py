#!/usr/bin/env python3
"""Plays the service manager for `glimmer show`: listens on a notify socket,
starts the show with $NOTIFY_SOCKET and $WATCHDOG_USEC, stops the process
(SIGSTOP) to show that the pings stop, lets it go on, then ends it with
SIGTERM and prints what arrived, with the time since start.

  scripts/notify_demo.py build/bin/glimmer [seconds per phase]
"""
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time

glimmer = sys.argv[1] if len(sys.argv) > 1 else "build/bin/glimmer"
phase = float(sys.argv[2]) if len(sys.argv) > 2 else 3.0
folder = tempfile.mkdtemp(prefix="glimmer-notify-")
address = "@glimmer-notify-demo-%d" % os.getpid()
listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
listener.bind("\0" + address[1:])
listener.settimeout(0.05)
# A line for the show to open: the other side of a pseudo-terminal.
master, slave = os.openpty()
device = os.ttyname(slave)

env = dict(os.environ, NOTIFY_SOCKET=address, WATCHDOG_USEC="1000000")
show = subprocess.Popen([glimmer, "show", "--dir", folder, "--device", device, "--silent",
                         "--wait-for-devices", "5"], env=env,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
start = time.monotonic()
env.pop("WATCHDOG_PID", None)


def listen(seconds, label):
    print("-- %s" % label)
    until = time.monotonic() + seconds
    pings = 0
    while time.monotonic() < until:
        try:
            data = listener.recv(4096).decode()
        except socket.timeout:
            continue
        if data == "WATCHDOG=1":
            pings += 1
            continue
        print("%6.2f s  %s" % (time.monotonic() - start, data))
    print("%6.2f s  WATCHDOG=1 x %d in %.0f s" % (time.monotonic() - start, pings, seconds))


listen(phase, "running (watchdog interval 1 s)")
show.send_signal(signal.SIGSTOP)
listen(phase, "stopped with SIGSTOP: a hung loop")
show.send_signal(signal.SIGCONT)
listen(phase, "going on after SIGCONT")
show.send_signal(signal.SIGTERM)
listen(1.0, "SIGTERM")
print("exit status", show.wait())
