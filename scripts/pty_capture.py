#!/usr/bin/env python3
"""A pseudo-terminal standing in for a serial line: prints the device's name,
then keeps every byte that arrives in the file named by its argument (or
drops them with /dev/null) until SIGTERM and a half-second's quiet. Its own
hold on the device side keeps the line open between the players that use it.
"""
import os
import pty
import select
import signal
import sys
import tty

master, slave = pty.openpty()
tty.setraw(slave)
out = open(sys.argv[1], "wb")
stopping = []
signal.signal(signal.SIGTERM, lambda *_: stopping.append(1))
print(os.ttyname(slave), flush=True)
while True:
    ready, _, _ = select.select([master], [], [], 0.5)
    if ready:
        out.write(os.read(master, 65536))
        out.flush()
    elif stopping:
        break
