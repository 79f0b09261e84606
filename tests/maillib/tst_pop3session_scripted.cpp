#include "maillib/Pop3Session.h"
#include "tests/support/ScriptedPop3Server.h"

#include <QTest>
#include <algorithm>

using Script = QList<QByteArray>;
Q_DECLARE_METATYPE(Pop3Connection::Failure)

namespace {

Pop3Options shortTimeouts(bool pipelining = true)
{
    Pop3Options options;
    options.replyTimeoutMs = 1000;
    options.allowPipelining = pipelining;
    return options;
}

Script greeting(bool pipelining)
{
    return Script{"S: +OK ready <1.2@test>", "C: CAPA", "S: +OK", "S: TOP", "S: USER"} +
           (pipelining ? Script{"S: PIPELINING", "S: ."} : Script{"S: ."});
}

// Greeting, USER/PASS as bob, STAT reporting 2 messages and TOP 1 0, then the given lines.
Script asked(const Script& rest)
{
    return greeting(false) + Script{"C: USER bob", "S: +OK", "C: PASS secret", "S: +OK", "C: STAT", "S: +OK 2 99"} +
           Script{"C: TOP 1 0"} + rest;
}

// The header of message 1 answered with the given lines, then the session closed.
Script answered(const Script& header)
{
    return asked(Script{"S: +OK"} + header + Script{"S: .", "C: QUIT", "S: +OK"});
}

// The same script with every server line sent a byte at a time.
Script slowly(Script script)
{
    for (QByteArray& line : script)
        line[0] = line.startsWith("S: ") ? 'B' : line[0];
    return script;
}

// A whole mailbox played by a responder: count messages, TOP of message refused answered -ERR.
ScriptedPop3Server::Responder mailbox(int count, int refused)
{
    return [count, refused](const QByteArray& command) -> QList<QByteArray> {
        const QList<QByteArray> words = command.split(' ');
        const QByteArray number = words.value(1);
        if (words.at(0) == "STAT")
            return {"+OK " + QByteArray::number(count) + " 0"};
        if (words.at(0) == "TOP" && number.toInt() >= 1 && number.toInt() <= count && number.toInt() != refused)
            return {"+OK", "Subject: =?UTF-8?B?5Lya6K2w?= " + number, "From: m" + number + "@example.jp", "", "."};
        return {words.at(0) == "TOP" ? "-ERR no such message" : "+OK"};
    };
}

} // namespace

