# Shared by the end-to-end tests: each test sources this file, which sources scripts/demo for the
# demo mailbox, Dovecot and program folder. Every process a test starts is registered here and
# stopped by its PID when the test ends; every wait is bounded.
#
# Arguments every test gets from CTest: the build folder and a folder for its results.

set -euo pipefail

E2E_SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
E2E_BUILD_DIR=${1:?build folder}
E2E_OUTPUT_DIR=${2:?output folder}
E2E_PIDS=()
E2E_TMP=$(mktemp -d /tmp/mossvale-e2e.XXXXXX)
chmod 755 "$E2E_TMP"
mkdir -p "$E2E_OUTPUT_DIR"
rm -rf "$E2E_OUTPUT_DIR/logs"

# shellcheck source=../../scripts/demo
source "$E2E_SOURCE_DIR/scripts/demo"

# A failed run keeps its logs in E2E_OUTPUT_DIR/logs and shows their ends, where CTest prints them.
e2e_cleanup() {
    local status=$? pid log
    for pid in $(printf '%s\n' "${E2E_PIDS[@]}" | tac); do stop_child "$pid"; done
    stop_dovecot
    if [ "$status" -ne 0 ] && [ "$status" -ne 77 ]; then
        mkdir -p "$E2E_OUTPUT_DIR/logs"
        for log in "$E2E_TMP"/*.log "$E2E_TMP"/*/*.log "$E2E_TMP"/*/*.out; do
            [ ! -s "$log" ] || { cp "$log" "$E2E_OUTPUT_DIR/logs/" && echo "---- ${log##*/}" && tail -n 30 "$log"; } >&2
        done
    fi
    rm -rf "$E2E_TMP"
}
trap e2e_cleanup EXIT
trap 'exit 1' INT TERM

