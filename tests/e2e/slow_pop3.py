#!/usr/bin/python3
# A POP3 server on 127.0.0.1 that answers every request only after a delay, so that a test can act
# on the program while a check is in progress.
#
# slow_pop3.py PORT_FILE LOG DELAY MESSAGES
#
# It writes its port to PORT_FILE once it listens, serves any number of sessions at once, each with
# the same MESSAGES plain messages, and appends to LOG "<time> <session> <request>" for every request
# (the password hidden) and an "open" and a "close" line per session. It takes any login and speaks
# only what a check sends, in plain text. It ends by itself after LIFETIME seconds.
import itertools
import os
import socketserver
import sys
import threading
import time

PORT_FILE, LOG, DELAY, COUNT = sys.argv[1], sys.argv[2], float(sys.argv[3]), int(sys.argv[4])
LIFETIME = 170  # it never outlives a test that forgot it
SIZE = 200
HEADERS = [[f"From: sender{k}@example.net", "To: demo@example.jp", f"Subject: Meeting notes {k}",
            f"Message-ID: <slow-{k}@mossvale.example>", ""] for k in range(1, COUNT + 1)]
lock = threading.Lock()
log = open(LOG, "a", encoding="utf-8", buffering=1)
numbers = itertools.count(1)


def note(session, text):
    with lock:
        log.write(f"{time.time():.3f} {session} {text}\n")


class Session(socketserver.StreamRequestHandler):
    def reply(self, *lines):
        time.sleep(DELAY)
        self.wfile.write("".join(line + "\r\n" for line in lines).encode())

    def handle(self):
        session = next(numbers)  # atomic: the counter is advanced under the interpreter lock
        note(session, "open")
        try:  # a request longer than 1024 bytes ends the session
            self.reply("+OK slow POP3 ready")
            while (line := self.rfile.readline(1024)).endswith(b"\n"):
                words = line.decode("ascii", "replace").split() or [""]
                command, k = words[0].upper(), int(words[1]) if words[1:] and words[1].isdigit() else 0
                note(session, "PASS ***" if command == "PASS" else " ".join(words))
                if command == "CAPA":
                    self.reply("+OK", "TOP", "UIDL", "USER", ".")
                elif command == "STAT":
                    self.reply(f"+OK {COUNT} {COUNT * SIZE}")
                elif command in ("LIST", "UIDL"):  # the program asks for the whole list only
                    lines = (f"{i} {SIZE if command == 'LIST' else f'slow-{i}'}" for i in range(1, COUNT + 1))
                    self.reply("+OK", *lines, ".")
                elif command == "TOP" and 0 < k <= COUNT:
                    self.reply("+OK", *HEADERS[k - 1], ".")
                else:  # USER, PASS (any login), DELE, QUIT
                    self.reply("+OK")
                    if command == "QUIT":
                        break
        except OSError:
            pass
        note(session, "close")


server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Session)
server.daemon_threads = True
threading.Thread(target=server.serve_forever, daemon=True).start()
open(PORT_FILE + ".tmp", "w").write(str(server.server_address[1]))  # closed at once: nothing else refers to it
os.rename(PORT_FILE + ".tmp", PORT_FILE)
time.sleep(LIFETIME)
os._exit(0)
