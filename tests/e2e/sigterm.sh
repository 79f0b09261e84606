#!/usr/bin/env bash
# The real program under Xvfb on a private session bus with a StatusNotifierWatcher of our own, the
# tray of KDE Plasma, GNOME with AppIndicator and Wayland panels, against a server that answers
# every request a second late.
# - "タスクトレイ常駐" hides the main window, the icon registers with the watcher, its exported menu
#   holds "メイン画面を表示", a separator and "終了", and clicking the first over D-Bus brings the
#   main window back.
# - SIGTERM in the middle of the check ends the program within a second, and the server never sees
#   QUIT, so nothing the session asked to delete would be deleted.
source "${BASH_SOURCE[0]%/*}/common.sh" || exit 1
require Xvfb xdotool xdpyinfo xwininfo dbus-daemon
/usr/bin/python3 -c 'from gi.repository import Gio' 2>/dev/null || skip "python3-gi is not installed"

start_xvfb
start_bus
start_watcher
start_slow_pop3 --delay 1
start_main "127.0.0.1:$SLOW_PORT"
to_tray
wait_for 10 test -s "$ITEMS" || fail "no StatusNotifierItem registered with the watcher"
watcher click "$(tail -n1 "$ITEMS")" メイン画面を表示 || fail "the exported menu is wrong"
main_shown "メイン画面を表示 over D-Bus did not bring the main window back"
click_button 0 # メールチェック
wait_for 30 session_saw 1 'TOP 1 0' || fail "the check never asked for a header"
started=$(now)
kill -TERM "$PROGRAM_PID"
wait_for 5 gone "$PROGRAM_PID" || fail "the program still runs 5 s after SIGTERM"
elapsed=$(ms_since "$started")
[ "$elapsed" -lt 1000 ] || fail "the program took $elapsed ms to end after SIGTERM"
wait_for 10 session_saw 1 close || fail "the session was not closed"
! session_saw 1 QUIT || fail "QUIT was sent: the server would apply the session's deletions"
echo "ok: to the StatusNotifierItem tray and back; ended $elapsed ms after SIGTERM in mid-check, without QUIT"
