# The POP3 servers of the interoperability tests, each holding the mailbox in its own format.
# Sourced by run.sh after tests/e2e/common.sh. start_SERVER starts one on a free port of 127.0.0.1
# and sets SERVER_PORT; server_deliver N... delivers messages N of the mailbox, and server_left
# prints the Message-IDs the server's storage holds (for a Maildir: MAILDIR's). Every process is
# stopped by its PID at the end. All five give UIDL.
#
# The servers unpacked by scripts/fetch-pop3-servers run in a mount namespace of their own, where
# the unpacked folder is laid over /usr and /etc, /run is empty, and /etc/passwd, /etc/shadow and
# /etc/group hold the suite's users besides the machine's: nothing is installed and no user is
# added to the machine, so a killed run leaves nothing behind. That takes root.

SERVER_CACHE=${MOSSVALE_SERVER_CACHE:-/var/cache/mossvale-servers}
# The suite's users inside the namespace: the mail user and the fixed names the servers drop to.
INTEROP_UID=61001

# unpacked SERVER: sets cache to SERVER's cache folder, or skips (fails under CI) naming what is missing.
unpacked() {
    [ "$(id -u)" -eq 0 ] || skip "$1 runs in a mount namespace of its own, which takes root"
    [ -f "$SERVER_CACHE/$1/.stamp" ] || skip "$1 is not unpacked in $SERVER_CACHE (scripts/install-deps does it)"
    cache="$SERVER_CACHE/$1"
}

# namespace_etc NAME:UID:HOME...: E2E_TMP/etc with passwd, shadow and group as the machine has them
# plus one user (and group) per argument, password DEMO_PASSWORD.
namespace_etc() {
    local entry name uid home
    mkdir -p "$E2E_TMP/etc" && cp /etc/passwd /etc/shadow /etc/group "$E2E_TMP/etc/"
    for entry in "$@"; do
        IFS=: read -r name uid home <<<"$entry"
        ! grep -q "^$name:" /etc/passwd || fail "user $name is already on this machine"
        echo "$name:x:$uid:$uid::$home:/usr/sbin/nologin" >>"$E2E_TMP/etc/passwd"
        echo "$name:$(openssl passwd -6 "$DEMO_PASSWORD"):19000:0:99999:7:::" >>"$E2E_TMP/etc/shadow"
        echo "$name:x:$uid:" >>"$E2E_TMP/etc/group"
    done
}

# in_namespace CACHE COMMAND...: COMMAND with CACHE (may be empty) over /usr and /etc, the suite's
# users and an empty /run. Run in the background (by spawn), it takes the place of the subshell, so
# that the PID that spawn records is the server's own.
in_namespace() {
    local exec=()
    [ "$BASHPID" = "$$" ] || exec=(exec)
    "${exec[@]}" unshare --mount --propagation private /bin/bash -c '
        set -e
        [ -z "$1" ] || mount -t overlay overlay -o "lowerdir=$1/usr:/usr" /usr
        mount -t overlay overlay -o "lowerdir=$2${1:+:$1/etc}:/etc" /etc
        mount -t tmpfs -o mode=755 tmpfs /run
        exec "${@:3}"' namespace "$1" "$E2E_TMP/etc" "${@:2}"
}

# wait_greeting NAME: waits until the server greets on SERVER_PORT.
wait_greeting() { wait_for 20 pop3_greets "$SERVER_PORT" || fail "$1 did not greet on 127.0.0.1:$SERVER_PORT"; }

# ---------------------------------------------------------------- mailbox formats

# maildir MAILDIR [OWNER]: MAILDIR made (for OWNER, with its home above) and holding the first
# messages; the Maildir that server_deliver and server_left work on.
maildir() {
    MAILDIR=$1
    mkdir -p "$1"/{new,cur,tmp}
    [ -z "${2:-}" ] || chown -R "$2:$2" "${1%/Maildir}"
    server_deliver $(seq 1 "$FIRST")
}
server_deliver() { mailbox maildir "$MAILDIR" "$@"; }
server_left() { find "$MAILDIR/new" "$MAILDIR/cur" -type f -exec grep -h -m1 -i '^Message-ID:' {} + | cut -d' ' -f2; }

