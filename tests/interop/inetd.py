#!/usr/bin/python3
# A small inetd on loopback for servers that serve one connection on their standard input.
#
#   inetd.py COMMAND...
#
# Listens on a free port of 127.0.0.1 (printed once it accepts) and runs COMMAND in a
# child of its own for each connection, with the connection as its standard input and output.
# Ends on SIGTERM, and by itself after 150 s.
#
import os
import signal
import socketserver
import sys


class Serve(socketserver.BaseRequestHandler):
    def handle(self):
        os.dup2(self.request.fileno(), 0)
        os.dup2(self.request.fileno(), 1)
        os.execv(sys.argv[1], sys.argv[1:])


signal.alarm(150)
server = socketserver.ForkingTCPServer(("127.0.0.1", 0), Serve)
print(server.server_address[1], flush=True)
server.serve_forever()
