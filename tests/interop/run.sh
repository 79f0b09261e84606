#!/usr/bin/env bash
# One real POP3 server against the real program: the server holds the suite's 20-message mailbox
# (ASCII, ISO-2022-JP, Shift_JIS and UTF-8 texts, 5 spam and some near misses) in its own format;
# mossvale-demo-shot checks it twice through a logging relay, with two more messages delivered in
# between. After each check the server's own storage must hold exactly the wanted mail, the history
# must name exactly the spam with its texts decoded, and where the server gives UIDL the memory
# of earlier checks must hold every kept message's decoded texts and the second check must ask
# for the new headers only. Each check must take under 2 s at the server.
#
#   run.sh BUILD_DIR OUTPUT_DIR SERVER     SERVER: dovecot, mailutils, popa3d, cyrus or courier
#
# INTEROP_HIDE_PIPELINING=1 takes PIPELINING out of the server's CAPA reply on its way to the
# program. The transcript of both sessions goes to OUTPUT_DIR/transcript.log.
source "${BASH_SOURCE[0]%/*}/../e2e/common.sh" || exit 1
source "$E2E_SOURCE_DIR/tests/interop/servers.sh"
SERVER=${3:?server}
INTEROP="$E2E_SOURCE_DIR/tests/interop"
FIRST=20
CHECK_LIMIT_MS=2000
mailbox() { /usr/bin/python3 "$INTEROP/mailbox.py" "$@"; }

DEMO_USER=mvinterop1
DEMO_PASSWORD=interop-pass-7
mapfile -t DEMO_KEYWORDS < <(mailbox keywords)
[ -x "$E2E_BUILD_DIR/demo/mossvale-demo-shot" ] || fail "build mossvale-demo-shot first"
mkdir -p "$MESSAGES"
mailbox write "$MESSAGES"

"start_${SERVER}_server"
relay_args=()
[ "${INTEROP_HIDE_PIPELINING:-0}" = 0 ] || relay_args=(--hide-pipelining)
RELAY_LOG="$E2E_TMP/relay.log"
spawn relay /usr/bin/python3 "$INTEROP/pop3_relay.py" "$E2E_TMP/relay-port" "$RELAY_LOG" "$SERVER_PORT" \
    "${relay_args[@]}"
relay_port=$(wait_for 10 cat "$E2E_TMP/relay-port") || fail "the relay did not start"
make_program_folder "$E2E_BUILD_DIR/Mossvale" "$E2E_TMP/Mossvale" "127.0.0.1:$relay_port"
mkdir -p -m 700 "$E2E_TMP/runtime"

# session_lines N PATTERN: the relay's lines of session N that match PATTERN (an ERE after "N ").
session_lines() { grep -E "^[0-9.]+ $1 $2" "$RELAY_LOG" || true; }
sessions_so_far() { grep -c ' open$' "$RELAY_LOG" || true; }

# check N: one check by the program; its output goes to E2E_TMP/checkN.out. Then the findings on
# the server's storage and in the program's data folder.
check() {
    local before after session ms status=0 uidl=()
    before=$(sessions_so_far)
    QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$E2E_TMP/runtime" timeout 60 \
        "$E2E_BUILD_DIR/demo/mossvale-demo-shot" "$E2E_TMP/Mossvale" "$E2E_TMP" >"$E2E_TMP/check$1.out" 2>&1 ||
        status=$?
    expect "check $1 went through (mossvale-demo-shot exit status $status): $(sed -n '/^The program said/,$p' \
        "$E2E_TMP/check$1.out" | head -n 4 | tr '\n' ' ')" test "$status" -eq 0
    after=$(sessions_so_far)
    expect "check $1 opened one session (it opened $((after - before)))" test "$after" -eq $((before + 1))
    session=$after
    wait_for 5 eval '[ -n "$(session_lines "$session" close)" ]' >/dev/null || expect "session $session ended" false
    ms=$(awk -v s="$session" '$2 == s && $3 == "open" { t = $1 } $2 == s && $3 == "close" { printf "%d", ($1 - t) * 1000 }' \
        "$RELAY_LOG")
    echo "check $1: session $session took ${ms:-?} ms at the server"
    expect "check $1 took ${ms:-?} ms at the server (at most $CHECK_LIMIT_MS)" test "${ms:-99999}" -lt "$CHECK_LIMIT_MS"
    server_left >"$E2E_TMP/left$1"
    [ "$SERVER_UIDL" = 0 ] || uidl=(--uidl)
    mailbox verify "$1" "$E2E_TMP/left$1" "$E2E_TMP/Mossvale/★MailData" "${uidl[@]}" ||
        expect "check $1: the findings above" false
    TOPS=$(session_lines "$session" 'C: TOP ' | wc -l)
}

check 1
echo "check 1 read $TOPS headers"
server_deliver 21 22
check 2
if [ "$SERVER_UIDL" = 1 ]; then
    expect "the second check read only the 2 new headers, not $TOPS" test "$TOPS" -eq 2
else
    expect "the second check read the 17 headers there are (it read $TOPS)" test "$TOPS" -eq 17
fi
echo "check 2 read $TOPS headers"
cp "$RELAY_LOG" "$E2E_OUTPUT_DIR/transcript.log"
cp "$E2E_TMP"/check?.out "$E2E_OUTPUT_DIR/"
finish "$SERVER: two checks, exactly the spam deleted, texts decoded"
