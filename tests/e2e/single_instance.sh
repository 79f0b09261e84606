#!/usr/bin/env bash
# One program per data folder, under Xvfb with openbox:
# - a first start on a folder without its data folder holds the lock (the folder is made first);
# - with a file at the socket name of earlier versions (/tmp/mossvale-<hash>, which another user could
#   have made) and $XDG_RUNTIME_DIR set, a second start reaches the first, ends with status 0, and the
#   first comes forward from minimized: not hidden (_NET_WM_STATE), and the active window.
source "${BASH_SOURCE[0]%/*}/common.sh" || exit 1
require Xvfb xdotool xwininfo xprop openbox wmctrl import

spawn xvfb Xvfb -displayfd 1 -screen 0 1366x768x24 -nolisten tcp -br
DISPLAY=:$(wait_for 15 grep -m1 -x '[0-9]\+' "$E2E_TMP/xvfb.log") || fail "Xvfb did not start"
export DISPLAY
start_wm

no_data_folder() { rm -rf "$1/★MailData"; }
hidden() { xprop -id "$MAIN" _NET_WM_STATE | grep -q _NET_WM_STATE_HIDDEN; }
active() { [ "$(xprop -root _NET_ACTIVE_WINDOW | awk '{print $NF}')" = "$(printf '0x%x' "$MAIN")" ]; }

make_program_folder "$E2E_BUILD_DIR/Mossvale" "$E2E_TMP/Mossvale" "127.0.0.1:1"
no_data_folder "$E2E_TMP/Mossvale"
old=/tmp/mossvale-$(printf '%s' "$E2E_TMP/Mossvale/★MailData" | sha256sum | cut -c1-24)
touch "$old"
mkdir -p -m 700 "$E2E_TMP/runtime"
run() { env QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$E2E_TMP/runtime" "$@" "$E2E_TMP/Mossvale/mossvale"; }
spawn program run
PROGRAM_PID=$!
main_shown "the main window did not appear"
expect "the first start holds the lock" test -e "$E2E_TMP/Mossvale/★MailData/mossvale.lock"
xdotool windowminimize --sync "$MAIN"
wait_for 5 hidden || fail "the main window was not minimized"
status=0
timeout 20 env QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$E2E_TMP/runtime" "$E2E_TMP/Mossvale/mossvale" \
    >>"$E2E_TMP/second.log" 2>&1 || status=$?
expect "the second start ended with status $status" test "$status" -eq 0
expect "the first window is still minimized" wait_for 5 eval '! hidden'
expect "the first window is not the active one" wait_for 5 active
expect "the first start is gone" eval '! gone "$PROGRAM_PID"'
rm -f "$old"
stop_child "$PROGRAM_PID"
finish "one instance, brought forward from minimized"