# ---------------------------------------------------------------- Dovecot (Maildir)

start_dovecot_server() {
    require dovecot
    # scripts/demo starts it and fills its Maildir through this function: the suite's mailbox.
    write_demo_mailbox() { maildir "$1"; }
    start_dovecot "$E2E_TMP/dovecot" || fail "Dovecot did not start"
    SERVER_PORT=$DOVECOT_PORT
}

# ---------------------------------------------------------------- GNU Mailutils (Maildir)

start_mailutils_server() {
    [ -x /usr/sbin/pop3d ] || skip "no /usr/sbin/pop3d (mailutils-pop3d; scripts/install-deps installs it)"
    [ "$(id -u)" -eq 0 ] || skip "mailutils runs with the suite's user in a mount namespace, which takes root"
    local dir="$E2E_TMP/mailutils"
    mkdir -p -m 1777 "$dir/lock"
    namespace_etc "$DEMO_USER:$INTEROP_UID:$dir/home/$DEMO_USER"
    maildir "$dir/home/$DEMO_USER/Maildir" "$INTEROP_UID"
    SERVER_PORT=$(free_port)
    cat >"$dir/pop3d.conf" <<EOF
mode daemon;
foreground yes;
logging { syslog no; };
mandatory-locking { enable yes; lock-directory "$dir/lock"; };
auth { authorization system; authentication system; };
mailbox { mailbox-pattern "maildir://$dir/home/\${user}/Maildir"; };
server 127.0.0.1:$SERVER_PORT { tls-mode no; };
EOF
    spawn mailutils in_namespace "" /usr/sbin/pop3d --no-site-config --config-file="$dir/pop3d.conf"
    wait_greeting "GNU Mailutils pop3d"
}

# ---------------------------------------------------------------- Courier (Maildir)

# authdaemond (authpam) answers courierpop3login over /run/courier/authdaemon, a fixed path: both run
# in one namespace, started by one shell that records authdaemond's PID for the end.
start_courier_server() {
    local cache dir="$E2E_TMP/courier"
    unpacked courier
    namespace_etc "$DEMO_USER:$INTEROP_UID:$dir/home/$DEMO_USER"
    maildir "$dir/home/$DEMO_USER/Maildir" "$INTEROP_UID"
    SERVER_PORT=$(free_port)
    spawn courier in_namespace "$cache" /bin/bash -c '
        mkdir -p -m 750 /run/courier/authdaemon
        /usr/lib/courier/courier-authlib/authdaemond & echo $! >"$1"
        exec /usr/sbin/couriertcpd -address=127.0.0.1 -nodnslookup -noidentlookup -maxprocs=8 "$2" \
            /usr/lib/courier/courier/courierpop3login /usr/lib/courier/courier/courierpop3d Maildir' \
        courier "$dir/authdaemond.pid" "$SERVER_PORT"
    E2E_PIDS+=("$(wait_for 10 cat "$dir/authdaemond.pid")") || fail "Courier's authdaemond did not start"
    wait_greeting Courier
}

# ---------------------------------------------------------------- Cyrus (its own spool, via LMTP)

