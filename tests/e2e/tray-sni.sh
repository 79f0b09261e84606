#!/usr/bin/env bash
# The tray on a StatusNotifierItem host (KDE Plasma, GNOME with AppIndicator, Wayland panels): a
# private session bus with a watcher of our own. "タスクトレイ常駐" hides the main window, the
# icon registers with the watcher, its exported menu holds "メイン画面を表示", a separator and
# "終了", and clicking "メイン画面を表示" over D-Bus brings the main window back.
source "${BASH_SOURCE[0]%/*}/common.sh" || exit 1
require Xvfb xdotool xdpyinfo dbus-daemon
/usr/bin/python3 -c 'import dbus, gi' 2>/dev/null || skip "python3-dbus is not installed"

start_xvfb
# A bus of this test's own: the watcher and the program meet there and nowhere else.
eval "$(dbus-daemon --session --fork --print-address=1 --print-pid=1 | {
    read -r address
    read -r pid
    echo "export DBUS_SESSION_BUS_ADDRESS=$address; E2E_PIDS+=($pid)"
})"
items="$E2E_TMP/items"
/usr/bin/python3 "$E2E_SOURCE_DIR/tests/e2e/sni_watcher.py" watch "$items" >"$E2E_TMP/watcher.log" 2>&1 &
E2E_PIDS+=($!)
watcher_up() { dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.NameHasOwner string:org.kde.StatusNotifierWatcher | grep -q 'boolean true'; }
wait_for 10 watcher_up || fail "the watcher did not start: $(cat "$E2E_TMP/watcher.log")"

make_program_folder "$E2E_PROGRAM_FOLDER" "$E2E_TMP/Mossvale" "127.0.0.1:1"
start_program "$E2E_TMP/Mossvale"
wait_for 15 visible_window "$MAIN_TITLE" || fail "the main window did not appear"
main=$(visible_window "$MAIN_TITLE")
sleep 0.5
click_button "$main" 5 # タスクトレイ常駐
main_hidden() { ! visible_window "$MAIN_TITLE"; }
wait_for 10 main_hidden || { screenshot not-hidden.png; fail "the main window is still visible after タスクトレイ常駐"; }
wait_for 10 test -s "$items" || fail "no StatusNotifierItem registered with the watcher"
/usr/bin/python3 "$E2E_SOURCE_DIR/tests/e2e/sni_watcher.py" show-main "$(head -n1 "$items")" ||
    fail "the exported menu is wrong"
wait_for 10 visible_window "$MAIN_TITLE" || fail "メイン画面を表示 over D-Bus did not bring the main window back"
screenshot tray-sni-back.png
echo "ok: the main window went to a StatusNotifierItem host's tray and came back through its menu"
