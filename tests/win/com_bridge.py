#!/usr/bin/env python3
"""Two pseudo-terminals joined back to back, standing in for a null-modem
cable between two COM ports under Wine: what one side writes, the other
reads. Prints the two device names on one line, then bridges until stdin
closes. When the file named by the first argument appears, the first
terminal's far end is closed, as when a USB adapter is pulled out, and a
"U" is sent to the second one to say so."""
import os
import pty
import select
import sys
import termios
import tty


def raw_pair():
    master, slave = pty.openpty()
    tty.setraw(slave)
    return master, slave, os.ttyname(slave)


def main():
    unplug = sys.argv[1] if len(sys.argv) > 1 else None
    a_master, a_slave, a_name = raw_pair()
    b_master, b_slave, b_name = raw_pair()
    print(a_name, b_name, flush=True)
    # The slaves stay open here so that a Wine side closing its port does
    # not hang the terminal up.
    peers = {a_master: b_master, b_master: a_master}
    while True:
        ready, _, _ = select.select(list(peers) + [0], [], [], 0.05)
        if 0 in ready and not os.read(0, 1):
            return
        for fd in ready:
            if fd == 0 or fd not in peers:
                continue
            try:
                data = os.read(fd, 65536)
            except OSError:
                continue
            if data and peers[fd] in peers:
                os.write(peers[fd], data)
        if unplug and a_master in peers and os.path.exists(unplug):
            del peers[a_master]
            os.close(a_master)
            os.close(a_slave)
            # Tells the other port's reader that the adapter is gone now.
            os.write(b_master, b"U")


if __name__ == "__main__":
    main()
