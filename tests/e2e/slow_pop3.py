#!/usr/bin/python3
# A POP3 server on 127.0.0.1 that never answers the password, so that a test can act on the program
# while a check waits for the server.
#
# slow_pop3.py PORT_FILE LOG
#
# It writes its port to PORT_FILE once it listens, serves any number of sessions at once, and
# appends to LOG "<time> <session> <request>" for every request (the password hidden) and an "open"
# and a "close" line per session. It takes any user, and answers what a check sends up to PASS; a
# request longer than 1024 bytes ends the session. It ends by itself after 170 seconds: it never
# outlives a test that forgot it.
import itertools
import os
import socketserver
import sys
import threading
import time

PORT_FILE, LOG = sys.argv[1:3]
lock, log, numbers = threading.Lock(), open(LOG, "a", encoding="utf-8", buffering=1), itertools.count(1)


def note(session, text):
    with lock:
        log.write(f"{time.time():.3f} {session} {text}\n")


class Session(socketserver.StreamRequestHandler):
    def handle(self):
        session = next(numbers)  # atomic: the counter is advanced under the interpreter lock
        note(session, "open")
        try:
            self.wfile.write(b"+OK slow POP3 ready\r\n")
            while (line := self.rfile.readline(1024)).endswith(b"\n"):
                command = (line.decode("ascii", "replace").split() or [""])[0].upper()
                note(session, "PASS ***" if command == "PASS" else line.decode("ascii", "replace").strip())
                if command != "PASS":  # the password waits for its answer for ever
                    self.wfile.write(b"+OK\r\nUSER\r\nUIDL\r\nTOP\r\n.\r\n" if command == "CAPA" else b"+OK\r\n")
                if command == "QUIT":
                    break
        except OSError:
            pass
        note(session, "close")


server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Session)
open(PORT_FILE + ".tmp", "w").write(str(server.server_address[1]))  # closed at once: nothing else refers to it
os.rename(PORT_FILE + ".tmp", PORT_FILE)
threading.Timer(170, os._exit, (0,)).start()
server.serve_forever()