# Its own master with only pop3 and lmtpunix, a sasldb user, deliveries over LMTP.
start_cyrus_server() {
    local dir="$E2E_TMP/cyrus"
    unpacked cyrus
    mkdir -p "$dir"/{config,spool,socket}
    namespace_etc "$DEMO_USER:$INTEROP_UID:/nonexistent" "cyrus:$((INTEROP_UID + 2)):$dir"
    SERVER_PORT=$(free_port)
    cat >"$dir/imapd.conf" <<EOF
configdirectory: $dir/config
partition-default: $dir/spool
servername: mvinterop
sasl_pwcheck_method: auxprop
sasl_auxprop_plugin: sasldb
sasl_sasldb_path: $dir/sasldb2
allowplaintext: yes
autocreate_post: 1
autocreate_quota: 0
expunge_mode: immediate
EOF
    cat >"$dir/cyrus.conf" <<EOF
SERVICES {
  pop3 cmd="pop3d -C $dir/imapd.conf" listen="127.0.0.1:$SERVER_PORT" prefork=0 maxchild=8
  lmtpunix cmd="lmtpd -C $dir/imapd.conf" listen="$dir/socket/lmtp" prefork=0 maxchild=2
}
EOF
    printf '%s' "$DEMO_PASSWORD" | in_namespace "$cache" /usr/sbin/saslpasswd2 -p -c -f "$dir/sasldb2" \
        -u mvinterop "$DEMO_USER" || fail "saslpasswd2 could not add the Cyrus user"
    chown -R "$((INTEROP_UID + 2))" "$dir"
    spawn cyrus in_namespace "$cache" /usr/lib/cyrus/bin/master -C "$dir/imapd.conf" -M "$dir/cyrus.conf" \
        -p "$dir/master.pid"
    wait_greeting Cyrus
    wait_for 10 test -S "$dir/socket/lmtp" || fail "Cyrus' LMTP socket did not appear"
    server_deliver() { mailbox lmtp "$E2E_TMP/cyrus/socket/lmtp" "$DEMO_USER" "$@" || fail "Cyrus' LMTP refused $*"; }
    server_deliver $(seq 1 "$FIRST")
    # The mailbox is what its index lists: an expunged message's file may stay in the spool until a
    # later session cleans up. mbexamine prints the index, one "NNNNNN> UID:000000NN ..." a message.
    server_left() {
        in_namespace "$cache" /usr/lib/cyrus/bin/mbexamine -C "$E2E_TMP/cyrus/imapd.conf" "user/$DEMO_USER" |
            sed -n 's/^[0-9]*> UID:0*\([0-9]*\) .*/\1/p' | while read -r uid; do
            find "$E2E_TMP/cyrus/spool" -type f -name "$uid." -exec grep -h -m1 -i '^Message-ID:' {} +
        done | cut -d' ' -f2 | tr -d '\r'
    }
}

# ---------------------------------------------------------------- popa3d (mbox in /var/mail)

start_popa3d_server() {
    local cache dir="$E2E_TMP/popa3d"
    unpacked popa3d
    namespace_etc "$DEMO_USER:$INTEROP_UID:/nonexistent" "popa3d:$((INTEROP_UID + 1)):/var/lib/popa3d"
    mkdir -p -m 2775 "$dir/mail" && chown root:mail "$dir/mail"
    server_deliver() { mailbox mbox "$@" >>"$E2E_TMP/popa3d/mail/$DEMO_USER"; }
    server_deliver $(seq 1 "$FIRST")
    chown "$INTEROP_UID:mail" "$dir/mail/$DEMO_USER" && chmod 660 "$dir/mail/$DEMO_USER"
    # popa3d serves one connection on its standard input: a small inetd of the suite's own runs it,
    # with the mail in /var/mail. It chroots into its empty /var/lib/popa3d, which the cache holds.
    spawn popa3d in_namespace "$cache" /bin/bash -c 'mount --bind "$1" /var/mail
        mount -t overlay overlay -o "lowerdir=$2/var/lib:/var/lib" /var/lib
        exec /usr/bin/python3 "$3" /usr/sbin/popa3d' popa3d "$dir/mail" "$cache" "$E2E_SOURCE_DIR/tests/interop/inetd.py"
    SERVER_PORT=$(wait_for 20 grep -m1 -x '[0-9]\+' "$E2E_TMP/popa3d.log") || fail "popa3d's inetd did not start"
    wait_greeting popa3d
    server_left() { grep -i '^Message-ID:' "$E2E_TMP/popa3d/mail/$DEMO_USER" | cut -d' ' -f2; }
}
