#!/usr/bin/env bash
# The real program under Xvfb on a private session bus with a StatusNotifierWatcher of our own, the
# tray of KDE Plasma, GNOME with AppIndicator and Wayland panels, against a server that answers the
# login and then never answers a header request.
# - "タスクトレイ常駐" hides the main window, the icon registers with the watcher, its exported menu
#   holds "メイン画面を表示", a separator and "終了", and clicking the first over D-Bus brings the
#   main window back.
# - SIGTERM in the middle of the check ends the program within a second, and the server never sees
#   QUIT, so nothing the session asked to delete would be deleted.
source "${BASH_SOURCE[0]%/*}/common.sh" || exit 1
require Xvfb xdotool xdpyinfo dbus-daemon
/usr/bin/python3 -c 'from gi.repository import Gio' 2>/dev/null || skip "python3-gi is not installed"

start_xvfb
dbus-daemon --session --fork --print-address=1 --print-pid=1 >"$E2E_TMP/bus" # a bus of this test's own
{ read -r DBUS_SESSION_BUS_ADDRESS && read -r bus_pid; } <"$E2E_TMP/bus"
export DBUS_SESSION_BUS_ADDRESS && E2E_PIDS+=("$bus_pid")
watcher() { /usr/bin/python3 "$E2E_SOURCE_DIR/tests/e2e/sni_watcher.py" "$@"; }
watcher watch "$E2E_TMP/items" >"$E2E_TMP/watcher.log" 2>&1 &
E2E_PIDS+=($!)
wait_for 10 test -e "$E2E_TMP/items" || fail "the watcher did not start: $(cat "$E2E_TMP/watcher.log")"

log="$E2E_TMP/requests.log"
/usr/bin/python3 - "$E2E_TMP/port" "$log" <<'PY' &
import socket, sys
server = socket.create_server(("127.0.0.1", 0))
open(sys.argv[1], "w").write(str(server.getsockname()[1]))
client, _ = server.accept()
log = open(sys.argv[2], "w", buffering=1)
answers = {b"CAPA": b"-ERR\r\n", b"USER": b"+OK\r\n", b"PASS": b"+OK\r\n", b"STAT": b"+OK 1 100\r\n",
           b"LIST": b"-ERR\r\n", b"UIDL": b"-ERR\r\n"}
client.sendall(b"+OK ready\r\n")
for line in client.makefile("rb"):
    log.write(line.decode(errors="replace"))
    client.sendall(answers.get(line.split(b" ")[0].strip(), b""))  # TOP gets no answer at all
PY
E2E_PIDS+=($!)
wait_for 10 test -s "$E2E_TMP/port" || fail "the silent server did not start"

start_main "127.0.0.1:$(cat "$E2E_TMP/port")"
to_tray
wait_for 10 test -s "$E2E_TMP/items" || fail "no StatusNotifierItem registered with the watcher"
watcher show-main "$(head -n1 "$E2E_TMP/items")" || fail "the exported menu is wrong"
main_shown "メイン画面を表示 over D-Bus did not bring the main window back"
click_button 0 # メールチェック
asked_header() { grep -q '^TOP 1 0' "$log"; }
wait_for 10 asked_header || fail "the check never asked for a header"
started=$(date +%s%N)
kill -TERM "$PROGRAM_PID"
ended() { [[ "$(ps -o stat= -p "$PROGRAM_PID" 2>/dev/null)" == Z* || -z "$(ps -o stat= -p "$PROGRAM_PID")" ]]; }
wait_for 5 ended || fail "the program still runs 5 s after SIGTERM"
elapsed=$((($(date +%s%N) - started) / 1000000))
[ "$elapsed" -lt 1000 ] || fail "the program took $elapsed ms to end after SIGTERM"
! grep -q '^QUIT' "$log" || fail "QUIT was sent: the server would apply the session's deletions"
echo "ok: to the StatusNotifierItem tray and back; ended $elapsed ms after SIGTERM in mid-check, without QUIT"
