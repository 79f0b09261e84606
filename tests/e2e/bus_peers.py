#!/usr/bin/python3
# A stand-in on the session bus for what a desktop provides.
# keyring FILE: a keyring that never answers: owns org.freedesktop.secrets and drops every call to it
# unanswered, appending a line per call to FILE. It creates FILE once it owns the name and ends
# after 170 s.
import sys

from gi.repository import Gio, GLib

bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def append(record, line):
    with open(record, "a", encoding="utf-8") as out:
        print(line, file=out)


def keyring(record):
    def swallow(connection, message, incoming):  # on GDBus's worker thread, before any handler
        if incoming and message.get_message_type() == Gio.DBusMessageType.METHOD_CALL and \
                message.get_destination() in ("org.freedesktop.secrets", connection.get_unique_name()):
            return append(record, f"{message.get_interface()}.{message.get_member()}")
        return message

    bus.add_filter(swallow)
    Gio.bus_own_name_on_connection(bus, "org.freedesktop.secrets", Gio.BusNameOwnerFlags.NONE,
                                   lambda *_: open(record, "a").close(), None)
    loop = GLib.MainLoop()
    GLib.timeout_add_seconds(170, loop.quit)
    loop.run()


if __name__ == "__main__":
    {"keyring": keyring}[sys.argv[1]](*sys.argv[2:])
