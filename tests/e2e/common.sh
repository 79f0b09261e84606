# Shared by the end-to-end tests: each test sources this file, which sources scripts/demo for the
# demo mailbox, Dovecot and program folder. Every process a test starts is registered here and
# stopped by its PID when the test ends; every wait is bounded.
#
# Arguments every test gets from CTest: the build folder and a folder for its results.

set -euo pipefail

E2E_SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
E2E_BUILD_DIR=${1:?build folder}
E2E_OUTPUT_DIR=${2:?output folder}
E2E_PROGRAM_FOLDER="$E2E_BUILD_DIR/Mossvale"
E2E_PIDS=()
E2E_TMP=$(mktemp -d /tmp/mossvale-e2e.XXXXXX)
chmod 755 "$E2E_TMP"
mkdir -p "$E2E_OUTPUT_DIR"

# shellcheck source=../../scripts/demo
source "$E2E_SOURCE_DIR/scripts/demo"

e2e_cleanup() {
    local i
    for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do
        stop_pid "${E2E_PIDS[i]}"
    done
    stop_dovecot
    rm -rf "$E2E_TMP"
}
trap e2e_cleanup EXIT
trap 'exit 1' INT TERM

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# A prerequisite is missing: the test is skipped (CTest SKIP_RETURN_CODE 77), but fails under CI,
# where everything is installed on purpose.
skip() {
    [ -z "${CI:-}" ] || fail "missing prerequisite under CI: $*"
    echo "SKIP: $*"
    exit 77
}

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
    local seconds=$1 tries
    shift
    for ((tries = 0; tries < seconds * 10; tries++)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
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

# Starts the program in PROGRAM_FOLDER on the X display; sets PROGRAM_PID.
start_program() {
    mkdir -p -m 700 "$E2E_TMP/runtime"
    QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$E2E_TMP/runtime" "$1/mossvale" >"$E2E_OUTPUT_DIR/program.log" 2>&1 &
    PROGRAM_PID=$!
    E2E_PIDS+=("$PROGRAM_PID")
}

# The id of the first visible window whose title is TITLE, or nothing.
visible_window() {
    local id
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1) || true
    [ -n "$id" ] && echo "$id"
}

screenshot() {
    import -display "$DISPLAY" -window "${2:-root}" "$E2E_OUTPUT_DIR/$1"
    echo "screenshot: $E2E_OUTPUT_DIR/$1"
}

MAIN_TITLE="Mossvale　Ver 1.0"
# The main window's client area is 433 x 307 px under the menu bar; the buttons of the left column
# are 97 x 25 px, 24 px apart.
CLIENT_HEIGHT=307
BUTTON_PITCH=24

# Clicks the K-th button of the left column (0 = "メールチェック") of the main window WINDOW.
click_button() {
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$1")"
    xdotool mousemove --sync $((X + 48)) $((Y + HEIGHT - CLIENT_HEIGHT + BUTTON_PITCH * $2 + 12)) click 1
}
