#!/usr/bin/python3
"""A small inetd on loopback for servers that serve one connection on their standard input.

  inetd.py PORT_FILE COMMAND...

Listens on a free port of 127.0.0.1 (written to PORT_FILE once it accepts) and runs COMMAND for
each connection, with the connection as its standard input and output. At most 4 run at once; a
connection beyond that is closed. Ends by itself after 150 s, and on SIGTERM, ending its children.
"""
import os
import signal
import socket
import subprocess
import sys
import time

LIFETIME_S = 150
MAX_CHILDREN = 4


def main(port_file, command):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    listener.settimeout(0.5)
    with open(port_file + ".tmp", "w") as f:
        f.write("%d\n" % listener.getsockname()[1])
    os.rename(port_file + ".tmp", port_file)
    children = []

    def stop(*_):
        for child in children:
            if child.poll() is None:
                child.terminate()
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    end = time.monotonic() + LIFETIME_S
    while time.monotonic() < end:
        children = [c for c in children if c.poll() is None]
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            continue
        if len(children) < MAX_CHILDREN:
            children.append(subprocess.Popen(command, stdin=conn, stdout=conn, stderr=subprocess.DEVNULL))
        conn.close()
    stop()


if __name__ == "__main__":
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    main(sys.argv[1], sys.argv[2:])
