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

# shellcheck source=../../scripts/demo
source "$E2E_SOURCE_DIR/scripts/demo"

e2e_cleanup() {
    local i
    for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do stop_pid "${E2E_PIDS[i]}"; done
    stop_dovecot
    rm -rf "$E2E_TMP"
}
trap e2e_cleanup EXIT
trap 'exit 1' INT TERM

fail() { echo "FAIL: $*" >&2; exit 1; }

# A prerequisite is missing: the test is skipped (CTest SKIP_RETURN_CODE 77), but fails under CI,
# where everything is installed on purpose.
skip() { [ -z "${CI:-}" ] || fail "missing prerequisite under CI: $*"; echo "SKIP: $*"; exit 77; }

# Skips (or fails under CI) unless every named program is installed.
require() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || [ -x "/usr/sbin/$tool" ] ||
            skip "$tool is not installed (scripts/install-deps installs it)"
    done
}

# wait_for SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds or SECONDS have passed.
wait_for() {
    local tries
    for ((tries = 0; tries < $1 * 10; tries++)); do "${@:2}" >/dev/null 2>&1 && return 0 || sleep 0.1; done
    return 1
}

# Starts Xvfb on a free display number and exports DISPLAY.
start_xvfb() {
    local fifo="$E2E_TMP/displayfd" number
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >"$E2E_TMP/xvfb.log" 2>&1 &
    E2E_PIDS+=($!)
    read -r -t 15 number <"$fifo" || fail "Xvfb did not start: $(cat "$E2E_TMP/xvfb.log")"
    export DISPLAY=":$number"
    wait_for 10 xdpyinfo || fail "display $DISPLAY does not answer"
}

# The id of the first visible window whose title is TITLE, or nothing.
visible_window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 | grep .; }

MAIN_TITLE="Mossvale　Ver 1.0"
main_hidden() { ! visible_window "$MAIN_TITLE"; }

# start_main SERVER: a fresh program folder for the POP3 server SERVER ("host:port"), the program
# started in it on the X display, its main window shown; sets PROGRAM_PID and MAIN.
start_main() {
    make_program_folder "$E2E_BUILD_DIR/Mossvale" "$E2E_TMP/Mossvale" "$1"
    mkdir -p -m 700 "$E2E_TMP/runtime"
    QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$E2E_TMP/runtime" "$E2E_TMP/Mossvale/mossvale" \
        >"$E2E_OUTPUT_DIR/program.log" 2>&1 &
    PROGRAM_PID=$!
    E2E_PIDS+=("$PROGRAM_PID")
    main_shown "the main window did not appear"
}

# main_shown MESSAGE: waits for the main window, else fails with MESSAGE; sets MAIN.
main_shown() {
    wait_for 15 visible_window "$MAIN_TITLE" || fail "$1"
    MAIN=$(visible_window "$MAIN_TITLE")
    sleep 0.5 # let the paint finish before clicking
}

# Clicks the K-th button of the left column of the main window (0 = "メールチェック",
# 5 = "タスクトレイ常駐"). The client area is 307 px high under the menu bar; the buttons are
# 97 x 25 px, 24 px apart.
click_button() {
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$MAIN")"
    xdotool mousemove --sync $((X + 48)) $((Y + HEIGHT - 307 + 24 * $1 + 12)) click 1
}

# "タスクトレイ常駐": the main window goes to the tray.
to_tray() {
    click_button 5
    wait_for 10 main_hidden || fail "the main window is still visible after タスクトレイ常駐"
}
