#!/usr/bin/python3
# A logging POP3 relay on loopback: program -> relay -> server.
#
#   pop3_relay.py LOG SERVER_PORT
#
# Listens on a free port of 127.0.0.1 (printed once it accepts), relays each connection
# to 127.0.0.1:SERVER_PORT and writes a transcript to LOG: "<time> <session> open", then one line per
# line each way ("C: ..." from the program, "S: ..." from the server; the password shown as "***"),
# then "<time> <session> close". Ends on SIGTERM, and by itself after 150 s.
#
import asyncio
import itertools
import signal
import sys
import time

LOG, SERVER_PORT = open(sys.argv[1], "a", encoding="utf-8", buffering=1), int(sys.argv[2])
SESSIONS = itertools.count(1)


def log(session, text):
    LOG.write("%.3f %d %s\n" % (time.monotonic(), session, text))


async def pump(reader, writer, session, side):
    while line := await reader.readline():
        shown = line.rstrip(b"\r\n").decode("utf-8", "replace")
        log(session, side + ": " + ("PASS ***" if side == "C" and shown.upper().startswith("PASS ") else shown))
        writer.write(line)
        await writer.drain()
    writer.close()


async def relay(client_reader, client_writer):
    session = next(SESSIONS)
    log(session, "open")
    try:
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", SERVER_PORT, limit=1 << 20)
        await asyncio.gather(pump(client_reader, server_writer, session, "C"),
                             pump(server_reader, client_writer, session, "S"), return_exceptions=True)
    finally:
        client_writer.close()
        log(session, "close")


async def main():
    server = await asyncio.start_server(relay, "127.0.0.1", 0, limit=1 << 20)
    print(server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


signal.alarm(150)
asyncio.run(main())
