#!/usr/bin/env bash
# The program stays in the user's hands while a check runs: under Xvfb with openbox as the window
# manager, against tests/e2e/slow_pop3.py, which answers every request a second late (a check of
# four messages takes some fifteen seconds), each case with a fresh program:
# - a double click on "メールチェック" and two more presses during the check make one session;
#   the File menu "ファイル(F)" opens within a second while it runs;
# - closing the main window three seconds into a check (after USER, as PASS goes out) ends the
#   program within two seconds, and the session ends without QUIT, so the server deletes nothing;
# - so does "終了" from the StatusNotifierItem tray menu, clicked over D-Bus as a desktop would,
#   after "タスクトレイ常駐" hid the main window, the icon registered with a StatusNotifierWatcher
#   of our own (the tray of KDE Plasma, GNOME with AppIndicator and Wayland panels) and the menu's
#   "メイン画面を表示" (beside a separator and "終了") brought the window back;
# - the tray icon's tip has the program's name as its title, the date line as its body, and under it
#   the outcome once a check has run.
# (SIGTERM during a check: e2e_keyring_silent; a cancelled session sends no QUIT: tst_pop3session_scripted.)
# The close is the window manager's: wmctrl asks openbox (_NET_CLOSE_WINDOW), which sends the
# program WM_DELETE_WINDOW, exactly as its close box does. (xdotool windowclose would destroy the
# window under the program, which no user can do.)
source "${BASH_SOURCE[0]%/*}/common.sh" || exit 1
require Xvfb xdotool xwininfo xprop openbox wmctrl import dbus-daemon

start_xvfb
start_wm
start_bus
spawn watcher bus_peer watch "$E2E_TMP/items"
wait_for 10 test -e "$E2E_TMP/items" || fail "the watcher did not start"
start_slow_pop3 1 4

# tray_item: waits for the next item to register with the watcher; sets ITEM.
ITEMS=0
tray_item() {
    ITEMS=$((ITEMS + 1))
    ITEM=$(wait_for 10 eval 'sed -n "${ITEMS}p" "$E2E_TMP/items" | grep .') || fail "no StatusNotifierItem registered"
}
# tray_tip [OUTCOME]: the item's tip is titled with the program's name, its body the date line (the
# time last) over OUTCOME (a pattern), or the date line alone.
tray_tip() {
    local nl=$'\n' tip
    local pattern="^Mossvale${nl}[^${nl}]*[0-9]:[0-5][0-9]:[0-5][0-9]${1:+$nl$1}\$"
    tip=$(bus_peer tip "$ITEM") || fail "could not read the tray icon's tip"
    expect "the tray icon's tip is: $tip" eval '[[ $tip =~ $pattern ]]'
}

# check_started PREPARE [OPTION...]: a fresh program, after the command PREPARE, presses
# "メールチェック" (with xdotool click's OPTIONs) and its latest session sends PASS. FIRST is the
# number of the program's first session, SESSION of that latest one.
check_started() {
    FIRST=$(($(sessions) + 1))
    start_main "127.0.0.1:$SLOW_PORT"
    "$1"
    click_button 0 "${@:2}"
    wait_for 30 eval '[ "$(sessions)" -ge $FIRST ] && session_saw "$(sessions)" PASS' || fail "no session sent PASS"
    SESSION=$(sessions)
}
# ends_at_once CASE LIMIT_MS: the program, asked to end just now, ends within LIMIT_MS, its session
# without QUIT.
ends_at_once() {
    in_time "$2" "$1: the end" gone "$PROGRAM_PID"
    stop_child "$PROGRAM_PID"
    wait_for 30 session_saw "$SESSION" close || fail "$1: session $SESSION never ended"
    expect "$1: QUIT was sent, the server would delete" eval '! session_saw "$SESSION" QUIT'
}

# A double click, two more presses during the check, the pointer still on the button, and the File menu.
check_started true --repeat 2 --delay 80
xdotool click 1 sleep 0.5 click 1
! session_saw "$SESSION" QUIT || fail "the check had ended before the presses: make the server slower"
click_at $((X + 30)) $((Y + (HEIGHT - 307) / 2)) # ファイル(F) on the menu bar (X, Y: the main window's)
in_time 1000 "the File menu during the check" menu_open
screenshot file-menu-during-check
wait_for 60 eval 'session_saw "$(sessions)" close' || fail "the check did not end"
# Presses held back until the check ended would start the next session at once.
wait_for 3 session_saw $(($(sessions) + 1)) open || true
expect "$(($(sessions) - FIRST + 1)) sessions for one check" test "$(sessions)" -eq "$FIRST"
expect "more than one login" test "$(grep -c " USER " "$SLOW_LOG")" -eq 1
to_tray && tray_item && tray_tip '[0-9]{2}:[0-9]{2} .+'
stop_child "$PROGRAM_PID"

# The window manager's close.
check_started true
wmctrl -i -c "$MAIN"
ends_at_once "closing the main window" 2000

# "終了" in the tray menu. The icon stays while the main window is back on the screen.
to_tray_and_back() {
    to_tray && tray_item && tray_tip
    bus_peer click "$ITEM" メイン画面を表示 || fail "the tray menu is wrong"
    main_shown "メイン画面を表示 did not bring the main window back"
}
check_started to_tray_and_back
bus_peer click "$ITEM" 終了 || fail "could not click 終了 in the tray menu"
ends_at_once "終了 in the tray menu" 2000
finish "one session for four presses; the File menu open at once; ended at once without QUIT by close and 終了; the tip"
