#!/usr/bin/python3
# Stand-ins on the session bus for the Wayland test.
# desktop FILE: a desktop notification service: owns org.freedesktop.Notifications, creates FILE
# once it does and appends each Notify call to it as a line of JSON with the id it returned. A new
# notification gets the next id from 41 on; one that replaces a known id keeps it. Also owns
# org.a11y.Bus, naming this bus as the accessibility bus. Ends after 170 s.
# press LABEL: presses the program's button LABEL through its accessibility objects (AT-SPI), which
# the program serves on this bus when started with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1; a test on
# Wayland has no other way to press it.
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


def press(label):
    def call(name, path, interface, method, args=None, reply="(v)"):
        return bus.call_sync(name, path, interface, method, args, GLib.VariantType(reply),
                             Gio.DBusCallFlags.NONE, 3000, None).unpack()

    def find(name, path, depth=0):
        accessible = "org.a11y.atspi.Accessible"
        if call(name, path, "org.freedesktop.DBus.Properties", "Get", GLib.Variant("(ss)", (accessible, "Name")),
                "(v)")[0] == label:
            return path
        children = call(name, path, accessible, "GetChildren", None, "(a(so))")[0] if depth < 6 else []
        return next(filter(None, (find(name, child, depth + 1) for _, child in children)), None)

    for name in call("org.freedesktop.DBus", "/", "org.freedesktop.DBus", "ListNames", None, "(as)")[0]:
        try:
            path = name.startswith(":") and name != bus.get_unique_name() and find(name, "/org/a11y/atspi/accessible/root")
        except GLib.Error:
            continue
        if path:
            call(name, path, "org.a11y.atspi.Action", "DoAction", GLib.Variant("(i)", (0,)), "(b)")
            return
    sys.exit(f"no accessible button {label} on the bus")


if __name__ == "__main__":
    {"desktop": desktop, "press": press}[sys.argv[1]](*sys.argv[2:])
