#!/usr/bin/env bash
# The program stays in the user's hands while a check runs, under Xvfb with openbox as the window
# manager, against tests/e2e/slow_pop3.py, which never answers the password:
# - closing the main window while the check waits for that answer ends the program within two
#   seconds, and the session ends without QUIT, so the server deletes nothing;
# - with the password kept in a keyring that never answers ("tests/e2e/bus_peers.py keyring" owns
#   org.freedesktop.secrets on a private session bus and swallows every call; an empty NAME2 in
#   iniIdPass.ini), while "メールチェック" waits for it, "設定" shows its window and its "ID/PASS"
#   the account window "ID,PASS", each within a second, and SIGTERM then ends the program within two.
# (Presses during a check: tst_mainformcheck; the tray's menu and tip: tst_tray; "終了" ends at once:
# tst_mainform; a cancelled session sends no QUIT: tst_pop3session_scripted.)
# The close is the window manager's: wmctrl asks openbox (_NET_CLOSE_WINDOW), which sends the
# program WM_DELETE_WINDOW, exactly as its close box does. (xdotool windowclose would destroy the
# window under the program, which no user can do.)
source "${BASH_SOURCE[0]%/*}/common.sh" || exit 1
require Xvfb xdotool xwininfo openbox wmctrl dbus-daemon import

start_xvfb 1024x768 WM
start_bus
start_slow_pop3
start_main "127.0.0.1:$SLOW_PORT"
click_button 0
wait_for 30 session_saw 1 PASS || fail "the check's session sent no PASS"
wmctrl -i -c "$MAIN"
in_time 2000 "the end after closing the main window" gone "$PROGRAM_PID"
stop_child "$PROGRAM_PID"
wait_for 30 session_saw 1 close || fail "the session never ended"
expect "QUIT was sent, the server would delete" eval '! session_saw 1 QUIT'
expect "$(sessions) sessions for one check" test "$(sessions)" -eq 1

bus_service keyring "$E2E_TMP/keyring.log"
unset XDG_CURRENT_DESKTOP # the desktop would choose the keyring; without one it is the Secret Service
password_in_keyring() { write_cp932 "$1/★MailData/iniIdPass.ini" $'[EXEINI]\nNAME='"$DEMO_USER"$'\nNAME2=\nNAME3=1'; }
start_main "127.0.0.1:$SLOW_PORT" password_in_keyring
click_button 0
wait_for 30 test -s "$E2E_TMP/keyring.log" || fail "the check never asked the keyring"
click_button 3 # 設定
in_time 1000 "設定 while the keyring is silent" visible_window 設定
setform=$(visible_window 設定) && wait_for 5 painted "$setform" || fail "no 設定 window"
window_geometry "$setform"
click_at $((X + 88)) $((Y + 20)) # ID/PASS, 40 px in and 8 px down, 97 x 25
in_time 1000 "ID,PASS while the keyring is silent" visible_window ID,PASS
kill -TERM "$PROGRAM_PID"
in_time 2000 "the end after SIGTERM while the keyring is silent" gone "$PROGRAM_PID"
finish "closing during a check ended the program at once without QUIT; with the keyring silent, 設定 and ID/PASS opened and SIGTERM ended it"
