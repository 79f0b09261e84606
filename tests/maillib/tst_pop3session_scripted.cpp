#include "maillib/Pop3Session.h"
#include "tests/support/ScriptedPop3Server.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTest>

// Pop3Session against a scripted server, for faults a real server does not produce on demand.
class TestPop3SessionScripted : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsAServerThatSendsByteByByte();
    void undoesDotStuffing();
    void replyCutOffEndsTheSessionWithoutQuit();
    void silentServerTimesOut();
    void overlongLines();
    void oneRefusedTopInAPipelinedRun_data();
    void oneRefusedTopInAPipelinedRun();
    void apopWithoutTimestampIsRefused();
    void lineBreaksInTheAccountAreNeverSent_data();
    void lineBreaksInTheAccountAreNeverSent();
    void countsAndScansMailboxes_data();
    void countsAndScansMailboxes();
    void refusedStlsStopsTheSession();
    void garbageGreetingFails();
    void reachesIpv6Servers();
};

namespace {

Pop3Options shortTimeouts(bool pipelining = true)
{
    Pop3Options options;
    options.connectTimeoutMs = 2000;
    options.replyTimeoutMs = 1000;
    options.allowPipelining = pipelining;
    return options;
}

// The usual start of a session: greeting, capabilities without STLS, USER/PASS and STAT.
QList<QByteArray> loginScript(int count, bool pipelining = false)
{
    QList<QByteArray> script = {"S: +OK ready <1.2@test>", "C: CAPA", "S: +OK", "S: TOP", "S: USER"};
    if (pipelining)
        script << "S: PIPELINING";
    script << "S: ."
           << "C: USER bob"
           << "S: +OK"
           << "C: PASS secret"
           << "S: +OK logged in"
           << "C: STAT"
           << "S: +OK " + QByteArray::number(count) + " 1000";
    return script;
}

QByteArray headerOf(int number)
{
    return "Subject: =?UTF-8?B?5Lya6K2w?= " + QByteArray::number(number) + "\r\nFrom: m" + QByteArray::number(number) +
           "@example.jp\r\n\r\n";
}

// A whole mailbox played by a responder: count messages, TOP refused for those in refused.
ScriptedPop3Server::Responder mailbox(int count, QSet<int> refused = {})
{
    return [count, refused](const QByteArray& command) -> QList<QByteArray> {
        const QList<QByteArray> words = command.split(' ');
        const int number = words.value(1).toInt();
        if (words.at(0) == "STAT")
            return {"+OK " + QByteArray::number(count) + " 0"};
        if (words.at(0) == "TOP" && number >= 1 && number <= count && !refused.contains(number)) {
            QList<QByteArray> lines = {"+OK"};
            lines += headerOf(number).split('\n');
            for (QByteArray& line : lines)
                line = line.trimmed();
            lines.removeLast();
            lines << ".";
            return lines;
        }
        if (words.at(0) == "TOP")
            return {"-ERR no such message"};
        if (words.at(0) == "DELE")
            return {"+OK deleted"};
        if (words.at(0) == "QUIT")
            return {"+OK bye"};
        return {"+OK"};
    };
}

QList<QByteArray> capabilities(bool pipelining)
{
    QList<QByteArray> script = {"S: +OK ready", "C: CAPA", "S: +OK", "S: TOP"};
    if (pipelining)
        script << "S: PIPELINING";
    script << "S: .";
    return script;
}

} // namespace

void TestPop3SessionScripted::readsAServerThatSendsByteByByte()
{
    ScriptedPop3Server server({"B: +OK slow <3.4@test>", "C: CAPA", "B: +OK\\r\\nUSER\\r\\n.", "C: USER bob", "B: +OK",
                               "C: PASS secret", "B: +OK", "C: STAT", "B: +OK 1 100", "C: TOP 1 0",
                               "B: +OK\\r\\nSubject: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?=\\r\\nFrom: a@b\\r\\n\\r\\n.",
                               "C: QUIT", "B: +OK bye"});
    QVERIFY(server.start());
    Pop3Session session(shortTimeouts());
    QVERIFY2(session.open(server.server()), qPrintable(session.errorText()));
    QCOMPARE(session.login(QStringLiteral("bob"), QStringLiteral("secret"), false), 1);
    const std::optional<MessageHeaders> headers = session.headers(1);
    QVERIFY2(headers, qPrintable(session.errorText()));
    QCOMPARE(headers->subject, QStringLiteral("会議"));
    QCOMPARE(headers->sender, QStringLiteral("a@b"));
    QVERIFY(session.close());
    QVERIFY(server.waitForFinished());
    QCOMPARE(server.failure(), QString());
}

