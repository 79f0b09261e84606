#!/usr/bin/python3
# The interoperability mailbox, its delivery in each server's format, and the judgement of what a
# server kept. Messages 1-20 are there before the first check, 21 and 22 arrive between the checks.
#
#   mailbox.py maildir MAILDIR N...      messages N into MAILDIR/new (LF line ends), owned as MAILDIR is
#   mailbox.py mbox N...                 messages N as mbox, From_ line first and "From " quoted
#   mailbox.py lmtp SOCKET USER N...     messages N to USER over LMTP
#   mailbox.py verify CHECK LEFT MAILDATA
#                                        after check CHECK (1 or 2): LEFT lists the Message-IDs the
#                                        server's own storage still holds; MAILDATA is the program's
#                                        data folder. Prints each finding and exits 1 if any is wrong.
# The keywords registered (run.sh): 未承諾広告※, casino, 激安ブランド, lottery-prize.example.
import base64
import os
import re
import smtplib
import sys

CHARSETS = {"J": "ISO-2022-JP", "S": "Shift_JIS", "U": "UTF-8"}

# mailbox.tsv: how From's name and Subject are sent ("-" as they are, J/S/U: encoded words of that
# charset, Q: UTF-8 quoted-printable; "|" splits encoded words, folded onto a line of their own), From
# and Subject as the program must show them, the body, and whether it is spam. Near misses keep their
# mail: a keyword in the body only, in another case, in full width, or broken by a space.
MESSAGES = [(how, sender, subject, body, spam == "spam") for how, sender, subject, body, spam in (
    line.rstrip("\n").split("\t") for line in open(os.path.join(os.path.dirname(__file__), "mailbox.tsv"),
                                                     encoding="utf-8") if not line.startswith("#"))]
FIRST = 20  # messages on the server at the first check


def encoded(how, text):
    if how == "Q":
        return "\n ".join("=?UTF-8?Q?%s?=" % "".join(
            "_" if b == 32 else chr(b) if chr(b).isascii() and chr(b).isalnum() else "=%02X" % b
            for b in word.encode()) for word in text.split("|"))
    if how in CHARSETS:
        return "\n ".join("=?%s?B?%s?=" % (CHARSETS[how], base64.b64encode(word.encode(CHARSETS[how])).decode())
                          for word in text.split("|"))
    return text


def text(n):
    how, sender, subject, body, _ = MESSAGES[n - 1]
    name, address = sender.split(" <")
    return ("Return-Path: <sender@example.net>\nFrom: %s <%s\nTo: mvinterop1@example.jp\nSubject: %s\n"
            "Date: Mon, 3 Mar 2025 %02d:%02d:00 +0900\nMessage-ID: <interop-%d@mossvale.example>\n"
            "MIME-Version: 1.0\nContent-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n\n"
            "%s\nFrom the desk of the sender: a body line that an mbox must quote.\n"
            % (encoded(how[0], name), address, encoded(how[1], subject), 8 + n // 4, n * 7 % 60, n, body))


def tsv(path):  # the lines of a file the program writes, split at tabs; none when it wrote none
    return [line.rstrip("\n").split("\t") for line in open(path, encoding="utf-8")] if os.path.exists(path) else []


def findings(check, left, maildata):
    # (ok, finding) for what the server kept and what the program recorded.
    rows = list(enumerate(MESSAGES[:FIRST if check == 1 else len(MESSAGES)], 1))
    want_left = [n for n, row in rows if not row[4]]
    got_left = sorted(int(m.group(1)) for m in map(re.compile(r"<interop-(\d+)@").match, left) if m)
    spam = {(subject.replace("|", ""), sender) for _, (_, sender, subject, _, is_spam) in rows if is_spam}
    kept = {(subject.replace("|", ""), sender) for _, (_, sender, subject, _, is_spam) in rows if not is_spam}
    history = {(f[6], f[5]) for f in tsv(maildata + "/deleted.tsv") if len(f) >= 7 and f[1] == "deleted"}
    remembered = {(f[2], f[3]) for f in tsv(maildata + "/seen.tsv")[1:] if len(f) >= 4}
    return [(got_left == want_left, "left on the server: %s (expected %s)" % (got_left, want_left)),
            (history == spam, "deleted.tsv names exactly the spam, decoded (missing %s, unexpected %s)"
             % (sorted(spam - history), sorted(history - spam))),
            (remembered == kept, "seen.tsv holds every kept message's texts, decoded (missing %s, unexpected %s)"
             % (sorted(kept - remembered), sorted(remembered - kept)))]


command, numbers = sys.argv[1], [int(n) for n in sys.argv[2:] if n.isdigit()]  # the message numbers
if command == "maildir":
    for n in numbers:
        name = "%d.M%dP%d.interop" % (1700000000 + n, n, os.getpid())
        with open("%s/tmp/%s" % (sys.argv[2], name), "w", encoding="utf-8", newline="\n") as f:
            f.write(text(n))
        os.chown(f.name, os.stat(sys.argv[2]).st_uid, os.stat(sys.argv[2]).st_gid)
        os.rename(f.name, "%s/new/%s" % (sys.argv[2], name))
elif command == "mbox":
    for n in numbers:
        print("From sender@example.net Mon Mar  3 08:%02d:00 2025" % n)
        print(re.sub("^(>*From )", r">\1", text(n), flags=re.M))
elif command == "lmtp":
    with smtplib.LMTP(sys.argv[2]) as lmtp:
        for n in numbers:
            lmtp.sendmail("sender@example.net", [sys.argv[3]], text(n).encode())
elif command == "verify":
    with open(sys.argv[3], encoding="utf-8") as f:
        results = findings(int(sys.argv[2]), [line.strip() for line in f], sys.argv[4])
    for ok, finding in results:
        print(("ok: " if ok else "FAIL: ") + finding)
    sys.exit(0 if all(ok for ok, _ in results) else 1)
