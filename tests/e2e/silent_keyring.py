#!/usr/bin/python3
"""A keyring that never answers: owns org.freedesktop.secrets on the session bus and swallows every
method call sent to it, so a caller waits for a reply that never comes.

silent_keyring.py LOG [LIMIT]

Writes "<time> owned" to LOG once it owns the name, then "<time> <interface>.<member> <path>" for
each call it swallows. It ends by itself after LIMIT seconds (default 120).
"""
import sys
import threading
import time

from gi.repository import Gio, GLib

NAME = "org.freedesktop.secrets"


def main():
    log_path = sys.argv[1]
    limit = float(sys.argv[2]) if len(sys.argv) > 2 else 120.0
    log = open(log_path, "a", encoding="utf-8", buffering=1)
    lock = threading.Lock()  # the filter writes from GDBus's worker thread

    def note(text):
        with lock:
            log.write(f"{time.time():.3f} {text}\n")

    def swallow(connection, message, incoming):
        # Runs on GDBus's worker thread, before any handler: a call to us is dropped unanswered.
        if incoming and message.get_message_type() == Gio.DBusMessageType.METHOD_CALL and \
                message.get_destination() in (NAME, connection.get_unique_name()):
            note(f"{message.get_interface()}.{message.get_member()} {message.get_path()}")
            return None
        return message

    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    bus.add_filter(swallow)
    loop = GLib.MainLoop()
    Gio.bus_own_name_on_connection(bus, NAME, Gio.BusNameOwnerFlags.NONE, lambda *_: note("owned"),
                                   lambda *_: loop.quit())
    GLib.timeout_add(int(limit * 1000), loop.quit)
    loop.run()


if __name__ == "__main__":
    main()
