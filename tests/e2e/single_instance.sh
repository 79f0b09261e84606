#!/usr/bin/env bash
# One program per data folder, under Xvfb with openbox:
# - a first start on a folder without its data folder holds the lock (the folder is made first);
# - with a file at the socket name of earlier versions (/tmp/mossvale-<hash>, which another user could
#   have made) and $XDG_RUNTIME_DIR set, a second start reaches the first, ends with status 0, and the
#   first comes forward from minimized: not hidden (_NET_WM_STATE), and the active window;
# - after the first is killed, its lock left behind, a start on its folder runs again.
# (A start on another folder beside it: tst_desktop's socket folders.)
source "${BASH_SOURCE[0]%/*}/common.sh" || exit 1
require Xvfb xdotool xwininfo xprop openbox import

start_xvfb 1366x768 WM
hidden() { xprop -id "$MAIN" _NET_WM_STATE | grep -q _NET_WM_STATE_HIDDEN; }
active() { [ "$(xprop -root _NET_ACTIVE_WINDOW | awk '{print $NF}')" = "$(printf '0x%x' "$MAIN")" ]; }
old=/tmp/mossvale-$(printf '%s' "$E2E_TMP/Mossvale/★MailData" | sha256sum | cut -c1-24)
touch "$old"
no_data_folder() { rm -rf "$1/★MailData"; }
start_main "127.0.0.1:1" no_data_folder
expect "the first start holds the lock" test -e "$E2E_TMP/Mossvale/★MailData/mossvale.lock"
xdotool windowminimize --sync "$MAIN"
wait_for 5 hidden || fail "the main window was not minimized"
status=0
timeout 20 "${ON_X[@]}" "$E2E_TMP/Mossvale/mossvale" >>"$E2E_TMP/second.log" 2>&1 || status=$?
rm -f "$old"
expect "the second start ended with status $status" test "$status" -eq 0
expect "the first window is still minimized" wait_for 5 eval '! hidden'
expect "the first window is not the active one" wait_for 5 active
expect "the first start is gone, or a second window came" eval '! gone "$PROGRAM_PID" && [ "$(main_windows)" -eq 1 ]'
kill -KILL "$PROGRAM_PID"
wait_for 10 eval '[ "$(main_windows)" -eq 0 ]' || fail "the killed program's window stayed"
spawn again "${ON_X[@]}" "$E2E_TMP/Mossvale/mossvale"
expect "no start after a crash left its lock" wait_for 15 eval '[ "$(main_windows)" -eq 1 ]'
finish "one instance per folder, brought forward from minimized, its lock gone with a crash"
