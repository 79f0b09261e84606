#include "maillib/Pop3Session.h"
#include "tests/support/ScriptedPop3Server.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using Script = QList<QByteArray>;
using Refusal = Pop3Session::Refusal;
Q_DECLARE_METATYPE(Pop3Connection::Failure)

namespace {

Pop3Options shortTimeouts(bool pipelining = true)
{
    Pop3Options options;
    options.connectTimeoutMs = 1500;
    options.replyTimeoutMs = 1000;
    options.allowPipelining = pipelining;
    return options;
}

Script greeting(bool pipelining)
{
    return Script{"S: +OK ready <1.2@test>", "C: CAPA", "S: +OK", "S: TOP", "S: USER"} +
           (pipelining ? Script{"S: PIPELINING", "S: ."} : Script{"S: ."});
}

// Greeting, USER/PASS as bob, STAT reporting 2 messages, LIST refused, and TOP 1 0, then rest.
Script asked(const Script& rest)
{
    return greeting(false) + Script{"C: USER bob", "S: +OK",  "C: PASS secret", "S: +OK",  "C: STAT",
                                    "S: +OK 2 99", "C: LIST", "S: -ERR",        "C: UIDL", "S: -ERR"} +
           Script{"C: TOP 1 0"} + rest;
}

// The header of message 1 answered with the given lines, then the session closed in step.
Script answered(const Script& header)
{
    return asked(Script{"S: +OK"} + header + Script{"S: .", "C: STAT", "S: +OK 2 99", "C: QUIT", "S: +OK"});
}

// The same script with every server line sent a byte at a time.
Script slowly(Script script)
{
    for (QByteArray& line : script)
        line[0] = line.startsWith("S: ") ? 'B' : line[0];
    return script;
}

// What a mailbox server does wrong, for the responder below.
struct Faults
{
    int refusedTop = 0;      // TOP of this message answered -ERR
    int repeatedTop = 0;     // the reply to TOP of this message sent twice
    int statClaims = 0;      // STAT claims this many messages (0: the truth)
    int oversizedHeader = 0; // LIST gives this message a size smaller than its header
    bool closingStatWrong = false;
    QList<QByteArray> uidl = {}; // the UIDL reply's lines; empty: -ERR
};

// A whole mailbox of count messages played by a responder, honest but for faults.
ScriptedPop3Server::Responder mailbox(int count, Faults faults = {})
{
    return [count, faults, deleted = QSet<int>(), stats = 0](const QByteArray& command) mutable -> QList<QByteArray> {
        const QList<QByteArray> words = command.split(' ');
        const int number = words.value(1).toInt();
        const int left = count - int(deleted.size());
        auto header = [](int k) {
            return QList<QByteArray>{"Subject: =?UTF-8?B?5Lya6K2w?= " + QByteArray::number(k),
                                     "From: m" + QByteArray::number(k) + "@example.jp", ""};
        };
        if (words.at(0) == "STAT") {
            const bool wrong = (++stats > 1 && faults.closingStatWrong);
            const int claimed = faults.statClaims ? faults.statClaims : left + (wrong ? 1 : 0);
            return {"+OK " + QByteArray::number(claimed) + ' ' + QByteArray::number(qint64(claimed) * 100)};
        }
        if (words.at(0) == "LIST") {
            QList<QByteArray> lines{"+OK"};
            for (int k = 1; k <= count; ++k)
                lines << QByteArray::number(k) + (k == faults.oversizedHeader ? " 10" : " 100");
            return lines << ".";
        }
        if (words.at(0) == "UIDL")
            return faults.uidl.isEmpty() ? QList<QByteArray>{"-ERR"} : QList<QByteArray>{"+OK"} + faults.uidl << ".";
        if (words.at(0) == "TOP") {
            if (number < 1 || number > count || number == faults.refusedTop || deleted.contains(number))
                return {"-ERR no such message"};
            QList<QByteArray> reply = QList<QByteArray>{"+OK"} + header(number) + QList<QByteArray>{"."};
            return number == faults.repeatedTop ? reply + reply : reply;
        }
        if (words.at(0) == "DELE")
            deleted.insert(number);
        return {"+OK"};
    };
}

// A loopback port whose accept queue is full, so that a further connection never completes.
struct FullPort
{
    int listener = -1;
    QList<int> clients;
    quint16 port = 0;

    FullPort()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), length);
        ::listen(listener, 0);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        for (int i = 0; i < 4; ++i) {
            const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(client, reinterpret_cast<sockaddr*>(&address), length);
            clients << client;
        }
    }
    ~FullPort()
    {
        for (int client : clients)
            ::close(client);
        ::close(listener);
    }
};

