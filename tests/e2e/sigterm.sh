#!/usr/bin/env bash
# The real program in the middle of a check, against a server that answers the login and then
# never answers a header request: SIGTERM ends it within a second, and the server never sees QUIT,
# so nothing the session asked to delete would be deleted.
source "${BASH_SOURCE[0]%/*}/common.sh" || exit 1
require Xvfb xdotool xdpyinfo python3

start_xvfb
port_file="$E2E_TMP/port"
log="$E2E_TMP/requests.log"
python3 - "$port_file" "$log" <<'PY' &
import socket, sys
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(1)
open(sys.argv[1], "w").write(str(server.getsockname()[1]))
client, _ = server.accept()
log = open(sys.argv[2], "w", buffering=1)
answers = {b"CAPA": b"-ERR\r\n", b"USER": b"+OK\r\n", b"PASS": b"+OK\r\n", b"STAT": b"+OK 1 100\r\n",
           b"LIST": b"-ERR\r\n", b"UIDL": b"-ERR\r\n"}
client.sendall(b"+OK ready\r\n")
pending = b""
while data := client.recv(4096):
    pending += data
    while b"\r\n" in pending:
        line, pending = pending.split(b"\r\n", 1)
        log.write(line.decode(errors="replace") + "\n")
        client.sendall(answers.get(line.split(b" ")[0], b""))  # TOP gets no answer at all
PY
E2E_PIDS+=($!)
wait_for 10 test -s "$port_file" || fail "the silent server did not start"
make_program_folder "$E2E_PROGRAM_FOLDER" "$E2E_TMP/Mossvale" "127.0.0.1:$(cat "$port_file")"
start_program "$E2E_TMP/Mossvale"
wait_for 15 visible_window "$MAIN_TITLE" || fail "the main window did not appear"
main=$(visible_window "$MAIN_TITLE")
sleep 0.5
click_button "$main" 0 # メールチェック
asked_header() { grep -q '^TOP 1 0' "$log"; }
wait_for 10 asked_header || fail "the check never asked for a header"
started=$(date +%s%N)
kill -TERM "$PROGRAM_PID"
ended() { [[ "$(ps -o stat= -p "$PROGRAM_PID" 2>/dev/null)" == Z* || -z "$(ps -o stat= -p "$PROGRAM_PID")" ]]; }
wait_for 5 ended || fail "the program still runs 5 s after SIGTERM"
elapsed=$((($(date +%s%N) - started) / 1000000))
[ "$elapsed" -lt 1000 ] || fail "the program took $elapsed ms to end after SIGTERM"
! grep -q '^QUIT' "$log" || fail "QUIT was sent: the server would apply the session's deletions"
echo "ok: the program ended $elapsed ms after SIGTERM in mid-check, without QUIT"
