#!/usr/bin/env python3
"""A pseudo-terminal standing in for the controllers' serial line: prints
the device's name, then keeps every byte that arrives in the file named by
the first argument until SIGTERM. Its own hold on the device side keeps the
line open while the player opens and closes it."""
import os
import pty
import select
import signal
import sys
import tty

master, slave = pty.openpty()
tty.setraw(slave)
stopping = []
signal.signal(signal.SIGTERM, lambda *_: stopping.append(1))
print(os.ttyname(slave), flush=True)
with open(sys.argv[1], "wb") as out:
    while not stopping:
        ready, _, _ = select.select([master], [], [], 0.2)
        if ready:
            out.write(os.read(master, 65536))
            out.flush()