fail() { echo "FAIL: $*" >&2; exit 1; }
# A failed expectation that lets the test go on, so that one run reports all of them; the test
# ends with finish.
E2E_FAILED=()
expect() { "${@:2}" || { echo "FAIL: $1" >&2 && E2E_FAILED+=("$1"); }; }
finish() { [ ${#E2E_FAILED[@]} -eq 0 ] || fail "${#E2E_FAILED[@]} of the expectations above failed"; echo "ok: $1"; }

# A prerequisite is missing: the test is skipped (CTest SKIP_RETURN_CODE 77), but fails under CI,
# where everything is installed on purpose. require skips unless every named program is installed.
skip() { [ -z "${CI:-}" ] || fail "missing prerequisite under CI: $*"; echo "SKIP: $*"; exit 77; }
require() {
    for tool in "$@"; do
        command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || skip "no $tool (scripts/install-deps installs it)"
    done
}

# wait_for SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds or SECONDS have passed;
# prints what its successful run printed.
wait_for() {
    local tries out
    for ((tries = 0; tries < $1 * 10; tries++)); do
        out=$("${@:2}" 2>/dev/null) && { [ -z "$out" ] || echo "$out"; } && return
        sleep 0.1
    done
    return 1
}
# in_time LIMIT_MS WHAT COMMAND...: expects COMMAND to succeed within LIMIT_MS milliseconds; it is
# waited for ten times as long, so that the failure tells slow from never.
in_time() {
    local start=${EPOCHREALTIME//[!0-9]/} took=
    wait_for $(($1 / 100)) "${@:3}" >/dev/null && took=$(((${EPOCHREALTIME//[!0-9]/} - start) / 1000))
    expect "$2 took ${took:-over $(($1 * 10))} ms (at most $1 allowed)" test "${took:-$1}" -lt "$1"
}
# Succeeds when process PID has ended (a zombie has: only its parent, this script, has not waited).
gone() { [[ "$(ps -o stat= -p "$1")" =~ ^(Z.*)?$ ]]; }
# Stops PID, started by this test, by its PID and forgets it; one that has ended is only reaped.
stop_child() {
    if gone "$1"; then wait "$1" 2>/dev/null || true; else stop_pid "$1"; fi
    for i in "${!E2E_PIDS[@]}"; do [ "${E2E_PIDS[i]}" != "$1" ] || unset 'E2E_PIDS[i]'; done
}
# spawn NAME COMMAND...: COMMAND in the background, its output added to E2E_TMP/NAME.log, stopped at
# the end; sets PID.
spawn() { "${@:2}" >>"$E2E_TMP/$1.log" 2>&1 & PID=$! && E2E_PIDS+=($!); }

# Succeeds when some X client owns the selection NAME: the way a tray host (_NET_SYSTEM_TRAY_S0)
# or a window manager (WM_S0) announces itself, whatever its windows look like.
selection_owned() {
    /usr/bin/python3 -c 'import ctypes as c, sys
x = c.CDLL("libX11.so.6"); x.XOpenDisplay.restype = c.c_void_p; d = c.c_void_p(x.XOpenDisplay(None))
sys.exit(not (d.value and x.XGetSelectionOwner(d, c.c_ulong(x.XInternAtom(d, sys.argv[1].encode(), 0)))))' "$1"
}

# start_xvfb [WxH]: Xvfb on a free display number (it prints the number once it takes connections);
# exports DISPLAY. The screen is black, so that a window the program has not drawn yet shows one colour.
# With openbox as the window manager (WM), closing a window goes the way a user's close box goes.
start_xvfb() {
    spawn xvfb Xvfb -displayfd 1 -screen 0 "${1:-1024x768}x24" -nolisten tcp -br
    DISPLAY=:$(wait_for 15 grep -m1 -x '[0-9]\+' "$E2E_TMP/xvfb.log") || fail "Xvfb did not start"
    export DISPLAY
    [ "${2:-}" != WM ] || { spawn openbox openbox --sm-disable && wait_for 30 selection_owned WM_S0; } ||
        fail "openbox did not take the screen"
}

# A private session bus without service files, so that nothing starts behind the test's back;
# exports DBUS_SESSION_BUS_ADDRESS.
start_bus() {
    /usr/bin/python3 -c 'from gi.repository import Gio' 2>/dev/null || skip "python3-gi is not installed"
    printf '%s' "<busconfig><type>session</type><listen>unix:dir=$E2E_TMP</listen><policy context=\"default\">" \
        '<allow send_destination="*"/><allow receive_sender="*"/><allow own="*"/></policy></busconfig>' \
        >"$E2E_TMP/bus.conf"
    dbus-daemon --config-file="$E2E_TMP/bus.conf" --fork --print-address=1 --print-pid=1 >"$E2E_TMP/bus" ||
        fail "dbus-daemon did not start"
    { read -r DBUS_SESSION_BUS_ADDRESS && read -r bus_pid; } <"$E2E_TMP/bus"
    export DBUS_SESSION_BUS_ADDRESS && E2E_PIDS+=("$bus_pid")
}
# bus_service NAME FILE: the stand-in NAME on the bus for what a desktop provides
# (tests/e2e/bus_peers.py), which creates FILE once it owns its name.
bus_service() { spawn "$1" /usr/bin/python3 "$E2E_SOURCE_DIR/tests/e2e/bus_peers.py" "$@" && wait_for 10 test -e "$2" || fail "no $1"; }

# start_slow_pop3: tests/e2e/slow_pop3.py on loopback; sets SLOW_PORT.
SLOW_LOG="$E2E_TMP/pop3.log"
start_slow_pop3() {
    spawn pop3-server /usr/bin/python3 "$E2E_SOURCE_DIR/tests/e2e/slow_pop3.py" "$E2E_TMP/port" "$SLOW_LOG"
    SLOW_PORT=$(wait_for 10 cat "$E2E_TMP/port") || fail "the slow POP3 server did not start"
}
# Sessions the server has seen so far; session_saw N WORD: session N sent WORD (or "open", "close").
sessions() { grep -c ' open$' "$SLOW_LOG" || true; }
session_saw() { grep -q "^[0-9.]* $1 $2" "$SLOW_LOG"; }


# Sets X, Y, WIDTH and HEIGHT to the place of WINDOW's client area on the screen. (xdotool's
# getwindowgeometry counts the frame of a window manager twice.)
window_geometry() {
    eval "$(xwininfo -id "$1" | awk '/Absolute upper-left/ { print substr($3, 1, 1) "=" $NF }
        /^ +(Width|Height):/ { print toupper(substr($1, 1, length($1) - 1)) "=" $NF }')"
}

# The id of the first visible window whose title is TITLE, or nothing; how many there are.
visible_window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 | grep .; }
MAIN_TITLE="Mossvale　Ver 1.0"
main_windows() { xdotool search --onlyvisible --name "^$MAIN_TITLE\$" | wc -l; }

# "${ON_X[@]}" PROGRAM: runs PROGRAM on the X display.
ON_X=(env QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$E2E_TMP/runtime")
# start_main SERVER [EDIT]: a fresh program folder for the POP3 server SERVER ("host:port"),
# changed by the command EDIT (given the folder) when there is one, the program started in it, its
# main window shown; sets PROGRAM_PID and MAIN.
start_main() {
    make_program_folder "$E2E_BUILD_DIR/Mossvale" "$E2E_TMP/Mossvale" "$1"
    "${2:-true}" "$E2E_TMP/Mossvale"
    mkdir -p -m 700 "$E2E_TMP/runtime"
    spawn program "${ON_X[@]}" "$E2E_TMP/Mossvale/mossvale" && PROGRAM_PID=$PID
    main_shown "the main window did not appear"
}
# main_shown MESSAGE: waits for the main window, drawn, else fails with MESSAGE; sets MAIN.
main_shown() { MAIN=$(wait_for 15 visible_window "$MAIN_TITLE") && wait_for 5 painted "$MAIN" || fail "$1"; }
# Succeeds when WINDOW shows more than one colour: the program has drawn it, where it will stay.
painted() { [ "$(import -display "$DISPLAY" -window "$1" -format %k info:)" -gt 1 ]; }

# click_at X Y [OPTION...]: a click (with xdotool click's OPTIONs) at X, Y on the screen. The pointer
# goes to a corner first: "mousemove --sync" to where it already is waits until it moves.
click_at() { xdotool mousemove 0 0 mousemove --sync "$1" "$2" click "${@:3}" 1; }

# click_button K [OPTION...]: clicks the K-th button of the left column of the main window
# (0 = "メールチェック", 3 = "設定", 5 = "タスクトレイ常駐"). The client area is 307 px high under
# the menu bar; the buttons are 97 x 25 px, 24 px apart.
click_button() {
    window_geometry "$MAIN"
    click_at $((X + 48)) $((Y + HEIGHT - 307 + 24 * $1 + 12)) "${@:2}"
}
