#!/usr/bin/python3
# A StatusNotifierWatcher of our own on the session bus, standing in for a desktop's tray host.
# watch FILE: owns the watcher's name, reports a host, creates FILE once it is up and appends every
# item that registers to it.
# click ITEM LABEL: reads the item's exported menu (com.canonical.dbusmenu), checks it is
# "メイン画面を表示", a separator and "終了", and clicks the entry LABEL as a host would, without
# waiting for the answer (the program may end first).
import sys

from gi.repository import Gio, GLib

WATCHER = "org.kde.StatusNotifierWatcher"
INTERFACE = Gio.DBusNodeInfo.new_for_xml(f"""<node><interface name="{WATCHER}">
<method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
<property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
<property name="ProtocolVersion" type="i" access="read"/>
</interface></node>""").interfaces[0]


def watch(record):
    def register(bus, sender, path, interface, method, args, invocation):
        service = args.unpack()[0]
        with open(record, "a", encoding="utf-8") as out:
            out.write((service if service.startswith(":") or "." in service else sender) + "\n")
        invocation.return_value(None)

    def get(bus, sender, path, interface, name):
        return GLib.Variant("b", True) if name == "IsStatusNotifierHostRegistered" else GLib.Variant("i", 0)

    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    bus.register_object("/StatusNotifierWatcher", INTERFACE, register, get, None)
    Gio.bus_own_name_on_connection(bus, WATCHER, Gio.BusNameOwnerFlags.NONE, lambda *_: open(record, "w").close(),
                                   None)
    GLib.MainLoop().run()


def click(item, label):
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)

    def call(path, method, signature, args, reply):
        interface, method = method.rsplit(".", 1)
        return bus.call_sync(item, path, interface, method, GLib.Variant(signature, args), GLib.VariantType(reply),
                             Gio.DBusCallFlags.NONE, 5000, None).unpack()

    menu, = call("/StatusNotifierItem", "org.freedesktop.DBus.Properties.Get", "(ss)",
                 ("org.kde.StatusNotifierItem", "Menu"), "(v)")
    _, (_, _, children) = call(menu, "com.canonical.dbusmenu.GetLayout", "(iias)", (0, -1, []), "(u(ia{sv}av))")
    entries = [(child[1].get("type", "standard"), child[1].get("label", "")) for child in children]
    expected = [("standard", "メイン画面を表示"), ("separator", ""), ("standard", "終了")]
    if entries != expected:
        sys.exit(f"the tray menu is {entries}, expected {expected}")
    chosen = next(child[0] for child in children if child[1].get("label") == label)
    event = Gio.DBusMessage.new_method_call(item, menu, "com.canonical.dbusmenu", "Event")
    event.set_body(GLib.Variant("(isvu)", (chosen, "clicked", GLib.Variant("i", 0), 0)))
    event.set_flags(Gio.DBusMessageFlags.NO_REPLY_EXPECTED)
    bus.send_message(event, Gio.DBusSendMessageFlags.NONE)
    bus.flush_sync(None)


if __name__ == "__main__":
    watch(sys.argv[2]) if sys.argv[1] == "watch" else click(sys.argv[2], sys.argv[3])
