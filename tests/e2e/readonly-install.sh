#!/usr/bin/env bash
# An installed program whose folder the user cannot write keeps its settings in
# "$XDG_DATA_HOME/Mossvale" (default ~/.local/share/Mossvale), says so once, and writes nothing
# into the installed folder. Each run is ended by a different signal of the system (TERM, HUP),
# which must run the orderly shutdown: it stores "NAME" and ends with status 0.
# We run as root, who can write anywhere, so the program runs as the user nobody.
source "${BASH_SOURCE[0]%/*}/common.sh" || exit 1
require setpriv iconv
[ "$(id -u)" -eq 0 ] || skip "needs root to run the program as another user"
id nobody >/dev/null 2>&1 || skip "no user nobody"

prefix="$E2E_TMP/prefix" data="$E2E_TMP/data"
"${CMAKE_COMMAND:-cmake}" --install "$E2E_BUILD_DIR" --prefix "$prefix" >"$E2E_OUTPUT_DIR/install.log" 2>&1 ||
    fail "cmake --install failed: $(cat "$E2E_OUTPUT_DIR/install.log")"
installed=$(dirname "$(readlink -f "$prefix/bin/mossvale")")
snapshot() { find "$installed" -printf '%P %s %T@ %m %u\n' | sort; }
before=$(snapshot)
mkdir -m 700 "$E2E_TMP"/{home,data,runtime} && chown nobody: "$E2E_TMP"/{home,data,runtime}

# Succeeds when process PID is the program (not this script's fork before it) and has its own handler
# for SIGNAL: it is up and ends in order on it.
catches() {
    local mask
    [ "$(cat "/proc/$1/comm")" = mossvale ] && mask=$(awk '/^SigCgt/ { print $2 }' "/proc/$1/status") &&
        (((0x$mask >> ($(kill -l "$2") - 1)) & 1))
}
# run_as_nobody SIGNAL SETTINGS [XDG_DATA_HOME]: starts the installed program as nobody on the
# offscreen platform, waits until it catches SIGNAL, ends it with it, and expects the shutdown to have
# stored "NAME" in SETTINGS/★MailData/ini.ini,.
# Its output (where the offscreen platform also prints message boxes) goes to RUN_LOG.
run_as_nobody() {
    local signal=$1 ini="$2/★MailData/ini.ini" pid status=0
    RUN_LOG="$E2E_OUTPUT_DIR/program-$signal.log"
    setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups env -i PATH=/usr/bin:/bin HOME="$E2E_TMP/home" \
        XDG_RUNTIME_DIR="$E2E_TMP/runtime" QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 ${3:+"XDG_DATA_HOME=$3"} \
        "$prefix/bin/mossvale" >"$RUN_LOG" 2>&1 & pid=$!
    wait_for 15 catches "$pid" "$signal" || fail "the program never got ready for SIG$signal: $(tail -5 "$RUN_LOG")"
    ! grep -qs '^NAME=' "$ini" || fail "NAME was stored before the shutdown"
    kill -"$signal" "$pid"
    wait_for 10 gone "$pid" || { kill -KILL "$pid"; fail "the program did not end on SIG$signal"; }
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || fail "the program ended with status $status after SIG$signal"
    iconv -f CP932 -t UTF-8 "$ini" | grep -q '^NAME=未設定' || fail "$ini does not hold NAME=未設定"
    rm "$ini" # the next run's shutdown must store NAME anew
}

run_as_nobody TERM "$data/Mossvale" "$data"
grep -q "^Mossvale: .*$data/Mossvale" "$RUN_LOG" || fail "the user was not told where the settings go"
run_as_nobody HUP "$E2E_TMP/home/.local/share/Mossvale"
[ "$(snapshot)" = "$before" ] || fail "the installed folder changed: $(diff <(echo "$before") <(snapshot))"
echo "ok: settings in the user's data folder; the installed folder untouched; TERM and HUP stored"
