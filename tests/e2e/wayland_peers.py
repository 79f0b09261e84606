#!/usr/bin/python3
# Stand-ins on the session bus for the Wayland test.
# desktop FILE: a desktop notification service: owns org.freedesktop.Notifications, creates FILE
# once it does and appends each Notify call to it as a line of JSON with the id it returned. A new
# notification gets the next id from 41 on; one that replaces a known id keeps it. Also owns
# org.a11y.Bus, naming this bus as the accessibility bus. Ends after 170 s.
# press LABEL: presses the program's button LABEL through its accessibility objects (AT-SPI), which
# the program serves on this bus when started with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1; a test on
# Wayland has no other way to press it.
# windows TITLE: prints how many of the program's windows are titled TITLE, through the same objects.
import json
import os
import sys

from gi.repository import Gio, GLib

bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def desktop(record):
    node = Gio.DBusNodeInfo.new_for_xml("""<node><interface name="org.a11y.Bus">
<method name="GetAddress"><arg type="s" direction="out"/></method></interface>
<interface name="org.freedesktop.Notifications">
<method name="Notify"><arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
<arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
<arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/></method>
</interface></node>""")
    given = []

    def call(connection, sender, path, interface, method, args, invocation):
        if method == "GetAddress":
            return invocation.return_value(GLib.Variant("(s)", (os.environ["DBUS_SESSION_BUS_ADDRESS"],)))
        app, replaces, icon, summary, body, _, hints, _ = args.unpack()
        given.append(replaces if replaces in given else 41 + len(given))
        with open(record, "a", encoding="utf-8") as out:
            print(json.dumps({"app": app, "replaces_id": replaces, "app_icon": icon, "summary": summary,
                              "body": body, "hints": hints, "returned": given[-1]}, ensure_ascii=False), file=out)
        invocation.return_value(GLib.Variant("(u)", (given[-1],)))

    bus.register_object("/org/a11y/bus", node.interfaces[0], call, None, None)
    bus.register_object("/org/freedesktop/Notifications", node.interfaces[1], call, None, None)
    Gio.bus_own_name_on_connection(bus, "org.a11y.Bus", Gio.BusNameOwnerFlags.NONE, None, None)
    Gio.bus_own_name_on_connection(bus, "org.freedesktop.Notifications", Gio.BusNameOwnerFlags.NONE,
                                   lambda *_: open(record, "a").close(), None)
    loop = GLib.MainLoop()
    GLib.timeout_add_seconds(170, loop.quit)
    loop.run()


ACCESSIBLE, ROOT = "org.a11y.atspi.Accessible", "/org/a11y/atspi/accessible/root"


def call(name, path, interface, method, args=None, reply="(v)"):
    return bus.call_sync(name, path, interface, method, args, GLib.VariantType(reply),
                         Gio.DBusCallFlags.NONE, 3000, None).unpack()[0]


def named(name, path):
    return call(name, path, "org.freedesktop.DBus.Properties", "Get", GLib.Variant("(ss)", (ACCESSIBLE, "Name")))


def children(name, path):
    return [child for _, child in call(name, path, ACCESSIBLE, "GetChildren", None, "(a(so))")]


def program():
    """The bus name that serves the program's accessibility objects."""
    for name in call("org.freedesktop.DBus", "/", "org.freedesktop.DBus", "ListNames", None, "(as)"):
        try:
            if name.startswith(":") and name != bus.get_unique_name() and children(name, ROOT):
                return name
        except GLib.Error:
            continue
    sys.exit("no accessible program on the bus")


def press(label):
    def find(name, path, depth=0):
        if named(name, path) == label:
            return path
        return next(filter(None, (find(name, child, depth + 1) for child in children(name, path))), None) \
            if depth < 6 else None

    name = program()
    path = find(name, ROOT) or sys.exit(f"no accessible {label} in the program")
    call(name, path, "org.a11y.atspi.Action", "DoAction", GLib.Variant("(i)", (0,)), "(b)")


def windows(title):
    """Prints how many of the program's windows are titled title."""
    name = program()
    print(sum(named(name, window) == title for window in children(name, ROOT)))


if __name__ == "__main__":
    {"desktop": desktop, "press": press, "windows": windows}[sys.argv[1]](*sys.argv[2:])
