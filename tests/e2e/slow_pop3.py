#!/usr/bin/python3
"""A scripted POP3 server on 127.0.0.1 that answers every request only after a delay, so that a
test can act on the program while a check is in progress.

slow_pop3.py PORT_FILE LOG [--delay S] [--messages N] [--spam K,...] [--limit S]

It writes its port to PORT_FILE once it listens, serves any number of sessions at once (each with
the same mailbox of N plain messages, those numbered in --spam with "casino" in the subject), and
appends to LOG, with the time, one "open" and one "close quit" or "close dropped" line per
session and every request received ("<time> <session> <request>"; the password is not logged).
Plain text only (no STLS, no PIPELINING, no APOP), and only what a check asks: CAPA, USER, PASS,
STAT, LIST, UIDL, TOP n 0, DELE and QUIT. It ends by itself after --limit seconds.
"""
import argparse
import os
import socketserver
import threading
import time

USER, PASSWORD = "demo", "moss-demo-pass"  # scripts/demo's account, which make_program_folder writes
MAX_LINE = 1024  # a request longer than this ends the session
MAX_SESSIONS = 100  # a program that loops on checks is refused after these
CAPABILITIES = ["TOP", "UIDL", "USER"]


def message(number, spam):
    subject = f"casino bonus {number}" if spam else f"Meeting notes {number}"
    return (f"From: sender{number}@example.net\r\nTo: demo@example.jp\r\nSubject: {subject}\r\n"
            f"Message-ID: <slow-{number}@mossvale.example>\r\n\r\nBody of message {number}.\r\n").encode()


class Log:
    def __init__(self, path):
        self.out = open(path, "a", encoding="utf-8", buffering=1)
        self.lock = threading.Lock()
        self.sessions = 0

    def next_session(self):
        with self.lock:
            self.sessions += 1
            return self.sessions

    def write(self, session, text):
        with self.lock:
            self.out.write(f"{time.time():.3f} {session} {text}\n")


class Session(socketserver.StreamRequestHandler):
    def handle(self):
        cfg = self.server.cfg
        number = cfg.log.next_session()
        cfg.log.write(number, "open")
        messages = {k: message(k, k in cfg.spam) for k in range(1, cfg.messages + 1)}
        deleted = set()
        user = None
        authorised = False
        ended = "dropped"

        def reply(*lines):
            time.sleep(cfg.delay)
            self.wfile.write(b"".join(line + b"\r\n" for line in lines))

        def listing(first, lines):
            reply(first, *[b"." + line if line.startswith(b".") else line for line in lines], b".")

        def live(argument):
            k = int(argument) if argument.isdigit() else 0
            return k if k in messages and k not in deleted else None

        if number > MAX_SESSIONS:
            self.wfile.write(b"-ERR too many sessions\r\n")
            return cfg.log.write(number, "close refused")
        try:
            reply(b"+OK slow POP3 ready")
            while True:
                line = self.rfile.readline(MAX_LINE)
                if not line.endswith(b"\n"):
                    break
                words = line.decode("ascii", "replace").strip().split(" ")
                command, arguments = words[0].upper(), words[1:]
                cfg.log.write(number, command + " ***" if command == "PASS" else " ".join(words))
                left = {k: m for k, m in messages.items() if k not in deleted}
                if command == "CAPA":
                    listing(b"+OK", [c.encode() for c in CAPABILITIES])
                elif command == "USER" and not authorised:
                    user = arguments[0] if arguments else None
                    reply(b"+OK")
                elif command == "PASS" and not authorised:
                    authorised = user == USER and arguments == [PASSWORD]
                    reply(b"+OK logged in" if authorised else b"-ERR [AUTH] wrong user or password")
                elif command == "QUIT":
                    ended = "quit"
                    if authorised and deleted:
                        cfg.log.write(number, "deleted " + ",".join(map(str, sorted(deleted))))
                    reply(b"+OK bye")
                    break
                elif not authorised:
                    reply(b"-ERR log in first")
                elif command == "STAT":
                    reply(f"+OK {len(left)} {sum(map(len, left.values()))}".encode())
                elif command in ("LIST", "UIDL") and not arguments:
                    lines = [f"{k} {len(m)}" if command == "LIST" else f"{k} slow-{k}" for k, m in left.items()]
                    listing(b"+OK", [x.encode() for x in lines])
                elif command == "TOP" and len(arguments) == 2 and live(arguments[0]):
                    header = messages[live(arguments[0])].split(b"\r\n\r\n")[0]
                    listing(b"+OK", header.split(b"\r\n") + [b""])
                elif command == "DELE" and arguments and live(arguments[0]):
                    deleted.add(live(arguments[0]))
                    reply(b"+OK")
                else:
                    reply(b"-ERR not here")
        except OSError:
            pass
        cfg.log.write(number, "close " + ended)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port_file")
    parser.add_argument("log")
    parser.add_argument("--delay", type=float, default=1.0)
    parser.add_argument("--messages", type=int, default=6)
    parser.add_argument("--spam", default="2,5")
    parser.add_argument("--limit", type=float, default=120.0)
    cfg = parser.parse_args()
    cfg.spam = {int(k) for k in cfg.spam.split(",") if k}
    cfg.log = Log(cfg.log)
    server = Server(("127.0.0.1", 0), Session)
    server.cfg = cfg
    threading.Thread(target=server.serve_forever, daemon=True).start()
    with open(cfg.port_file + ".tmp", "w") as out:
        out.write(str(server.server_address[1]))
    os.rename(cfg.port_file + ".tmp", cfg.port_file)
    time.sleep(cfg.limit)  # the whole life of the server: it never outlives a test that forgot it
    os._exit(0)


if __name__ == "__main__":
    main()
