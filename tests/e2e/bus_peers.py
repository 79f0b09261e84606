#!/usr/bin/python3
# Stand-ins on the session bus for what a desktop provides. Those that own a name create FILE once
# they do and end after 170 s.
# keyring FILE: a keyring that never answers: owns org.freedesktop.secrets and drops every call to it
# unanswered, appending a line per call to FILE.
# desktop FILE: a notification service: appends each Notify call to FILE as a line of JSON with the
# id it returned: the next from 41 on, or the one it replaces. Also names this bus as the
# accessibility bus (org.a11y.Bus).
# press LABEL: presses the program's button LABEL through its accessibility objects (AT-SPI), which
# the program serves on this bus when started with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1; a test on
# Wayland has no other way to press it.
# windows TITLE: prints how many of the program's windows are titled TITLE, through the same objects.
import json
import os
import sys

from gi.repository import Gio, GLib

bus = Gio.bus_get_sync(Gio.BusType.SESSION)
ACCESSIBLE, ROOT = "org.a11y.atspi.Accessible", "/org/a11y/atspi/accessible/root"


def interfaces(xml):
    return Gio.DBusNodeInfo.new_for_xml(f"<node>{xml}</node>").interfaces


def own(record, *names):
    for name in names:
        Gio.bus_own_name_on_connection(bus, name, Gio.BusNameOwnerFlags.NONE, lambda *_: open(record, "a").close(), None)
    loop = GLib.MainLoop()
    GLib.timeout_add_seconds(170, loop.quit)
    loop.run()


def call(name, path, method, signature=None, args=None, reply="(v)"):
    interface, method = method.rsplit(".", 1)
    return bus.call_sync(name, path, interface, method, signature and GLib.Variant(signature, args),
                         GLib.VariantType(reply), Gio.DBusCallFlags.NONE, 5000, None).unpack()


def get(name, path, interface, prop):
    return call(name, path, "org.freedesktop.DBus.Properties.Get", "(ss)", (interface, prop))[0]


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
    own(record, "org.freedesktop.secrets")


def desktop(record):
    given = []

    def answer(connection, sender, path, interface, method, args, invocation):
        if method == "GetAddress":
            return invocation.return_value(GLib.Variant("(s)", (os.environ["DBUS_SESSION_BUS_ADDRESS"],)))
        app, replaces, icon, summary, body, _, hints, _ = args.unpack()
        given.append(replaces if replaces in given else 41 + len(given))
        append(record, json.dumps({"app": app, "replaces_id": replaces, "app_icon": icon, "summary": summary,
                                   "body": body, "hints": hints, "returned": given[-1]}, ensure_ascii=False))
        invocation.return_value(GLib.Variant("(u)", (given[-1],)))

    a11y, notifications = interfaces("""<interface name="org.a11y.Bus">
<method name="GetAddress"><arg type="s" direction="out"/></method></interface>
<interface name="org.freedesktop.Notifications"><method name="Notify"><arg type="s" direction="in"/>
<arg type="u" direction="in"/><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="s" direction="in"/>
<arg type="as" direction="in"/><arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
<arg type="u" direction="out"/></method></interface>""")
    bus.register_object("/org/a11y/bus", a11y, answer, None, None)
    bus.register_object("/org/freedesktop/Notifications", notifications, answer, None, None)
    own(record, "org.a11y.Bus", "org.freedesktop.Notifications")


def children(name, path):
    return [child for _, child in call(name, path, ACCESSIBLE + ".GetChildren", reply="(a(so))")[0]]


def program():
    """The bus name that serves the program's accessibility objects, and its windows' paths."""
    for name in call("org.freedesktop.DBus", "/", "org.freedesktop.DBus.ListNames", reply="(as)")[0]:
        try:
            if name.startswith(":") and name != bus.get_unique_name() and children(name, ROOT):
                return name, children(name, ROOT)
        except GLib.Error:
            continue
    sys.exit("no accessible program on the bus")


def press(label):
    def find(path, depth=0):
        if get(name, path, ACCESSIBLE, "Name") == label:
            return path
        return next(filter(None, (find(child, depth + 1) for child in children(name, path))), None) \
            if depth < 6 else None

    name, _ = program()
    path = find(ROOT) or sys.exit(f"no accessible {label} in the program")
    call(name, path, "org.a11y.atspi.Action.DoAction", "(i)", (0,), "(b)")


def windows(title):
    name, paths = program()
    print(sum(get(name, window, ACCESSIBLE, "Name") == title for window in paths))


if __name__ == "__main__":
    commands = {"keyring": keyring, "desktop": desktop, "press": press,
                "windows": windows}
    commands[sys.argv[1]](*sys.argv[2:])