// Pop3Session against a scripted server, for faults a real server does not produce on demand.
class TestPop3SessionScripted : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // One header request, answered in full or broken off. A broken session ends without QUIT, so
    // the server applies none of its deletions.
    void readsOneHeader_data()
    {
        QTest::addColumn<Script>("script");
        QTest::addColumn<QString>("text"); // the subject, or the error text when the request fails
        QTest::addColumn<QByteArray>("rawHeader");
        QTest::addColumn<Pop3Connection::Failure>("failure");

        using enum Pop3Connection::Failure;
        QTest::newRow("a byte at a time")
            << slowly(answered({"S: Subject: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?=", "S: From: a@b", "S: "}))
            << QStringLiteral("会議") << QByteArray("Subject: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?=\r\nFrom: a@b\r\n\r\n")
            << None;
        QTest::newRow("dot-stuffed lines")
            << answered({"S: ..X-Dotted: yes", "S: Subject: .. starts"}) << QStringLiteral(".. starts")
            << QByteArray(".X-Dotted: yes\r\nSubject: .. starts\r\n") << None;
        QTest::newRow("long header line")
            << answered({"S: X-Long: " + QByteArray(100000, 'a'), "S: Subject: kept"}) << QStringLiteral("kept")
            << "X-Long: " + QByteArray(64 * 1024 - 8, 'a') + "\r\nSubject: kept\r\n"
            << None;
        QTest::newRow("reply cut off") << asked({"R: +OK\\r\\nSubject: half of it", "X"})
                                       << QStringLiteral("POP3サーバーとの接続が途中で切れました。") << QByteArray()
                                       << Network;
        QTest::newRow("silent server") << asked({"W: 8000"})
                                       << QStringLiteral("POP3サーバーから1秒以内に応答がありませんでした。")
                                       << QByteArray() << Timeout;
        QTest::newRow("over-long status line")
            << asked({"R: +OK " + QByteArray(100000, 'b'), "W: 2000"})
            << QStringLiteral("POP3サーバーの応答行が長すぎるため、中止しました。") << QByteArray() << Protocol;
    }

    void readsOneHeader()
    {
        QFETCH(Script, script);
        QFETCH(QString, text);
        QFETCH(QByteArray, rawHeader);
        QFETCH(Pop3Connection::Failure, failure);
        ScriptedPop3Server server(script);
        Pop3Session session(shortTimeouts());
        QVERIFY2(server.start() && session.open(server.server()), qPrintable(session.errorText()));
        QCOMPARE(session.login(QStringLiteral("bob"), QStringLiteral("secret"), false), 2);
        const std::optional<MessageHeaders> headers = session.headers(1);
        QCOMPARE(headers ? headers->subject : session.errorText(), text);
        QCOMPARE(headers ? headers->rawHeader : QString(), QString::fromLatin1(rawHeader));
        QCOMPARE(session.failure(), failure);
        if (!headers)
            QVERIFY(!session.remove(1) && !session.headers(2));
        QCOMPARE(session.close(), failure == Pop3Connection::Failure::None);
        QVERIFY(server.waitForFinished());
        QCOMPARE(server.failure(), QString());
        QCOMPARE(server.received().contains("QUIT"), failure == Pop3Connection::Failure::None);
    }

    void accountNeverSentOnFailure_data()
    {
        QTest::addColumn<Script>("script");
        QTest::addColumn<QStringList>("account"); // user, password
        QTest::addColumn<bool>("apop");
        QTest::addColumn<QString>("error");

        const QStringList bob = {"bob", "secret"};
        const Script noCapa = {"S: +OK hi <5.6@test>", "C: CAPA", "S: -ERR no", "C: QUIT", "S: +OK"};
        const QString lf =
            QStringLiteral("ユーザーIDまたはパスワードに改行文字が含まれているため、送信しませんでした。");
        QTest::newRow("APOP, no timestamp")
            << Script{"S: +OK no timestamp"} + noCapa.mid(1) << bob << true
            << QStringLiteral("サーバーの挨拶にタイムスタンプがないため、APOPでログインできません。"
                              "APOPを使わない設定にしてください。");
        QTest::newRow("CR in user") << noCapa << QStringList{"bob\rDELE 1", "secret"} << false << lf;
        QTest::newRow("LF in password") << noCapa << QStringList{"bob", "se\ncret"} << false << lf;
        QTest::newRow("CR LF in password, APOP") << noCapa << QStringList{"bob", "x\r\nQUIT"} << true << lf;
        QTest::newRow("NUL in user") << noCapa << QStringList{QString::fromUtf16(u"b\u0000b", 3), "secret"} << false
                                     << lf;
        QTest::newRow("garbage greeting") << Script{"S: SSH-2.0-OpenSSH_9.2", "W: 2000"} << bob << false
                                          << QStringLiteral("POP3サーバーの応答を解釈できませんでした。");
        QTest::newRow("STLS refused")
            << Script{"S: +OK hi", "C: CAPA", "S: +OK", "S: STLS", "S: .", "C: STLS", "S: -ERR not today"} << bob
            << false
            << QStringLiteral("サーバーが暗号化通信（STLS）の開始を拒否しました。\nサーバーの応答: -ERR not today");
    }

    void accountNeverSentOnFailure()
    {
        QFETCH(Script, script);
        QFETCH(QStringList, account);
        QFETCH(bool, apop);
        QFETCH(QString, error);
        ScriptedPop3Server server(script);
        QVERIFY(server.start());
        Pop3Session session(shortTimeouts());
        session.open(server.server()); // fails for the broken servers, with the error kept through the login
        QCOMPARE(session.login(account.at(0), account.at(1), apop), -1);
        QCOMPARE(session.errorText(), error);
        session.close();
        QVERIFY(server.waitForFinished());
        QCOMPARE(server.failure(), QString());
        const QByteArray sent = server.received().join('\n');
        QVERIFY(!sent.contains("USER") && !sent.contains("PASS") && !sent.contains("APOP"));
    }

    void scansMailboxes_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("refused"); // the message whose TOP the server refuses, 0 for none
        QTest::addColumn<bool>("advertised");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<bool>("ipv6");

        QTest::newRow("empty") << 0 << 0 << true << true << false;
        QTest::newRow("empty, over IPv6") << 0 << 0 << false << true << true;
        QTest::newRow("one message") << 1 << 0 << false << true << false;
        QTest::newRow("1,000 messages, pipelined") << 1000 << 0 << true << true << false;
        QTest::newRow("1,000 messages, one at a time") << 1000 << 0 << false << true << false;
        QTest::newRow("-ERR to one TOP, pipelined") << 10 << 5 << true << true << false;
        QTest::newRow("-ERR to one TOP, pipelining switched off") << 10 << 5 << true << false << false;
    }

    void scansMailboxes()
    {
        QFETCH(int, count);
        QFETCH(int, refused);
        QFETCH(bool, advertised);
        QFETCH(bool, allowed);
        QFETCH(bool, ipv6);
        ScriptedPop3Server server(greeting(advertised), mailbox(count, refused));
        const bool started = server.start(QHostAddress(ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost));
        if (!started && ipv6)
            QSKIP("this machine has no IPv6 loopback");
        QVERIFY(started);
        Pop3Session session(shortTimeouts(allowed));
        QVERIFY2(session.open(server.server()), qPrintable(session.errorText()));
        QCOMPARE(session.isPipelining(), advertised && allowed);
        QCOMPARE(session.login(QStringLiteral("bob"), QStringLiteral("secret"), false), count);
        QList<QByteArray> expected = {"CAPA", "USER bob", "PASS secret", "STAT", "QUIT"};
        for (int k = 1; k <= count; ++k) {
            expected << "TOP " + QByteArray::number(k) + " 0";
            const std::optional<MessageHeaders> headers = session.headers(k);
            QCOMPARE(headers ? headers->subject + u'|' + headers->sender : session.errorText(),
                     k != refused ? QStringLiteral("会議 %1|m%1@example.jp").arg(k)
                                  : QStringLiteral("メール%1のヘッダーを取得できませんでした。\n"
                                                   "サーバーの応答: -ERR no such message")
                                        .arg(k));
            if (k % 10 == 7) {
                QVERIFY(session.remove(k));
                expected << "DELE " + QByteArray::number(k);
            }
        }
        QVERIFY(!session.headers(count + 1) && session.close());
        QVERIFY(server.waitForFinished());
        QList<QByteArray> received = server.received();
        QCOMPARE(received.last(), QByteArray("QUIT"));
        std::sort(received.begin(), received.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(received, expected); // each header asked once, the deletions asked, nothing else
    }
};

QTEST_GUILESS_MAIN(TestPop3SessionScripted)
#include "tst_pop3session_scripted.moc"