void TestPop3SessionScripted::undoesDotStuffing()
{
    QList<QByteArray> script = loginScript(1);
    script << "C: TOP 1 0"
           << "S: +OK"
           << "S: ..X-Dotted: yes"
           << "S: Subject: .. starts"
           << "S: ."
           << "C: QUIT"
           << "S: +OK";
    ScriptedPop3Server server(script);
    QVERIFY(server.start());
    Pop3Session session(shortTimeouts());
    QVERIFY(session.open(server.server()));
    QCOMPARE(session.login(QStringLiteral("bob"), QStringLiteral("secret"), false), 1);
    const std::optional<MessageHeaders> headers = session.headers(1);
    QVERIFY(headers);
    QCOMPARE(headers->rawHeader, QStringLiteral(".X-Dotted: yes\r\nSubject: .. starts\r\n"));
    QCOMPARE(headers->subject, QStringLiteral(".. starts"));
    QVERIFY(session.close());
}

void TestPop3SessionScripted::replyCutOffEndsTheSessionWithoutQuit()
{
    QList<QByteArray> script = loginScript(2);
    script << "C: TOP 1 0"
           << "R: +OK\\r\\nSubject: half of it"
           << "X";
    ScriptedPop3Server server(script);
    QVERIFY(server.start());
    Pop3Session session(shortTimeouts());
    QVERIFY(session.open(server.server()));
    QCOMPARE(session.login(QStringLiteral("bob"), QStringLiteral("secret"), false), 2);
    QVERIFY(!session.headers(1));
    QCOMPARE(session.errorText(), QStringLiteral("POP3サーバーとの接続が途中で切れました。"));
    QCOMPARE(session.failure(), Pop3Connection::Failure::Network);
    QVERIFY(!session.remove(1));
    QVERIFY(!session.headers(2));
    QVERIFY(!session.close());
    QVERIFY(server.waitForFinished());
    QVERIFY(!server.received().contains("QUIT"));
}

void TestPop3SessionScripted::silentServerTimesOut()
{
    QList<QByteArray> script = loginScript(1);
    script << "C: TOP 1 0"
           << "W: 8000";
    ScriptedPop3Server server(script);
    QVERIFY(server.start());
    Pop3Session session(shortTimeouts());
    QVERIFY(session.open(server.server()));
    QCOMPARE(session.login(QStringLiteral("bob"), QStringLiteral("secret"), false), 1);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!session.headers(1));
    QVERIFY2(timer.elapsed() < 5000, "the reply time-out did not end the wait");
    QCOMPARE(session.failure(), Pop3Connection::Failure::Timeout);
    QCOMPARE(session.errorText(), QStringLiteral("POP3サーバーから1秒以内に応答がありませんでした。"));
    QVERIFY(!session.close());
    QVERIFY(server.waitForFinished());
}

