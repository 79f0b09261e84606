#!/usr/bin/python3
"""The interoperability mailbox and the judgement of what a server kept.

  mailbox.py write FOLDER          the 22 messages as FOLDER/NN.eml (LF line ends); 1-20 are there
                                   before the first check, 21 and 22 arrive between the checks
  mailbox.py keywords              the keywords to register, one a line
  mailbox.py verify CHECK LEFT MAILDATA [--uidl]
                                   after check CHECK (1 or 2): LEFT lists the Message-IDs the
                                   server's own storage still holds; MAILDATA is the program's data
                                   folder. Prints each finding and exits 1 if any is wrong.
"""
import base64
import sys

KEYWORDS = ["未承諾広告※", "casino", "激安ブランド", "lottery-prize.example"]


def b(charset, text):
    codec = {"ISO-2022-JP": "iso2022_jp", "Shift_JIS": "shift_jis"}.get(charset, charset)
    return "=?%s?B?%s?=" % (charset, base64.b64encode(text.encode(codec)).decode())


def q(text):
    out = ""
    for byte in text.encode("utf-8"):
        ch = chr(byte)
        out += "_" if ch == " " else ch if ch.isascii() and ch.isalnum() else "=%02X" % byte
    return "=?UTF-8?Q?%s?=" % out


# Number, From as sent, From as the program must show it, Subject as sent, as shown, body, spam.
# Near misses keep their mail: a keyword in the body only, in another case, in full width, or
# broken by a space.
MESSAGES = [
    (1, b("ISO-2022-JP", "田中 花子") + " <hanako@example.jp>", "田中 花子 <hanako@example.jp>",
     b("ISO-2022-JP", "来週の打ち合わせについて"), "来週の打ち合わせについて", "来週火曜の午後でいかがでしょうか。", False),
    (2, "Bob Smith <bob@example.com>", None, "Lunch on Friday?", None, "The usual place at noon?", False),
    (3, b("ISO-2022-JP", "広告センター") + " <ad@mass-mail.example>", "広告センター <ad@mass-mail.example>",
     b("ISO-2022-JP", "未承諾広告※ 今だけ特別価格！"), "未承諾広告※ 今だけ特別価格！", "広告です。", True),
    (4, q("システム管理者") + " <admin@example.jp>", "システム管理者 <admin@example.jp>",
     b("UTF-8", "【お知らせ】サーバー保守のご案内"), "【お知らせ】サーバー保守のご案内", "3月8日に停止します。", False),
    (5, b("UTF-8", "激安ブランド館") + " <shop@cheap-brand.example>", "激安ブランド館 <shop@cheap-brand.example>",
     b("ISO-2022-JP", "ご注文ありがとうございます"), "ご注文ありがとうございます", "承っておりません。", True),
    (6, "Ken <ken@example.org>", None, "CASINO night at the club", None, "Bring a friend.", False),
    (7, b("ISO-2022-JP", "広報部") + " <pr@example.jp>", "広報部 <pr@example.jp>",
     b("ISO-2022-JP", "広告の件"), "広告の件", "件名に「未承諾広告※」と入れる決まりです。casino", False),
    (8, "Casino Royale Online <vip@casino-royale.example>", None,
     "You have WON a FREE casino bonus", None, "Click here.", True),
    (9, b("ISO-2022-JP", "町内会") + " <chounaikai@example.jp>", "町内会 <chounaikai@example.jp>",
     b("ISO-2022-JP", "町内会の夏祭りのお知らせ") + "\n " + b("ISO-2022-JP", "（8月2日）"),
     "町内会の夏祭りのお知らせ（8月2日）", "今年も公園で開きます。", False),
    (10, q("お得情報") + " <info@deal.example>", "お得情報 <info@deal.example>",
     q("未承諾 広告※ ではありません"), "未承諾 広告※ ではありません", "広告ではありません。", False),
    (11, "Carol <carol@example.com>", None, q("Meeting notes – March"), "Meeting notes – March", "Below.", False),
    (12, "Shop <sale@bargain.example>", None,
     b("ISO-2022-JP", "未承") + " " + b("ISO-2022-JP", "諾広告※ 在庫一掃"), "未承諾広告※ 在庫一掃", "広告です。", True),
    (13, "Lottery-Prize.Example News <news@lotto.example>", None, "Monthly results", None, "No prize.", False),
    (14, "Lucky Winner <winner@lottery-prize.example>", None, "Claim your prize today", None, "You won.", True),
    (15, b("Shift_JIS", "経理部") + " <keiri@example.jp>", "経理部 <keiri@example.jp>",
     b("Shift_JIS", "請求書の送付について"), "請求書の送付について", "今月分です。", False),
    (16, "Qt Newsletter <news@lists.example.org>", None, "Tips for Qt 6.4 widgets", None, "Issue 42.", False),
    (17, q("佐藤 さくら") + " <sakura@example.jp>", "佐藤 さくら <sakura@example.jp>",
     q("Re: 写真送ります"), "Re: 写真送ります", "きれいに撮れていますね。", False),
    (18, b("UTF-8", "鈴木 一郎") + " <ichiro@example.jp>", "鈴木 一郎 <ichiro@example.jp>",
     b("UTF-8", "ｃａｓｉｎｏ 大会の写真"), "ｃａｓｉｎｏ 大会の写真", "週末に送ります。", False),
    (19, "Dave <dave@example.net>", None, "Your parcel has been shipped", None, "Tracking 1234.", False),
    (20, b("ISO-2022-JP", "母") + " <mother@example.jp>", "母 <mother@example.jp>",
     b("ISO-2022-JP", "荷物届きました"), "荷物届きました", "ありがとう。", False),
    # Delivered between the two checks.
    (21, b("ISO-2022-JP", "通販センター") + " <center@tsuhan.example>", "通販センター <center@tsuhan.example>",
     b("ISO-2022-JP", "【未承諾広告※】健康食品"), "【未承諾広告※】健康食品", "広告です。", True),
    (22, q("高橋 健") + " <ken@example.jp>", "高橋 健 <ken@example.jp>",
     b("UTF-8", "明日の会議室"), "明日の会議室", "三階です。", False),
]
FIRST = 20  # messages on the server at the first check


