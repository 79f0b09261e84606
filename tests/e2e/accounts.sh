#!/usr/bin/env bash
# Several mailboxes in one check, against one real Dovecot on loopback with a user per mailbox:
# - two accounts, the first kept in the 1.0 files, the second in ★MailData/accounts.ini with its
#   Password=: one check by mossvale-demo-shot deletes exactly the spam of each mailbox (the second
#   one's messages numbered one further on, so that a number taken from the wrong session deletes
#   the wrong mail), names both accounts, writes each one's Name as the eighth field of its
#   deleted.tsv lines, and exits 0;
# - the second account's server down (a closed port): the first is cleaned as usual, and the
#   trouble is told once, by the account's name;
# - the second account alone, the first disabled: its deleted.tsv lines still name it;
# - one account: the 1.0 files keep every byte through a check, and no accounts.ini appears;
# - closing the real program (under Xvfb and openbox) while both accounts wait for
#   tests/e2e/slow_pop3.py to answer the password ends it within a second, and neither got QUIT.
source "${BASH_SOURCE[0]%/*}/common.sh" || exit 1
require Xvfb xdotool xwininfo openbox wmctrl dbus-daemon import dovecot

start_dovecot "$E2E_TMP/server"
SERVER="127.0.0.1:$DOVECOT_PORT"
MAIL="$E2E_TMP/server/mail"
# add_user NAME [SUBJECT]: a further Dovecot user with the demo password and the demo mailbox, after
# a wanted message SUBJECT (numbered 0) when one is given.
add_user() {
    printf '%s:{PLAIN}%s::::::nodelay=y\n' "$1" "$DEMO_PASSWORD" >>"$E2E_TMP/server/users"
    write_demo_mailbox "$MAIL/$1"
    [ -z "${2:-}" ] || deliver "$MAIL/$1" 0 "Eve <eve@example.org>" "$2" "Wanted."
    [ "$(id -u)" -ne 0 ] || chown -R "nobody:$(id -gn nobody)" "$MAIL/$1"
}
# The numbers of the demo messages left in user NAME's mailbox, in delivery order, on one line.
left_in() {
    find "$MAIL/$1/"{new,cur} -type f -printf '%f\t%p\n' | sort | cut -f2 | xargs -r grep -h -m1 '^Message-ID:' |
        sed -E 's/^Message-ID: <demo-([0-9]+)@.*/\1/' | tr -d '\r' | xargs
}
WANTED="${DEMO_WANTED_NUMBERS[*]}" KEPT=${#DEMO_WANTED_NUMBERS[@]} SPAM=${#DEMO_SPAM_NUMBERS[@]}
# folder NAME USER SERVER: a fresh program folder E2E_TMP/NAME for the demo account USER at SERVER.
folder() { DEMO_USER=$2 make_program_folder "$E2E_BUILD_DIR/Mossvale" "$E2E_TMP/$1" "$3"; }
# second FOLDER SERVER USER: the first account named 自宅, and 仕事 for USER at SERVER in accounts.ini;
# a copy of each message kept before it is deleted.
second() {
    printf '[Mossvale]\r\nAccount1Name=自宅\r\nKeepDeleted=1\r\n' | iconv -f UTF-8 -t CP932 >>"$1/★MailData/ini.ini"
    (umask 077 && printf '[Account2]\nName=仕事\nServer=%s\nUser=%s\nPassword=%s\nEnabled=1\n' "$2" "$3" \
        "$DEMO_PASSWORD" >"$1/★MailData/accounts.ini")
}
# shot NAME: one check of folder NAME by mossvale-demo-shot, which prints to NAME.out; sets STATUS.
mkdir -m 700 "$E2E_TMP/runtime"
shot() {
    STATUS=0 && mkdir -p "$E2E_OUTPUT_DIR/$1"
    QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$E2E_TMP/runtime" "$E2E_BUILD_DIR/demo/mossvale-demo-shot" \
        "$E2E_TMP/$1" "$E2E_OUTPUT_DIR/$1" >"$E2E_TMP/$1.out" 2>"$E2E_TMP/$1.log" || STATUS=$?
    cp "$E2E_TMP/$1.out" "$E2E_OUTPUT_DIR/$1/check.out"
}
# names NAME: the account field of each line of folder NAME's deleted.tsv ("-" for none), counted.
names() { awk -F'\t' '{ print (NF == 8 ? $8 : "-") }' "$E2E_TMP/$1/★MailData/deleted.tsv" | sort | uniq -c | xargs; }

# Two accounts, one check.
add_user work "Before the demo"
folder two "$DEMO_USER" "$SERVER" && second "$E2E_TMP/two" "$SERVER" work
shot two
expect "two accounts: exit status $STATUS" test "$STATUS" -eq 0
expect "left in the first mailbox: $(left_in "$DEMO_USER")" test "$(left_in "$DEMO_USER")" = "$WANTED"
expect "left in the second mailbox: $(left_in work)" test "$(left_in work)" = "0 $WANTED"
for line in "自宅: 残り$KEPT.*削除$SPAM" "仕事: 残り$((KEPT + 1)).*削除$SPAM"; do
    expect "no line \"$line\" in the output" grep -q "^$line" "$E2E_TMP/two.out"
done
expect "accounts in deleted.tsv: $(names two)" test "$(names two)" = "$SPAM 仕事 $SPAM 自宅"
copies() { find "$E2E_TMP/two/★MailData/Deleted$1" -maxdepth 1 -name '*.eml' -exec grep -l "^To: demo@" {} + | wc -l; }
expect "copies of the first account's mail: $(copies '')" test "$(copies '')" -eq "$SPAM"
expect "copies of the second account's mail: $(copies /2)" test "$(copies /2)" -eq "$SPAM"

# A failing account spoils nothing.
add_user alone
folder down alone "$SERVER" && second "$E2E_TMP/down" "127.0.0.1:$(free_port)" work
shot down
expect "one account down: exit status $STATUS" test "$STATUS" -eq 0
expect "left beside the account that is down: $(left_in alone)" test "$(left_in alone)" = "$WANTED"
expect "accounts in deleted.tsv beside the one down: $(names down)" test "$(names down)" = "$SPAM 自宅"
told=$(grep -c '^The program said: .*仕事' "$E2E_TMP/down.out" || true)
expect "the account that is down was told $told times by name" test "$told" -eq 1
expect "the first account was told of as in trouble" eval '! grep -q "^The program said: .*自宅" "$E2E_TMP/down.out"'

# A further account checked alone (the first disabled, its server down) still names its lines: a
# line without a name is the first account's, which would settle it against the wrong server.
add_user solo
folder solo "$DEMO_USER" "127.0.0.1:$(free_port)" && second "$E2E_TMP/solo" "$SERVER" solo
printf 'Account1Enabled=0\r\n' >>"$E2E_TMP/solo/★MailData/ini.ini"
shot solo
expect "the second account alone: exit status $STATUS" test "$STATUS" -eq 0
expect "left in the mailbox of the second account alone: $(left_in solo)" test "$(left_in solo)" = "$WANTED"
expect "accounts in deleted.tsv of the second account alone: $(names solo)" test "$(names solo)" = "$SPAM 仕事"

# One account changes nothing of the 1.0 files.
add_user single
folder one single "$SERVER"
files=(tolvex.ini ★MailData/ini.ini ★MailData/iniIdPass.ini ★MailData/Tlxdata50.data)
mkdir "$E2E_TMP/before" && for f in "${files[@]}"; do cp "$E2E_TMP/one/$f" "$E2E_TMP/before/${f##*/}"; done
shot one
expect "one account: exit status $STATUS" test "$STATUS" -eq 0
expect "left in the one mailbox: $(left_in single)" test "$(left_in single)" = "$WANTED"
for f in "${files[@]}"; do
    expect "$f changed in a check of one account" cmp "$E2E_TMP/before/${f##*/}" "$E2E_TMP/one/$f"
done
expect "a check of one account made accounts.ini" test ! -e "$E2E_TMP/one/★MailData/accounts.ini"
expect "one account's deleted.tsv names an account: $(names one)" test "$(names one)" = "$SPAM -"

# Closing mid-check: both accounts wait for the slow server to answer the password.
start_xvfb 1024x768 WM
start_bus
start_slow_pop3
slow_second() { second "$1" "127.0.0.1:$SLOW_PORT" slow; }
start_main "127.0.0.1:$SLOW_PORT" slow_second
click_button 0
wait_for 30 eval 'session_saw 1 PASS && session_saw 2 PASS' || fail "the two accounts' sessions did not both send PASS"
wmctrl -i -c "$MAIN"
in_time 1000 "the end after closing the main window during a check of two accounts" gone "$PROGRAM_PID"
stop_child "$PROGRAM_PID"
wait_for 30 eval 'session_saw 1 close && session_saw 2 close' || fail "the sessions never ended"
expect "QUIT was sent, a server would delete" eval '! grep -q " QUIT$" "$SLOW_LOG"'
expect "$(sessions) sessions for a check of two accounts" test "$(sessions)" -eq 2
finish "two accounts checked and cleaned in one run, one down spoiled nothing, one account kept its 1.0 files, closing ended both at once without QUIT"