// Logs in as bob and scans every message, deleting those whose number ends in 7.
int scan(Pop3Session& session, const QString& server)
{
    if (!session.open(server))
        return -1;
    const int count = session.login(QStringLiteral("bob"), QStringLiteral("secret"), false);
    for (int k = 1; k <= count && !session.isBroken(); ++k) {
        if (session.headers(k) && k % 10 == 7)
            session.remove(k);
    }
    return count;
}

} // namespace

Q_DECLARE_METATYPE(Faults)

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
        QTest::addColumn<Pop3Connection::Failure>("failure");

        using enum Pop3Connection::Failure;
        QTest::newRow("a byte at a time")
            << slowly(answered({"S: Subject: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?=", "S: From: a@b", "S: "}))
            << QStringLiteral("会議") << None;
        QTest::newRow("dot-stuffed lines")
            << answered({"S: ..X-Dotted: yes", "S: Subject: .. starts"}) << QStringLiteral(".. starts") << None;
        QTest::newRow("long header line") << answered({"S: X-Long: " + QByteArray(100000, 'a'), "S: Subject: kept"})
                                          << QStringLiteral("kept") << None;
        QTest::newRow("reply cut off") << asked({"R: +OK\\r\\nSubject: half of it", "X"})
                                       << QStringLiteral("POP3サーバーとの接続が途中で切れました。") << Network;
        QTest::newRow("silent server") << asked({"W: 8000"})
                                       << QStringLiteral("POP3サーバーから1秒以内に応答がありませんでした。")
                                       << Timeout;
        QTest::newRow("reply drip-fed past the time-out")
            << asked({"R: +OK\\r\\n", "W: 400", "R: Subject: a", "W: 400", "R: b", "W: 400", "R: c\\r\\n", "W: 3000"})
            << QStringLiteral("POP3サーバーから1秒以内に応答がありませんでした。") << Timeout;
        QTest::newRow("over-long status line")
            << asked({"R: +OK " + QByteArray(100000, 'b'), "W: 2000"})
            << QStringLiteral("POP3サーバーの応答行が長すぎるため、中止しました。") << Protocol;
    }

    void readsOneHeader()
    {
        QFETCH(Script, script);
        QFETCH(QString, text);
        QFETCH(Pop3Connection::Failure, failure);
        ScriptedPop3Server server(script);
        Pop3Session session(shortTimeouts());
        QVERIFY2(server.start() && session.open(server.server()), qPrintable(session.errorText()));
        QCOMPARE(session.login(QStringLiteral("bob"), QStringLiteral("secret"), false), 2);
        const std::optional<MessageHeaders> headers = session.headers(1);
        QCOMPARE(headers ? headers->subject : session.errorText(), text);
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
        QTest::newRow("reply slipped in before TLS")
            << Script{"S: +OK hi", "C: CAPA", "S: +OK", "S: STLS", "S: .", "C: STLS", "R: +OK go\\r\\n+OK 0 0\\r\\n"}
            << bob << false
            << QStringLiteral("暗号化通信の開始前に余分なデータが届いたため、パスワードを送らずに中止しました。");
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

    // Without STLS the password goes only to this machine or where the user allowed it, and never
    // where TLS worked before (an offer removed on the way looks just like a server without it).
    void plainTextNeedsConsent_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QStringList>("remembered"); // "tls", "plain"
        QTest::addColumn<Refusal>("refusal");
        QTest::addColumn<QString>("error");
        const QString remote = QStringLiteral("127.0.0.2"), local = QStringLiteral("127.0.0.1");
        QTest::newRow("loopback") << local << QStringList() << Refusal::None << QString();
        QTest::newRow("remote, first seen")
            << remote << QStringList() << Refusal::PlainText
            << QStringLiteral("サーバー「127.0.0.2」は暗号化通信（STLS）に対応していない");
        QTest::newRow("remote, allowed") << remote << QStringList{"plain"} << Refusal::None << QString();
        const QString lost =
            QStringLiteral("以前は暗号化通信で接続できたサーバー「%1」で、暗号化通信（STLS）が使えなく");
        QTest::newRow("TLS before, loopback")
            << local << QStringList{"tls"} << Refusal::EncryptionLost << lost.arg(local);
        QTest::newRow("TLS before, remote allowed")
            << remote << QStringList{"tls", "plain"} << Refusal::EncryptionLost << lost.arg(remote);
    }

    void plainTextNeedsConsent()
    {
        QFETCH(QString, host);
        QFETCH(QStringList, remembered);
        QFETCH(Refusal, refusal);
        QFETCH(QString, error);
        ScriptedPop3Server server(greeting(false), [](const QByteArray&) { return QList<QByteArray>{"-ERR no"}; });
        QVERIFY(server.start(QHostAddress(host)));
        Pop3Options options = shortTimeouts();
        options.trust.treatAsRemote = {QStringLiteral("127.0.0.2")};
        if (remembered.contains("tls"))
            options.trust.encrypted = {host};
        if (remembered.contains("plain"))
            options.trust.plainTextAllowed = {host};
        Pop3Session session(options);
        QCOMPARE(session.open(server.server()), refusal == Refusal::None);
        QCOMPARE(session.refusal(), refusal);
        QCOMPARE(session.login("bob", "secret", false), -1);
        QVERIFY2(session.errorText().startsWith(error), qPrintable(session.errorText()));
        session.close();
        QVERIFY(server.waitForFinished());
        QCOMPARE(server.received().contains("USER bob"), refusal == Refusal::None);
    }

    // Honest mailboxes: every header asked once, the deletions asked, QUIT after the check in step.
    void scansMailboxes_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("refused"); // the message whose TOP the server refuses, 0 for none
        QTest::addColumn<bool>("pipelining");
        QTest::addColumn<bool>("ipv6");

        QTest::newRow("empty") << 0 << 0 << true << false;
        QTest::newRow("empty, over IPv6") << 0 << 0 << false << true;
        QTest::newRow("1,000 messages, pipelined") << 1000 << 0 << true << false;
        QTest::newRow("1,000 messages, one at a time") << 1000 << 0 << false << false;
        QTest::newRow("-ERR to one TOP, pipelined") << 20 << 5 << true << false;
        QTest::newRow("-ERR to one TOP, one at a time") << 20 << 5 << false << false;
    }

    void scansMailboxes()
    {
        QFETCH(int, count);
        QFETCH(int, refused);
        QFETCH(bool, pipelining);
        QFETCH(bool, ipv6);
        ScriptedPop3Server server(greeting(pipelining), mailbox(count, Faults{.refusedTop = refused}));
        const bool started = server.start(QHostAddress(ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost));
        if (!started && ipv6)
            QSKIP("this machine has no IPv6 loopback");
        QVERIFY(started);
        Pop3Session session(shortTimeouts());
        QCOMPARE(scan(session, server.server()), count);
        QCOMPARE(session.isPipelining(), pipelining);
        QVERIFY2(session.close(), qPrintable(session.errorText()));
        QCOMPARE(session.deletionsConfirmed(), count / 10 + (count % 10 >= 7));
        QVERIFY(server.waitForFinished());
        QList<QByteArray> received = server.received();
        QList<QByteArray> expected = {"CAPA", "USER bob", "PASS secret", "STAT", "LIST", "UIDL", "STAT", "QUIT"};
        for (int k = 1; k <= count; ++k)
            expected << "TOP " + QByteArray::number(k) + " 0" << (k % 10 == 7 ? "DELE " + QByteArray::number(k) : "");
        expected.removeAll("");
        QCOMPARE(received.last(), QByteArray("QUIT"));
        std::sort(received.begin(), received.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(received, expected);
    }

    // Unique ids are used only when they name every message once.
    void readsUniqueIds_data()
    {
        QTest::addColumn<QList<QByteArray>>("uidl");
        QTest::addColumn<QByteArray>("second"); // the id of message 2, empty when none is trusted
        QTest::newRow("honest") << QList<QByteArray>{"1 a1", "2 b2", "3 c3"} << QByteArray("b2");
        QTest::newRow("refused") << QList<QByteArray>{} << QByteArray();
        QTest::newRow("an id twice") << QList<QByteArray>{"1 a1", "2 a1", "3 c3"} << QByteArray();
        QTest::newRow("one missing") << QList<QByteArray>{"1 a1", "3 c3"} << QByteArray();
        QTest::newRow("one too many") << QList<QByteArray>{"1 a1", "2 b2", "3 c3", "4 d4"} << QByteArray();
        QTest::newRow("a blank in an id") << QList<QByteArray>{"1 a1", "2 b 2", "3 c3"} << QByteArray();
    }

    void readsUniqueIds()
    {
        QFETCH(QList<QByteArray>, uidl);
        QFETCH(QByteArray, second);
        ScriptedPop3Server server(greeting(true), mailbox(3, Faults{.uidl = uidl}));
        QVERIFY(server.start());
        Pop3Session session(shortTimeouts());
        QCOMPARE(scan(session, server.server()), 3);
        QCOMPARE(session.uniqueId(2), second);
        QCOMPARE(session.hasUniqueIds(), !second.isEmpty());
        QVERIFY(session.close());
    }

    // A stream that is not what was asked for ends the session without QUIT: nothing is deleted.
    void neverCommitsOutOfStep_data()
    {
        QTest::addColumn<Faults>("faults");
        QTest::addColumn<bool>("pipelining");
        QTest::addColumn<int>("count"); // what the login returns

        QTest::newRow("repeated TOP reply, pipelined") << Faults{.repeatedTop = 1} << true << 30;
        QTest::newRow("repeated TOP reply, one at a time") << Faults{.repeatedTop = 1} << false << 30;
        QTest::newRow("repeated last TOP reply") << Faults{.repeatedTop = 30} << true << 30;
        QTest::newRow("closing STAT off by one") << Faults{.closingStatWrong = true} << true << 30;
        QTest::newRow("header larger than its message") << Faults{.oversizedHeader = 12} << true << 30;
        QTest::newRow("STAT claims a million, LIST has 30") << Faults{.statClaims = 1000000} << true << -1;
    }

    void neverCommitsOutOfStep()
    {
        QFETCH(Faults, faults);
        QFETCH(bool, pipelining);
        QFETCH(int, count);
        ScriptedPop3Server server(greeting(pipelining), mailbox(30, faults));
        QVERIFY(server.start());
        Pop3Session session(shortTimeouts());
        QCOMPARE(scan(session, server.server()), count);
        QVERIFY(!session.close());
        QVERIFY(session.isBroken());
        QCOMPARE(session.failure(), Pop3Connection::Failure::Protocol);
        QVERIFY(server.waitForFinished());
        const QList<QByteArray> received = server.received();
        QVERIFY(!received.contains("QUIT"));
        QVERIFY(received.size() < 100); // a lying count is not followed by a million requests
    }

    // Failures before the login: each with its own kind and a text that says what to do.
    void connectFailures_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<Pop3Connection::Failure>("failure");
        QTest::addColumn<QString>("text");

        static FullPort full;
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost);
        const QString refusedAt = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
        closed.close();
        using enum Pop3Connection::Failure;
        QTest::newRow("no such host")
            << "nosuch.invalid" << HostNotFound
            << QStringLiteral("POP3サーバー「nosuch.invalid」が見つかりません。サーバー名を確認してください。");
        QTest::newRow("port closed") << refusedAt << Refused
                                     << QStringLiteral("POP3サーバー「127.0.0.1」が接続を拒否しました。"
                                                       "サーバー名とポート番号を確認してください。");
        QTest::newRow("connection never completes")
            << QStringLiteral("127.0.0.1:%1").arg(full.port) << Timeout
            << QStringLiteral("POP3サーバーへの接続が2秒以内に完了しませんでした。");
    }

    void connectFailures()
    {
        QFETCH(QString, server);
        QFETCH(Pop3Connection::Failure, failure);
        QFETCH(QString, text);
        Pop3Session session(shortTimeouts());
        QVERIFY(!session.open(server));
        QCOMPARE(session.failure(), failure);
        QCOMPARE(session.errorText(), text);
    }

    // A server that answers just inside the reply time-out is still abandoned at the session's
    // deadline, while the thread's timers keep running; cancelling ends a wait at once.
    void boundedAsAWhole_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("deadline") << false;
        QTest::newRow("cancelled") << true;
    }

    void boundedAsAWhole()
    {
        QFETCH(bool, cancel);
        Script slow = greeting(false);
        for (const char* line : {"USER bob", "PASS secret", "STAT", "LIST", "UIDL"})
            slow << "C: " + QByteArray(line) << "W: 700" << (QByteArray(line) == "STAT" ? "S: +OK 3 300" : "S: +OK")
                 << (QByteArray(line) == "LIST" || QByteArray(line) == "UIDL" ? "S: ." : "W: 0");
        slow << "C: TOP 1 0"
             << "W: 5000";
        ScriptedPop3Server server(slow);
        QVERIFY(server.start());
        Pop3Options options = shortTimeouts(false);
        options.sessionTimeoutMs = cancel ? 60000 : 2000;
        options.perMessageTimeoutMs = 0;
        Pop3Session session(options);
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(50);
        if (cancel)
            QTimer::singleShot(2500, [] { Pop3Connection::cancelAll(); });
        QElapsedTimer clock;
        clock.start();
        scan(session, server.server());
        Pop3Connection::allowConnections();
        QVERIFY(clock.elapsed() < 4000);
        QVERIFY(ticks >= 10);
        QCOMPARE(session.failure(), cancel ? Pop3Connection::Failure::Cancelled : Pop3Connection::Failure::Timeout);
        QCOMPARE(session.errorText(),
                 cancel ? QStringLiteral("プログラムの終了のため、メールチェックを中止しました。")
                        : QStringLiteral("メールチェックが2秒以内に終わらなかったため、中止しました。"));
        QVERIFY(!session.close());
        QVERIFY(server.waitForFinished());
        QVERIFY(!server.received().contains("QUIT"));
    }
};

QTEST_GUILESS_MAIN(TestPop3SessionScripted)
#include "tst_pop3session_scripted.moc"
