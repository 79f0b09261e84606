#!/usr/bin/env bash
# The real program under Xvfb with trayer as the tray host: "タスクトレイ常駐" hides the main
# window into the tray, and the tray icon's pop-up item "メイン画面を表示" brings it back.
# Leaves screenshots of the pop-up menu and of the File menu in the output folder.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
require Xvfb xdotool trayer xdpyinfo xwininfo import

start_xvfb
trayer --edge bottom --align right --widthtype pixel --width 120 --height 24 >"$E2E_TMP/trayer.log" 2>&1 &
E2E_PIDS+=($!)
wait_for 10 xdotool search --onlyvisible --class trayer || fail "trayer did not show up"

# A POP3 server is named so that the settings window does not open; nothing is checked here.
make_program_folder "$E2E_PROGRAM_FOLDER" "$E2E_TMP/Mossvale" "127.0.0.1:9"
start_program "$E2E_TMP/Mossvale"
wait_for 15 visible_window "$MAIN_TITLE" || fail "the main window did not appear"
main=$(visible_window "$MAIN_TITLE")
sleep 0.5 # let the first paint finish before clicking

# The File menu, for the lead to look at.
read -r x y w h < <(window_geometry "$main")
xdotool mousemove --sync $((x + 30)) $((y + 10)) click 1
sleep 0.5
screenshot tray-file-menu.png
xdotool key Escape
sleep 0.3

click_button "$main" 5 # タスクトレイ常駐
wait_for 10 bash -c "! xdotool search --onlyvisible --name '^$MAIN_TITLE\$'" ||
    fail "the main window is still visible after タスクトレイ常駐"
echo "ok: the main window went to the tray"

# The icon is a window embedded in trayer's panel; right-click its middle.
tray=$(xdotool search --onlyvisible --class trayer | head -n1)
icon_at() {
    xwininfo -id "$tray" -tree | awk '/"mossvale"/ { print $NF; exit }'
}
wait_for 10 bash -c "xwininfo -id $tray -tree | grep -q '\"mossvale\"'" || fail "no Mossvale icon in the tray"
IFS=+ read -r _ ix iy < <(icon_at)
visible_count() { xdotool search --onlyvisible --class mossvale 2>/dev/null | wc -l; }
before=$(visible_count)
xdotool mousemove --sync $((ix + 11)) $((iy + 11)) click 3
wait_for 10 bash -c "[ \$(xdotool search --onlyvisible --class mossvale | wc -l) -gt $before ]" ||
    fail "no pop-up menu opened on the tray icon"
sleep 0.3
screenshot tray-popup-menu.png
# The pop-up holds the keyboard: the first item is "メイン画面を表示".
xdotool key Down
sleep 0.2
xdotool key Return
wait_for 10 visible_window "$MAIN_TITLE" || fail "メイン画面を表示 did not bring the main window back"
kill -0 "$PROGRAM_PID" || fail "the program ended"
xwininfo -id "$tray" -tree | grep -q '"mossvale"' || fail "the tray icon went away"
echo "ok: the tray pop-up brought the main window back; the icon stays in the tray"
