#!/usr/bin/env bash
# The real program under Xvfb, with trayer as the tray host, against a real Dovecot holding the demo
# mailbox. "タスクトレイ常駐" hides the main window into the tray; the tray icon's pop-up item
# "メールチェック" deletes exactly the spam on the server, keeps the wanted mail, and shows the notice
# board "新着お知らせボード"; its "削除履歴" opens the history and its
# "メイン画面を表示" brings the main window back.
source "${BASH_SOURCE[0]%/*}/common.sh" || exit 1
require Xvfb xdotool xwininfo trayer import dovecot

start_xvfb
spawn trayer trayer --edge bottom --align right --widthtype pixel --width 120 --height 24
# trayer is the tray host once it owns the tray selection; under load that may take a while.
wait_for 30 selection_owned _NET_SYSTEM_TRAY_S0 || fail "trayer did not take the tray selection"
tray=$(wait_for 30 xdotool search --onlyvisible --class trayer | head -n1) || fail "trayer did not show its panel"
start_dovecot "$E2E_TMP/server"

start_main "127.0.0.1:$DOVECOT_PORT"
click_button 5 # タスクトレイ常駐: the main window goes to the tray
wait_for 10 eval '! visible_window "$MAIN_TITLE"' || fail "the main window is still visible after タスクトレイ常駐"
# The icon is a window embedded in trayer's panel; left-click its middle, as most people would.
# trayer embeds it first and places it afterwards (under load, a while later): its place counts once
# the same size and place have been read five times in a row, 0.1 s apart (10 s at most).
icon_place() { xwininfo -id "$tray" -tree | grep -m1 '"mossvale"' | grep -o '[0-9]\+x[0-9]\+[-+0-9]* \+[-+0-9]*$'; }
place='' same=0
for ((try = 0; try < 100 && same < 4; try++)); do
    now=$(icon_place) && [[ ! "$now" =~ ^1x1 ]] || now=''
    [ -n "$now" ] && [ "$now" = "$place" ] && same=$((same + 1)) || same=0
    place=$now && sleep 0.1
done
[ "$same" -ge 4 ] || fail "the Mossvale icon found no steady place in the tray (last: ${place:-none})"
IFS='x+ ' read -r iw ih _ _ ix iy <<<"$place" # WxH+X+Y relative to the panel, then +X+Y on the screen
windows() { xdotool search --onlyvisible --class mossvale 2>/dev/null | wc -l; }
# tray_item KEY...: opens the pop-up on the icon and picks an item with the keys (it holds the keyboard):
# "メールチェック", "削除履歴", a line, "メイン画面を表示", a line, "終了"; Down skips the lines.
tray_item() {
    local before=$(windows)
    click_at $((ix + iw / 2)) $((iy + ih / 2))
    wait_for 10 eval '[ "$(windows)" -gt "$before" ]' || fail "no pop-up menu opened on the tray icon"
    sleep 0.3 && xdotool key --delay 200 "$@" Return # once it has taken the keyboard
}
tray_item Down # メールチェック, the window still in the tray
board=$(wait_for 20 visible_window 新着お知らせボード) || fail "no notice board after the tray's メールチェック"
! visible_window "$MAIN_TITLE" >/dev/null || fail "checking from the tray showed the main window"
# The server: exactly the spam is gone (the session has ended once the board is up). The
# Message-ID numbers of the messages in the Maildir, in delivery order:
actual=$(find "$E2E_TMP/server/mail/$DEMO_USER/"{new,cur} -type f -printf '%f\t%p\n' | sort | cut -f2 |
    xargs -r grep -h -m1 '^Message-ID:' | sed -E 's/^Message-ID: <demo-([0-9]+)@.*/\1/' | tr -d '\r')
[ "$actual" = "$(printf '%s\n' "${DEMO_WANTED_NUMBERS[@]}")" ] ||
    fail "left on the server: $(echo $actual), expected: ${DEMO_WANTED_NUMBERS[*]}"
left=$(echo "$actual" | wc -l)
tray_item Down Down # 削除履歴
wait_for 10 visible_window 削除履歴 >/dev/null || fail "the tray's 削除履歴 opened no history"
tray_item Down Down Down # メイン画面を表示
main_shown "メイン画面を表示 did not bring the main window back"
xwininfo -id "$tray" -tree | grep -q '"mossvale"' || fail "the tray icon went away"
echo "ok: to the tray, checked from it and back; ${#DEMO_SPAM_NUMBERS[@]} spam messages deleted, $left kept, and the board shown"