void TestPop3SessionScripted::overlongLines()
{
    // An over-long header line is cut and the session goes on; an over-long status line is an
    // attack or garbage and ends it.
    QList<QByteArray> script = loginScript(2);
    script << "C: TOP 1 0"
           << "S: +OK"
           << "S: X-Long: " + QByteArray(100000, 'a') << "S: Subject: kept"
           << "S: ."
           << "C: TOP 2 0"
           << "R: +OK " + QByteArray(100000, 'b') << "W: 2000";
    ScriptedPop3Server server(script);
    QVERIFY(server.start());
    Pop3Session session(shortTimeouts());
    QVERIFY(session.open(server.server()));
    QCOMPARE(session.login(QStringLiteral("bob"), QStringLiteral("secret"), false), 2);
    const std::optional<MessageHeaders> first = session.headers(1);
    QVERIFY(first);
    QCOMPARE(first->subject, QStringLiteral("kept"));
    QVERIFY(first->rawHeader.size() <= Pop3ReplyParser::DefaultMaxLineLength + 100);
    QVERIFY(!session.headers(2));
    QCOMPARE(session.errorText(), QStringLiteral("POP3サーバーの応答行が長すぎるため、中止しました。"));
    QCOMPARE(session.failure(), Pop3Connection::Failure::Protocol);
}

void TestPop3SessionScripted::oneRefusedTopInAPipelinedRun_data()
{
    QTest::addColumn<bool>("pipelining");
    QTest::newRow("pipelined") << true;
    QTest::newRow("one at a time") << false;
}

void TestPop3SessionScripted::oneRefusedTopInAPipelinedRun()
{
    QFETCH(bool, pipelining);
    ScriptedPop3Server server(capabilities(true), mailbox(10, {5}));
    QVERIFY(server.start());
    Pop3Session session(shortTimeouts(pipelining));
    QVERIFY(session.open(server.server()));
    QCOMPARE(session.isPipelining(), pipelining);
    QCOMPARE(session.login(QStringLiteral("bob"), QStringLiteral("secret"), false), 10);
    for (int k = 1; k <= 10; ++k) {
        const std::optional<MessageHeaders> headers = session.headers(k);
        QCOMPARE(headers.has_value(), k != 5);
        if (headers) {
            QCOMPARE(headers->subject, QStringLiteral("会議 %1").arg(k));
        } else {
            QCOMPARE(session.errorText(), QStringLiteral("メール5のヘッダーを取得できませんでした。\n"
                                                         "サーバーの応答: -ERR no such message"));
        }
    }
    QVERIFY(session.close());
    QVERIFY(server.waitForFinished());
    const QList<QByteArray> received = server.received();
    QCOMPARE(received.count("TOP 5 0"), 1);
    QCOMPARE(received.last(), QByteArray("QUIT"));
}

void TestPop3SessionScripted::apopWithoutTimestampIsRefused()
{
    ScriptedPop3Server server({"S: +OK no timestamp here", "C: CAPA", "S: -ERR no", "C: QUIT", "S: +OK"});
    QVERIFY(server.start());
    Pop3Session session(shortTimeouts());
    QVERIFY(session.open(server.server()));
    QCOMPARE(session.login(QStringLiteral("bob"), QStringLiteral("secret"), true), -1);
    QVERIFY(session.errorText().contains(QStringLiteral("タイムスタンプがないため、APOPでログインできません")));
    QVERIFY(session.close());
    QVERIFY(server.waitForFinished());
    QCOMPARE(server.failure(), QString());
    QCOMPARE(server.received(), (QList<QByteArray>{"CAPA", "QUIT"}));
}

void TestPop3SessionScripted::lineBreaksInTheAccountAreNeverSent_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("apop");
    QTest::newRow("CR in user") << QStringLiteral("bob\rDELE 1") << QStringLiteral("secret") << false;
    QTest::newRow("LF in password") << QStringLiteral("bob") << QStringLiteral("se\ncret") << false;
    QTest::newRow("CR LF in password, APOP") << QStringLiteral("bob") << QStringLiteral("x\r\nQUIT") << true;
    QTest::newRow("NUL in user") << QString::fromUtf16(u"b\u0000b", 3) << QStringLiteral("secret") << false;
}

void TestPop3SessionScripted::lineBreaksInTheAccountAreNeverSent()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, apop);
    ScriptedPop3Server server({"S: +OK hi <5.6@test>", "C: CAPA", "S: -ERR no", "C: QUIT", "S: +OK"});
    QVERIFY(server.start());
    Pop3Session session(shortTimeouts());
    QVERIFY(session.open(server.server()));
    QCOMPARE(session.login(user, password, apop), -1);
    QCOMPARE(session.errorText(),
             QStringLiteral("ユーザーIDまたはパスワードに改行文字が含まれているため、送信しませんでした。"));
    QVERIFY(session.close());
    QVERIFY(server.waitForFinished());
    QCOMPARE(server.received(), (QList<QByteArray>{"CAPA", "QUIT"}));
}

