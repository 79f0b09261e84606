#!/usr/bin/python3
# A StatusNotifierWatcher of our own on the session bus, standing in for a desktop's tray host.
# watch FILE: owns the watcher's name, reports a host, appends every item that registers to FILE.
# show-main ITEM: reads the item's exported menu (com.canonical.dbusmenu), checks it is
# "メイン画面を表示", a separator and "終了", and clicks the first entry as a host would.
import sys

import dbus
import dbus.service

WATCHER = "org.kde.StatusNotifierWatcher"
INTROSPECTION = f"""<node><interface name="{WATCHER}">
<method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
<property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
<property name="ProtocolVersion" type="i" access="read"/>
</interface></node>"""


class Watcher(dbus.service.Object):
    def __init__(self, bus, record):
        self.record = record
        super().__init__(dbus.service.BusName(WATCHER, bus), "/StatusNotifierWatcher")

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        name = service if service.startswith(":") or "." in service else sender
        with open(self.record, "a", encoding="utf-8") as out:
            out.write(name + "\n")

    # Qt reads IsStatusNotifierHostRegistered through introspection, which dbus-python leaves
    # without properties.
    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        return self.GetAll(interface)[prop]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"IsStatusNotifierHostRegistered": True, "ProtocolVersion": dbus.Int32(0)}


def watch(record):
    import dbus.mainloop.glib
    from gi.repository import GLib
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    Watcher(bus, record)
    GLib.MainLoop().run()


def show_main(item):
    bus = dbus.SessionBus()
    props = dbus.Interface(bus.get_object(item, "/StatusNotifierItem"), dbus.PROPERTIES_IFACE)
    menu_path = props.Get("org.kde.StatusNotifierItem", "Menu")
    menu = dbus.Interface(bus.get_object(item, menu_path), "com.canonical.dbusmenu")
    _, (_, _, children) = menu.GetLayout(0, -1, [], timeout=5)
    entries = [(int(c[0]), str(c[1].get("type", "standard")), str(c[1].get("label", ""))) for c in children]
    visible = [(kind, label) for _, kind, label in entries]
    expected = [("standard", "メイン画面を表示"), ("separator", ""), ("standard", "終了")]
    if visible != expected:
        sys.exit(f"the tray menu is {visible}, expected {expected}")
    menu.Event(entries[0][0], "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0), timeout=5)
    print("ok: the exported menu is メイン画面を表示, a separator, 終了; clicked the first")


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("watch", "show-main"):
        sys.exit("usage: sni_watcher.py watch FILE | show-main ITEM")
    (watch if sys.argv[1] == "watch" else show_main)(sys.argv[2])
