#!/usr/bin/env bash
# A keyring that never answers holds nobody: under Xvfb with openbox, on a private session bus where
# "tests/e2e/bus_peers.py keyring" owns org.freedesktop.secrets and swallows every call, with an account
# whose password is kept in the keyring (an empty NAME2 in iniIdPass.ini), "メールチェック" opens
# the session and asks the keyring for the password. While it waits:
# - SIGTERM ends the program within two seconds;
# - (a second program) "設定" shows its window and its "ID/PASS" the account window "ID,PASS",
#   each within a second.
source "${BASH_SOURCE[0]%/*}/common.sh" || exit 1
require Xvfb xdotool xwininfo openbox dbus-daemon import

start_xvfb 1024x768 WM
start_bus
keyring_log="$E2E_TMP/keyring.log"
bus_service keyring "$keyring_log"
start_slow_pop3
unset XDG_CURRENT_DESKTOP # the desktop would choose the keyring; without one it is the Secret Service

password_in_keyring() { write_cp932 "$1/★MailData/iniIdPass.ini" $'[EXEINI]\nNAME='"$DEMO_USER"$'\nNAME2=\nNAME3=1'; }
# reading_keyring: a fresh program presses "メールチェック", and its check opens the session and
# waits for the keyring.
reading_keyring() {
    local calls=$(wc -l <"$keyring_log")
    start_main "127.0.0.1:$SLOW_PORT" password_in_keyring
    click_button 0
    wait_for 30 eval '[ "$(wc -l <"$keyring_log")" -gt "$calls" ]' || fail "the check never asked the keyring"
}

reading_keyring
kill -TERM "$PROGRAM_PID"
in_time 2000 "the end after SIGTERM while the keyring is silent" gone "$PROGRAM_PID"
stop_child "$PROGRAM_PID"

reading_keyring
click_button 3 # 設定
in_time 1000 "設定 while the keyring is silent" visible_window 設定
setform=$(visible_window 設定) && wait_for 5 painted "$setform" || fail "no 設定 window"
window_geometry "$setform"
click_at $((X + 88)) $((Y + 20)) # ID/PASS, 40 px in and 8 px down, 97 x 25
in_time 1000 "ID,PASS while the keyring is silent" visible_window ID,PASS
screenshot account-window-while-keyring-silent
finish "with the keyring silent, SIGTERM ended the program at once, and 設定 and ID/PASS opened their windows"
