#!/usr/bin/python3
# Stand-ins on the session bus for what a desktop provides.
# watch FILE: a StatusNotifierWatcher, the tray host's side: owns the watcher's name, reports a host,
# creates FILE once it is up and appends every item that registers to it.
# click ITEM LABEL: reads the item's exported menu (com.canonical.dbusmenu), checks it is
# "メールチェック", "削除履歴", a separator, "メイン画面を表示", a separator and "終了", and clicks the
# entry LABEL as a host would, without waiting for the answer (the program may end first).
# keyring FILE: a keyring that never answers: owns org.freedesktop.secrets, creates FILE once it does,
# and drops every call to it unanswered, appending a line per call to FILE. It ends after 170 s.
import sys

from gi.repository import Gio, GLib

WATCHER = "org.kde.StatusNotifierWatcher"
INTERFACE = Gio.DBusNodeInfo.new_for_xml(f"""<node><interface name="{WATCHER}">
<method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
<property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
<property name="ProtocolVersion" type="i" access="read"/></interface></node>""").interfaces[0]
bus = Gio.bus_get_sync(Gio.BusType.SESSION)


def own(name, record):
    Gio.bus_own_name_on_connection(bus, name, Gio.BusNameOwnerFlags.NONE, lambda *_: open(record, "a").close(), None)
    loop = GLib.MainLoop()
    GLib.timeout_add_seconds(170, loop.quit)
    loop.run()


def watch(record):
    def register(bus, sender, path, interface, method, args, invocation):
        service = args.unpack()[0]
        with open(record, "a", encoding="utf-8") as out:
            out.write((service if service.startswith(":") or "." in service else sender) + "\n")
        invocation.return_value(None)

    def get(bus, sender, path, interface, name):
        return GLib.Variant("b", True) if name == "IsStatusNotifierHostRegistered" else GLib.Variant("i", 0)

    bus.register_object("/StatusNotifierWatcher", INTERFACE, register, get, None)
    own(WATCHER, record)


def keyring(record):
    def swallow(connection, message, incoming):  # on GDBus's worker thread, before any handler
        if incoming and message.get_message_type() == Gio.DBusMessageType.METHOD_CALL and \
                message.get_destination() in ("org.freedesktop.secrets", connection.get_unique_name()):
            with open(record, "a") as out:
                out.write(f"{message.get_interface()}.{message.get_member()}\n")
            return None
        return message

    bus.add_filter(swallow)
    own("org.freedesktop.secrets", record)


def click(item, label):
    def call(path, method, signature, args, reply):
        interface, method = method.rsplit(".", 1)
        return bus.call_sync(item, path, interface, method, GLib.Variant(signature, args), GLib.VariantType(reply),
                             Gio.DBusCallFlags.NONE, 5000, None).unpack()

    menu, = call("/StatusNotifierItem", "org.freedesktop.DBus.Properties.Get", "(ss)",
                 ("org.kde.StatusNotifierItem", "Menu"), "(v)")
    _, (_, _, children) = call(menu, "com.canonical.dbusmenu.GetLayout", "(iias)", (0, -1, []), "(u(ia{sv}av))")
    entries = [(child[1].get("type", "standard"), child[1].get("label", "")) for child in children]
    expected = [("standard", "メールチェック"), ("standard", "削除履歴"), ("separator", ""),
                ("standard", "メイン画面を表示"), ("separator", ""), ("standard", "終了")]
    if entries != expected:
        sys.exit(f"the tray menu is {entries}, expected {expected}")
    event = Gio.DBusMessage.new_method_call(item, menu, "com.canonical.dbusmenu", "Event")
    chosen = next(child[0] for child in children if child[1].get("label") == label)
    event.set_body(GLib.Variant("(isvu)", (chosen, "clicked", GLib.Variant("i", 0), 0)))
    event.set_flags(Gio.DBusMessageFlags.NO_REPLY_EXPECTED)
    bus.send_message(event, Gio.DBusSendMessageFlags.NONE)
    bus.flush_sync(None)


if __name__ == "__main__":
    {"watch": watch, "keyring": keyring, "click": click}[sys.argv[1]](*sys.argv[2:])
