#!/usr/bin/python3
"""A logging POP3 relay on loopback: program -> relay -> server.

  pop3_relay.py PORT_FILE LOG SERVER_PORT [--hide-pipelining]

Listens on a free port of 127.0.0.1 (written to PORT_FILE once it accepts), relays each connection
to 127.0.0.1:SERVER_PORT and writes a transcript to LOG: "<time> <session> open", then one line per
line each way ("C: ..." from the program, "S: ..." from the server; the password shown as "***"),
then "<time> <session> close". With --hide-pipelining the server's PIPELINING capability is taken
out of its CAPA reply. Ends by itself after 150 s, and never holds more than 8 connections.
"""
import asyncio
import sys
import time

LIFETIME_S = 150
MAX_SESSIONS = 8
MAX_LINE = 64 * 1024


class Transcript:
    def __init__(self, path):
        self.file = open(path, "a", encoding="utf-8", errors="replace", buffering=1)
        self.sessions = 0

    def write(self, session, text):
        self.file.write("%.3f %d %s\n" % (time.monotonic(), session, text))


async def pump(reader, writer, log, session, side, hide):
    pending = b""
    in_capa = False
    while True:
        chunk = await reader.read(65536)
        if not chunk:
            break
        pending += chunk
        out = b""
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            shown = line.rstrip(b"\r").decode("utf-8", "replace")
            if side == "C" and shown.upper().startswith("PASS "):
                shown = "PASS ***"
            if side == "C" and shown.upper() == "CAPA":
                log.capa_asked = True
            if side == "S" and log.capa_asked and shown.startswith("+OK"):
                in_capa, log.capa_asked = True, False
            elif in_capa and shown == ".":
                in_capa = False
            if hide and in_capa and shown.upper() == "PIPELINING":
                log.write(session, "S: (hidden) " + shown)
                continue
            log.write(session, side + ": " + shown)
            out += line + b"\n"
        if len(pending) > MAX_LINE:
            out, pending = out + pending, b""
        if out:
            writer.write(out)
            await writer.drain()
    if pending:
        writer.write(pending)
    writer.close()


async def relay(client_reader, client_writer, log, server_port, hide):
    if log.sessions >= MAX_SESSIONS:
        client_writer.close()
        return
    log.sessions += 1
    session = log.sessions
    log.capa_asked = False
    log.write(session, "open")
    try:
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", server_port)
        await asyncio.gather(
            pump(client_reader, server_writer, log, session, "C", hide),
            pump(server_reader, client_writer, log, session, "S", hide),
            return_exceptions=True)
    finally:
        client_writer.close()
        log.write(session, "close")


async def main(port_file, log_path, server_port, hide):
    log = Transcript(log_path)
    server = await asyncio.start_server(lambda r, w: relay(r, w, log, server_port, hide), "127.0.0.1", 0)
    with open(port_file + ".tmp", "w") as f:
        f.write("%d\n" % server.sockets[0].getsockname()[1])
    import os
    os.rename(port_file + ".tmp", port_file)
    async with server:
        await asyncio.sleep(LIFETIME_S)


if __name__ == "__main__":
    if len(sys.argv) not in (4, 5) or sys.argv[4:] not in ([], ["--hide-pipelining"]):
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    asyncio.run(main(sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:] == ["--hide-pipelining"]))
