#!/usr/bin/env bash
# One real POP3 server against the real program: the server holds the suite's 20-message mailbox
# (ASCII, ISO-2022-JP, Shift_JIS and UTF-8 texts, 5 spam and some near misses) in its own format;
# mossvale-demo-shot checks it twice through a logging relay, with two more messages delivered in
# between. After each check the server's own storage must hold exactly the wanted mail, the history
# must name exactly the spam with its texts decoded, and where the server gives UIDL the memory
# of earlier checks must hold every kept message's decoded texts and the second check must ask
# for the new headers only. How long each session took is printed; speed is bench/'s business.
#
#   run.sh BUILD_DIR OUTPUT_DIR SERVER     SERVER: dovecot, mailutils, popa3d, cyrus or courier
#
# The transcript of both sessions goes to OUTPUT_DIR/transcript.log. At the end every process the
# test started is stopped by its PID, and neither the server's port nor the relay's takes a
# connection any more.
source "${BASH_SOURCE[0]%/*}/../e2e/common.sh" || exit 1
source "$E2E_SOURCE_DIR/tests/interop/servers.sh"
SERVER=${3:?server}
INTEROP="$E2E_SOURCE_DIR/tests/interop"
FIRST=20
mailbox() { /usr/bin/python3 "$INTEROP/mailbox.py" "$@"; }

DEMO_USER=mvinterop1
DEMO_PASSWORD=interop-pass-7
DEMO_KEYWORDS=("未承諾広告※" "casino" "激安ブランド" "lottery-prize.example") # as in mailbox.py

"start_${SERVER}_server"
RELAY_LOG="$E2E_TMP/transcript.log"
spawn relay /usr/bin/python3 "$INTEROP/pop3_relay.py" "$RELAY_LOG" "$SERVER_PORT"
relay_port=$(wait_for 10 grep -m1 -x '[0-9]\+' "$E2E_TMP/relay.log") || fail "the relay did not start"
make_program_folder "$E2E_BUILD_DIR/Mossvale" "$E2E_TMP/Mossvale" "127.0.0.1:$relay_port"
mkdir -p -m 700 "$E2E_TMP/runtime"
sessions_so_far() { grep -c ' open$' "$RELAY_LOG" || true; }

# check N: one check by the program; its output goes to E2E_TMP/checkN.out. Then the findings on
# the server's storage and in the program's data folder; sets TOPS to the headers it read.
check() {
    local session ms status=0
    session=$(($(sessions_so_far) + 1))
    QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$E2E_TMP/runtime" timeout 60 \
        "$E2E_BUILD_DIR/demo/mossvale-demo-shot" "$E2E_TMP/Mossvale" "$E2E_TMP" >"$E2E_TMP/check$1.out" 2>&1 ||
        status=$?
    expect "check $1 went through (mossvale-demo-shot exit status $status): $(sed -n '/^The program said/,$p' \
        "$E2E_TMP/check$1.out" | head -n 4 | tr '\n' ' ')" test "$status" -eq 0
    expect "check $1 opened one session (it opened $(($(sessions_so_far) - session + 1)))" \
        test "$(sessions_so_far)" -eq "$session"
    wait_for 5 grep -q "^[0-9.]* $session close" "$RELAY_LOG" || expect "session $session ended" false
    ms=$(awk -v s="$session" '$2 == s && $3 == "open" { t = $1 } $2 == s && $3 == "close" { printf "%d", ($1 - t) * 1000 }' \
        "$RELAY_LOG")
    server_left >"$E2E_TMP/left$1"
    mailbox verify "$1" "$E2E_TMP/left$1" "$E2E_TMP/Mossvale/★MailData" || expect "check $1: the findings above" false
    TOPS=$(grep -c "^[0-9.]* $session C: TOP " "$RELAY_LOG" || true)
    echo "check $1: session $session took ${ms:-?} ms at the server and read $TOPS headers"
}

check 1
server_deliver 21 22
check 2
expect "the second check read only the 2 new headers, not $TOPS" test "$TOPS" -eq 2
cp "$RELAY_LOG" "$E2E_TMP"/check?.out "$E2E_OUTPUT_DIR/"
for pid in $(printf '%s\n' "${E2E_PIDS[@]}" | tac); do stop_child "$pid"; done
stop_dovecot
for port in "$SERVER_PORT" "$relay_port"; do
    wait_for 5 eval "! (exec 3<>/dev/tcp/127.0.0.1/$port)" || expect "nothing listens on port $port any more" false
done
finish "$SERVER: two checks, exactly the spam deleted, texts decoded, nothing left listening"