void TestPop3SessionScripted::countsAndScansMailboxes_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("pipelining");
    QTest::newRow("empty") << 0 << true;
    QTest::newRow("one message") << 1 << false;
    QTest::newRow("1,000 messages, pipelined") << 1000 << true;
    QTest::newRow("1,000 messages, one at a time") << 1000 << false;
}

void TestPop3SessionScripted::countsAndScansMailboxes()
{
    QFETCH(int, count);
    QFETCH(bool, pipelining);
    ScriptedPop3Server server(capabilities(pipelining), mailbox(count));
    QVERIFY(server.start());
    Pop3Session session(shortTimeouts());
    QVERIFY(session.open(server.server()));
    QCOMPARE(session.login(QStringLiteral("bob"), QStringLiteral("secret"), false), count);
    QList<QByteArray> expectedDeletions;
    for (int k = 1; k <= count; ++k) {
        const std::optional<MessageHeaders> headers = session.headers(k);
        QVERIFY(headers);
        QCOMPARE(headers->sender, QStringLiteral("m%1@example.jp").arg(k));
        if (k % 10 == 7) {
            QVERIFY(session.remove(k));
            expectedDeletions << "DELE " + QByteArray::number(k);
        }
    }
    QVERIFY(!session.headers(count + 1));
    QVERIFY(session.close());
    QVERIFY(server.waitForFinished());
    const QList<QByteArray> received = server.received();
    QList<QByteArray> deletions;
    for (const QByteArray& line : received) {
        if (line.startsWith("DELE"))
            deletions << line;
    }
    QCOMPARE(deletions, expectedDeletions);
    QCOMPARE(received.count(), 5 + count + deletions.size());
    QCOMPARE(received.last(), QByteArray("QUIT"));
}

void TestPop3SessionScripted::refusedStlsStopsTheSession()
{
    ScriptedPop3Server server({"S: +OK hi", "C: CAPA", "S: +OK", "S: STLS", "S: .", "C: STLS", "S: -ERR not today"});
    QVERIFY(server.start());
    Pop3Session session(shortTimeouts());
    QVERIFY(!session.open(server.server()));
    QVERIFY(session.errorText().contains(QStringLiteral("-ERR not today")));
    QCOMPARE(session.login(QStringLiteral("bob"), QStringLiteral("secret"), false), -1);
    QVERIFY(server.waitForFinished());
    QVERIFY(!server.received().contains("USER bob"));
}

void TestPop3SessionScripted::garbageGreetingFails()
{
    ScriptedPop3Server server({"S: SSH-2.0-OpenSSH_9.2", "W: 2000"});
    QVERIFY(server.start());
    Pop3Session session(shortTimeouts());
    QVERIFY(!session.open(server.server()));
    QCOMPARE(session.errorText(), QStringLiteral("POP3サーバーの応答を解釈できませんでした。"));
    QVERIFY(server.waitForFinished());
}

void TestPop3SessionScripted::reachesIpv6Servers()
{
    QList<QByteArray> script = loginScript(0);
    script << "C: QUIT"
           << "S: +OK";
    ScriptedPop3Server server(script);
    if (!server.start(QHostAddress(QHostAddress::LocalHostIPv6)))
        QSKIP("this machine has no IPv6 loopback");
    Pop3Session session(shortTimeouts());
    QVERIFY2(session.open(server.server()), qPrintable(session.errorText()));
    QCOMPARE(session.login(QStringLiteral("bob"), QStringLiteral("secret"), false), 0);
    QVERIFY(session.close());
    QVERIFY(server.waitForFinished());
    QCOMPARE(server.failure(), QString());
}

QTEST_GUILESS_MAIN(TestPop3SessionScripted)
#include "tst_pop3session_scripted.moc"