def message_id(number):
    return "<interop-%d@mossvale.example>" % number


def text(number):
    n, sender, _, subject, _, body, _ = MESSAGES[number - 1]
    lines = [
        "Return-Path: <sender@example.net>",
        "From: " + sender,
        "To: mvinterop1@example.jp",
        "Subject: " + subject,
        "Date: Mon, 3 Mar 2025 %02d:%02d:00 +0900" % (8 + n // 4, n * 7 % 60),
        "Message-ID: " + message_id(n),
        "MIME-Version: 1.0",
        "Content-Type: text/plain; charset=UTF-8",
        "Content-Transfer-Encoding: 8bit",
        "",
        body,
        "From the desk of the sender: a body line that an mbox must quote.",
        "",
    ]
    return "\n".join(lines)


def shown(row):
    n, sender, shown_sender, subject, shown_subject, _, spam = row
    return n, shown_sender or sender, shown_subject or subject, spam


def present_after(check):
    return range(1, (FIRST if check == 1 else len(MESSAGES)) + 1)


def tsv(path):
    """The lines of a file the program writes, split at tabs; none when it wrote none."""
    try:
        with open(path, encoding="utf-8") as f:
            return [line.rstrip("\n").split("\t") for line in f]
    except FileNotFoundError:
        return []


def findings(check, left, maildata, uidl):
    """Yields (ok, finding) for what the server kept and what the program recorded."""
    rows = [shown(MESSAGES[n - 1]) for n in present_after(check)]
    want_left = sorted(n for n, _, _, spam in rows if not spam)
    got_left = sorted(int(i.split("-")[1].split("@")[0]) for i in left if i.startswith("<interop-"))
    yield got_left == want_left, "left on the server: %s (expected %s)" % (got_left, want_left)
    spam = {(subject, sender) for _, sender, subject, is_spam in rows if is_spam}
    history = {(fields[6], fields[5]) for fields in tsv(maildata + "/deleted.tsv")
               if len(fields) >= 7 and fields[1] == "deleted"}
    yield history == spam, "deleted.tsv names exactly the spam, decoded (%d of %d)" % (len(history & spam), len(spam))
    for extra in sorted(history - spam):
        yield False, "deleted.tsv has an unexpected line: %s / %s" % extra
    if not uidl:
        return
    kept = {(subject, sender) for _, sender, subject, is_spam in rows if not is_spam}
    remembered = {(fields[2], fields[3]) for fields in tsv(maildata + "/seen.tsv")[1:] if len(fields) >= 4}
    yield remembered == kept, "seen.tsv holds every kept message's texts, decoded (%d of %d)" % (
        len(remembered & kept), len(kept))
    for wrong in sorted(remembered - kept):
        yield False, "seen.tsv has texts that no kept message has: %s / %s" % wrong


def main(argv):
    if len(argv) == 3 and argv[1] == "write":
        for n in range(1, len(MESSAGES) + 1):
            with open("%s/%02d.eml" % (argv[2], n), "w", encoding="utf-8", newline="\n") as f:
                f.write(text(n))
        return 0
    if len(argv) == 2 and argv[1] == "keywords":
        print("\n".join(KEYWORDS))
        return 0
    if len(argv) in (5, 6) and argv[1] == "verify" and argv[2] in ("1", "2"):
        with open(argv[3], encoding="utf-8") as f:
            left = [line.strip() for line in f if line.strip()]
        failed = 0
        for ok, finding in findings(int(argv[2]), left, argv[4], argv[5:] == ["--uidl"]):
            print(("ok: " if ok else "FAIL: ") + finding)
            failed += not ok
        return 1 if failed else 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
