#!/usr/bin/env bash
# The real program under Xvfb against a real Dovecot holding the demo mailbox: pressing
# "メールチェック" deletes exactly the spam on the server, keeps the wanted mail, and shows the
# notice board "新着お知らせボード" with the number of messages left.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
require Xvfb xdotool xdpyinfo import compare dovecot

start_xvfb
start_dovecot "$E2E_TMP/server"
maildir="$E2E_TMP/server/mail/$DEMO_USER"
make_program_folder "$E2E_PROGRAM_FOLDER" "$E2E_TMP/Mossvale" "127.0.0.1:$DOVECOT_PORT"

# The Message-ID of every message in the Maildir, in delivery order.
message_ids() {
    find "$maildir/new" "$maildir/cur" -type f -printf '%f\t%p\n' | sort | cut -f2 |
        xargs -r grep -h -m1 '^Message-ID:' | sed -E 's/^Message-ID: <demo-([0-9]+)@.*/\1/' | tr -d '\r'
}
[ "$(message_ids | wc -l)" -eq 20 ] || fail "the demo mailbox does not hold 20 messages"

start_program "$E2E_TMP/Mossvale"
wait_for 15 visible_window "$MAIN_TITLE" || fail "the main window did not appear"
main=$(visible_window "$MAIN_TITLE")
sleep 0.5
[ -z "$(visible_window 新着お知らせボード)" ] || fail "the notice board is up before any check"

click_button "$main" 0 # メールチェック
wait_for 20 visible_window 新着お知らせボード || fail "no notice board after メールチェック"
board=$(visible_window 新着お知らせボード)
sleep 0.5
screenshot check-after.png

# The server: exactly the spam is gone (the session has ended once the board is up).
expected=$(printf '%s\n' "${DEMO_WANTED_NUMBERS[@]}")
actual=$(message_ids)
[ "$actual" = "$expected" ] || fail "left on the server: $(echo $actual), expected: $(echo $expected)"
left=$(echo "$actual" | wc -l)
echo "ok: ${#DEMO_SPAM_NUMBERS[@]} spam messages deleted, $left wanted ones kept"

# The board's number, read without OCR: the board on screen must match, pixel for pixel within a
# little tolerance, the same window class drawn offscreen with the number left on the server, and
# must not match it drawn with one more (which proves the comparison sees the digits at all).
import -display "$DISPLAY" -window "$board" "$E2E_OUTPUT_DIR/check-board.png"
echo "screenshot: $E2E_OUTPUT_DIR/check-board.png"
render_board() {
    QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$E2E_TMP/runtime" \
        "$E2E_BUILD_DIR/demo/mossvale-demo-shot" --notice-board "$1" "$2" 2>/dev/null
}
differing_pixels() {
    compare -metric AE -fuzz 20% "$1" "$2" null: 2>&1 || true
}
render_board "$left" "$E2E_TMP/board-expected.png" || fail "could not draw the expected board"
render_board $((left + 1)) "$E2E_TMP/board-other.png" || fail "could not draw the other board"
same=$(differing_pixels "$E2E_OUTPUT_DIR/check-board.png" "$E2E_TMP/board-expected.png")
other=$(differing_pixels "$E2E_OUTPUT_DIR/check-board.png" "$E2E_TMP/board-other.png")
[[ "$other" =~ ^[0-9]+$ && "$other" -gt 10 ]] || fail "the board with $((left + 1)) looks the same ($other)"
[[ "$same" =~ ^[0-9]+$ && "$same" -le 3 ]] ||
    fail "the board does not show $left: $same pixels differ from $E2E_TMP/board-expected.png"
echo "ok: the notice board shows $left"
kill -0 "$PROGRAM_PID" || fail "the program ended"
