#!/usr/bin/env bash
# The program stays in the user's hands while a check runs: under Xvfb with openbox as the window
# manager, against tests/e2e/slow_pop3.py, which never answers the password: closing the main window
# while the check waits for that answer ends the program within two seconds, and the session ends
# without QUIT, so the server deletes nothing.
# (Presses during a check: tst_mainformcheck; the tray's menu and tip: tst_tray; "終了" ends at once:
# tst_mainform; SIGTERM during a check: e2e_keyring_silent; a cancelled session sends no QUIT:
# tst_pop3session_scripted.)
# The close is the window manager's: wmctrl asks openbox (_NET_CLOSE_WINDOW), which sends the
# program WM_DELETE_WINDOW, exactly as its close box does. (xdotool windowclose would destroy the
# window under the program, which no user can do.)
source "${BASH_SOURCE[0]%/*}/common.sh" || exit 1
require Xvfb xdotool xwininfo openbox wmctrl import

start_xvfb 1024x768 WM
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
finish "closing the main window during a check ended the program at once, without QUIT"
