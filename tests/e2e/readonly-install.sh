#!/usr/bin/env bash
# An installed program whose folder the user cannot write keeps its settings in
# "$XDG_DATA_HOME/Mossvale" (default ~/.local/share/Mossvale) and writes nothing into the installed
# folder; a program folder the user can write keeps them beside the program, as always. Each run
# is ended by a different signal of the system (TERM, INT, HUP), which must run the orderly
# shutdown: it stores "NAME" and ends with status 0.
# We run as root, who can write anywhere, so the program runs as the user nobody.
source "${BASH_SOURCE[0]%/*}/common.sh" || exit 1
require setpriv iconv
[ "$(id -u)" -eq 0 ] || skip "needs root to run the program as another user"
id nobody >/dev/null 2>&1 || skip "no user nobody"

prefix="$E2E_TMP/prefix"
"${CMAKE_COMMAND:-cmake}" --install "$E2E_BUILD_DIR" --prefix "$prefix" >"$E2E_OUTPUT_DIR/install.log" 2>&1 ||
    fail "cmake --install failed: $(cat "$E2E_OUTPUT_DIR/install.log")"
[ -L "$prefix/bin/mossvale" ] || fail "no link $prefix/bin/mossvale"
installed=$(dirname "$(readlink -f "$prefix/bin/mossvale")")
[ -x "$installed/mossvale" ] && [ -d "$installed/★MailData" ] || fail "the install is incomplete"
nobody_group=$(id -gn nobody)

# A folder that belongs to nobody.
nobody_dir() {
    mkdir -p "$1"
    chown nobody:"$nobody_group" "$1"
    chmod 700 "$1"
}

# run_as_nobody SIGNAL SETTINGS PROGRAM HOME [XDG_DATA_HOME]: starts PROGRAM as nobody on the
# offscreen platform, lets it start up, ends it with SIGNAL, and expects the shutdown to have
# stored "NAME" in SETTINGS/★MailData/ini.ini. Its output (where the offscreen platform also prints
# message boxes) goes to RUN_LOG.
RUNS=0
run_as_nobody() {
    local signal=$1 ini="$2/★MailData/ini.ini" program=$3 home=$4 data=${5:-} runtime pid status=0
    RUN_LOG="$E2E_OUTPUT_DIR/program-$((++RUNS)).log"
    runtime=$(mktemp -d "$E2E_TMP/runtime.XXXXXX")
    nobody_dir "$runtime"
    rm -f "$ini" # only this run's shutdown may store NAME
    local environment=(PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=offscreen
        LC_ALL=C.UTF-8)
    [ -z "$data" ] || environment+=(XDG_DATA_HOME="$data")
    setpriv --reuid=nobody --regid="$nobody_group" --clear-groups \
        env -i "${environment[@]}" "$program" >"$RUN_LOG" 2>&1 &
    pid=$!
    sleep 3
    kill -0 "$pid" 2>/dev/null || fail "$program ended by itself: $(tail -5 "$RUN_LOG")"
    ! grep -qs '^NAME=' "$ini" || fail "NAME was stored before the shutdown"
    kill -"$signal" "$pid"
    ended() { ! kill -0 "$pid" 2>/dev/null; }
    wait_for 10 ended || { kill -KILL "$pid"; fail "$program did not end on SIG$signal"; }
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || fail "$program ended with status $status after SIG$signal"
    [ -f "$ini" ] || fail "no settings in $ini; found: $(find "$E2E_TMP" -name ini.ini | tr '\n' ' ')"
    iconv -f CP932 -t UTF-8 "$ini" | grep -q '^NAME=未設定' || fail "$ini does not hold NAME=未設定"
}

snapshot() {
    find "$1" -printf '%P %s %T@ %m %u\n' | sort
}
before=$(snapshot "$installed")

echo "case: installed folder not writable, XDG_DATA_HOME set"
home="$E2E_TMP/home1" && nobody_dir "$home"
data="$E2E_TMP/data1" && nobody_dir "$data"
run_as_nobody TERM "$data/Mossvale" "$prefix/bin/mossvale" "$home" "$data"
[ ! -e "$home/.local/share/Mossvale" ] || fail "settings went to ~/.local/share although XDG_DATA_HOME is set"
grep -q "^Mossvale: .*$data/Mossvale" "$RUN_LOG" || fail "the user was not told where the settings go"
run_as_nobody INT "$data/Mossvale" "$prefix/bin/mossvale" "$home" "$data"
! grep -q "$data/Mossvale" "$RUN_LOG" || fail "the user was told again where the settings go"
echo "ok: told once where the settings go"

echo "case: installed folder not writable, XDG_DATA_HOME unset"
home="$E2E_TMP/home2" && nobody_dir "$home"
run_as_nobody HUP "$home/.local/share/Mossvale" "$prefix/bin/mossvale" "$home"
[ "$(snapshot "$installed")" = "$before" ] ||
    fail "the installed folder changed: $(diff <(echo "$before") <(snapshot "$installed"))"
echo "ok: nothing was written into $installed; TERM, INT and HUP ran the shutdown"

echo "case: a program folder the user can write keeps the settings beside the program"
writable="$E2E_TMP/writable"
cp -a "$installed" "$writable"
chown -R nobody:"$nobody_group" "$writable"
home="$E2E_TMP/home3" && nobody_dir "$home"
data="$E2E_TMP/data3" && nobody_dir "$data"
run_as_nobody TERM "$writable" "$writable/mossvale" "$home" "$data"
[ ! -e "$data/Mossvale" ] || fail "settings went to $data/Mossvale although the program folder is writable"
echo "ok: settings follow the program folder when it is writable, else \$XDG_DATA_HOME/Mossvale"
