#include "maillib/Pop3Session.h"
#include "tests/support/Prerequisite.h"
#include "tests/support/ScriptedPop3Server.h"
#include "tests/support/SessionSteps.h"
#include "tests/support/TestCertificate.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using Script = QList<QByteArray>;
using Refusal = Pop3Session::Refusal;
using Failure = Pop3Connection::Failure;
using State = Pop3Session::State;
namespace Steps = SessionSteps;

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

// Greeting, USER/PASS as bob, STAT of one message, LIST and UIDL refused, TOP 1 0 asked; then rest.
Script asked(const Script& rest)
{
    return greeting(false) + Script{"C: USER bob", "S: +OK",  "C: PASS secret", "S: +OK",  "C: STAT",   "S: +OK 1 99",
                                    "C: LIST",     "S: -ERR", "C: UIDL",        "S: -ERR", "C: TOP 1 0"} +
           rest;
}

// What a mailbox server does wrong.
struct Faults
{
    // refusedTop: TOP of this message answered -ERR; repeatedTop: the reply to TOP of this message
    // sent twice; statClaims: STAT claims this many messages (0: the truth); oversizedHeader: LIST
    // gives this message a size smaller than its header.
    int refusedTop = 0, repeatedTop = 0, statClaims = 0, oversizedHeader = 0;
    bool closingStatWrong = false, closingCountWrong = false, listRefused = false;
    QList<QByteArray> uidl = {}; // the UIDL reply's lines; empty: -ERR
};

// A whole mailbox of count messages played by a responder, honest but for faults.
ScriptedPop3Server::Responder mailbox(int count, Faults faults = {})
{
    return [count, faults, deleted = QSet<int>(), stats = 0](const QByteArray& command) mutable -> Script {
        const QByteArray verb = command.left(4);
        const int number = command.split(' ').value(1).toInt();
        if (verb == "STAT") {
            const bool closing = ++stats > 1;
            const int left = count - int(deleted.size());
            const int shown = faults.statClaims ? faults.statClaims : left + (closing && faults.closingStatWrong);
            const int counted = shown + (closing && faults.closingCountWrong); // the size stays right
            return {"+OK " + QByteArray::number(counted) + ' ' + QByteArray::number(shown * 100)};
        }
        if (verb == "LIST") {
            if (faults.listRefused)
                return {"-ERR"};
            Script lines{"+OK"};
            for (int k = 1; k <= count; ++k)
                lines << QByteArray::number(k) + (k == faults.oversizedHeader ? " 10" : " 100");
            return lines << ".";
        }
        if (verb == "UIDL")
            return faults.uidl.isEmpty() ? Script{"-ERR"} : Script{"+OK"} + faults.uidl << ".";
        if (verb == "TOP ") {
            if (number < 1 || number > count || number == faults.refusedTop || deleted.contains(number))
                return {"-ERR no such message"};
            const QByteArray n = QByteArray::number(number);
            const Script reply{"+OK", "Subject: =?UTF-8?B?5Lya6K2w?= " + n, "From: m" + n + "@example.jp", "", "."};
            return number == faults.repeatedTop ? reply + reply : reply;
        }
        if (verb == "DELE")
            deleted.insert(number);
        return {"+OK"};
    };
}

// How a session after the login ends: the mailbox (or a whole dialogue) and what the caller sees.
struct Session
{
    const char* name;
    Script script = {}; // a whole dialogue of one message; empty: the greeting and the mailbox
    int count = 30;     // messages in the mailbox
    Faults faults = {};
    bool pipelining = true;
    QString text = {}; // the subject of message 1, or the error text when the session broke
    Failure failure = Failure::None;
    QByteArray secondId = {}; // the trusted id of message 2
};

// Where the password must not go, and why.
struct Credentials
{
    const char* name;
    Script script = {}; // then -ERR to everything; empty: a greeting with a timestamp
    bool remote = false, tlsBefore = false, plainAllowed = false, apop = false; // remote: on 127.0.0.2
    QString user = QStringLiteral("bob"), password = QStringLiteral("secret");
    QString server = {}; // where to connect instead of the scripted server
    Refusal refusal = Refusal::None;
    Failure failure = Failure::None;
    QString error = {}; // how the login's error text starts; empty: the account was sent
};

// A server that offered PIPELINING over TLS at the last check, met again.
struct Remembered
{
    const char* name;
    Script script;
    bool pop3s = true, apop = false;
    int count = 0; // what login() returns
    bool pipelining = true;
    Refusal refusal = Refusal::None;
    QString error = {}; // how the error text starts
};

// The login stream of bob with the greeting, CAPA and an empty mailbox, in the order asked.
const Script loginStream = {"C: CAPA", "C: USER bob", "C: PASS secret", "C: STAT", "C: LIST", "C: UIDL"};
Script answers(bool pipelining)
{
    return Script{"S: +OK", "S: UIDL"} + (pipelining ? Script{"S: PIPELINING"} : Script{}) +
           Script{"S: .", "S: +OK", "S: +OK", "S: +OK 0 0", "S: +OK", "S: .", "S: +OK", "S: ."};
}

} // namespace

Q_DECLARE_METATYPE(Session)
Q_DECLARE_METATYPE(Credentials)
Q_DECLARE_METATYPE(Remembered)

// Pop3Session against a scripted server, for faults a real server does not produce on demand.
class TestPop3SessionScripted : public QObject
{
    Q_OBJECT

    QTcpServer m_full;
    QTcpSocket m_fillers[4];
    QTemporaryDir m_dir;
    TestCertificate m_tls;

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE(Prerequisite::missingPrograms({"openssl"}).isEmpty(), "openssl");
        QVERIFY(m_dir.isValid());
        const QString error = m_tls.make(m_dir.path());
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    // Every header asked once and the deletions asked, pipelined or not; QUIT only after close()
    // proved the stream in step. Anything else ends the session without QUIT: nothing is deleted.
    void sessions_data()
    {
        QTest::addColumn<Session>("row");
        const QString timeout = QStringLiteral("POP3サーバーから1秒以内に応答がありませんでした。");
        const QString subject = u"会議 1"_qs, badReply = u"POP3サーバーの応答を解釈できませんでした。"_qs;
        const QString outOfStep = QStringLiteral("POP3サーバーの応答が要求と食い違ったため、安全のため中止しました。");
        using enum Failure;
        // clang-format off
        const QList<Session> rows = {
            {.name = "empty mailbox", .count = 0},
            {.name = "1,000 messages, pipelined", .count = 1000, .text = subject},
            {.name = "-ERR to one TOP, pipelined", .count = 20, .faults = {.refusedTop = 5}, .text = subject},
            {.name = "unique ids", .count = 3, .faults = {.uidl = {"1 a1", "2 b2", "3 c3"}}, .text = subject, .secondId = "b2"},
            {.name = "an id twice", .count = 3, .faults = {.uidl = {"1 a1", "2 a1", "3 c3"}}, .text = subject},
            {.name = "an id missing", .count = 3, .faults = {.uidl = {"1 a1", "3 c3"}}, .text = subject},
            {.name = "an id too many", .count = 3, .faults = {.uidl = {"1 a1", "2 b2", "3 c3", "4 d4"}}, .text = subject},
            {.name = "a blank in an id", .count = 3, .faults = {.uidl = {"1 a1", "2 b 2", "3 c3"}}, .text = subject},
            {.name = "repeated TOP reply, pipelined", .faults = {.repeatedTop = 1}, .text = badReply, .failure = Protocol},
            {.name = "repeated TOP reply, one at a time", .faults = {.repeatedTop = 1}, .pipelining = false, .text = outOfStep, .failure = Protocol},
            {.name = "repeated last TOP reply", .faults = {.repeatedTop = 30}, .text = badReply, .failure = Protocol},
            {.name = "closing STAT off by one", .faults = {.closingStatWrong = true}, .text = outOfStep, .failure = Protocol},
            {.name = "closing count off, size right, LIST refused", .faults = {.closingCountWrong = true, .listRefused = true}, .text = outOfStep, .failure = Protocol},
            {.name = "header larger than its message", .faults = {.oversizedHeader = 12}, .text = u"POP3サーバーから届いたヘッダーが要求したメールのものと考えられないため、安全のため中止しました。"_qs, .failure = Protocol},
            {.name = "STAT claims a million, LIST has 30", .faults = {.statClaims = 1000000}, .text = u"POP3サーバーが示したメールの件数と一覧が食い違ったため、安全のため中止しました。"_qs, .failure = Protocol},
            {.name = "a byte at a time", .script = asked({"B: +OK", "B: Subject: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?=", "B: ", "B: .", "C: STAT", "B: +OK 1 99", "C: QUIT", "B: +OK"}), .count = 1, .text = u"会議"_qs},
            {.name = "reply cut off", .script = asked({"R: +OK\\r\\nSubject: half of it", "X"}), .count = 1, .text = u"POP3サーバーとの接続が途中で切れました。"_qs, .failure = Network},
            {.name = "silent server", .script = asked({"W: 8000"}), .count = 1, .text = timeout, .failure = Timeout},
            {.name = "reply drip-fed past the time-out", .script = asked({"R: +OK\\r\\n", "W: 400", "R: Subject: a", "W: 400", "R: b", "W: 400", "R: c\\r\\n", "W: 3000"}), .count = 1, .text = timeout, .failure = Timeout},
            {.name = "over-long status line", .script = asked({"R: +OK " + QByteArray(100000, 'b'), "W: 2000"}), .count = 1, .text = u"POP3サーバーの応答行が長すぎるため、中止しました。"_qs, .failure = Protocol},
        };
        // clang-format on
        for (const Session& row : rows)
            QTest::newRow(row.name) << row;
    }

    void sessions()
    {
        QFETCH(Session, row);
        const bool honest = row.failure == Failure::None;
        ScriptedPop3Server server(row.script.isEmpty() ? greeting(row.pipelining) : row.script,
                                  mailbox(row.count, row.faults));
        QVERIFY(server.start());
        Pop3Session session(shortTimeouts(row.pipelining));
        QList<State> states;
        connect(&session, &Pop3Session::stateChanged, this, [&states](State state) { states << state; });
        QVERIFY2(Steps::open(session, server.server()), qPrintable(session.errorText()));
        QCOMPARE(session.isPipelining(), row.pipelining && row.script.isEmpty());
        QCOMPARE(Steps::login(session, "bob", "secret"), row.faults.statClaims ? -1 : row.count);
        // Every header asked at once, as a check does; the deletions join from the handlers.
        QString first;
        int answered = 0;
        for (int k = 1; k <= row.count && session.state() == State::Transaction; ++k) {
            session.requestHeaders(k, [&](int number, const std::optional<MessageHeaders>& headers) {
                ++answered;
                if (number == 1)
                    first = headers ? headers->subject : session.errorText();
                if (headers && number % 10 == 7)
                    QVERIFY(session.remove(number));
            });
        }
        QCOMPARE(Steps::close(session), honest);
        QVERIFY(honest || (!session.remove(1) && !session.requestHeaders(1, {})));
        QCOMPARE(session.failure(), row.failure);
        QCOMPARE(honest ? first : session.errorText(), row.text);
        QCOMPARE(session.uniqueId(2), row.secondId);
        QCOMPARE(session.hasUniqueIds(), !row.secondId.isEmpty() || row.count == 0);
        QVERIFY2(server.waitForFinished() && server.failure().isEmpty(), qPrintable(server.failure()));
        const QList<QByteArray> received = server.received();
        QCOMPARE(received.contains("QUIT"), honest);
        QCOMPARE(session.quitSent(), honest);
        QVERIFY(received.size() < 2 * row.count + 20); // a lying count is not followed by a million requests
        if (honest && row.script.isEmpty()) { // CAPA USER PASS STAT LIST UIDL, a TOP each, the DELEs, STAT QUIT
            const int deletions = row.count / 10 + (row.count % 10 >= 7);
            QCOMPARE(answered, row.count);
            QCOMPARE(session.deletionsConfirmed(), deletions);
            QCOMPARE(received.size(), 8 + row.count + deletions);
            QCOMPARE(states, (QList<State>{State::Connecting, State::Greeting, State::Capabilities, State::Ready,
                                           State::Authorizing, State::Transaction, State::Verifying, State::Quitting,
                                           State::Closed}));
        }
    }

    // Pipelined copies reach the handler of their own request: each gets its own message's bytes.
    void copiesReachTheirRequest()
    {
        ScriptedPop3Server server(greeting(true), [](const QByteArray& command) -> Script {
            if (command == "STAT")
                return {"+OK 3 300"};
            if (command == "LIST" || command == "UIDL")
                return {"-ERR"};
            if (command.startsWith("RETR"))
                return {"+OK", "Subject: message " + command.mid(5), "", "body of " + command.mid(5), "."};
            return {"+OK"};
        });
        QVERIFY(server.start());
        Pop3Session session(shortTimeouts());
        QVERIFY(Steps::open(session, server.server()));
        QCOMPARE(Steps::login(session, "bob", "secret"), 3);
        QMap<int, QByteArray> got;
        for (int k : {1, 2, 3})
            QVERIFY(session.retrieve(
                k, [&got](int n, const std::optional<QByteArray>& bytes) { got[n] = bytes.value_or("none"); }));
        QVERIFY(Steps::close(session));
        for (int k : {1, 2, 3})
            QCOMPARE(got.value(k),
                     "Subject: message " + QByteArray::number(k) + "\r\n\r\nbody of " + QByteArray::number(k) + "\r\n");
        QVERIFY(server.waitForFinished());
    }

    // The account goes nowhere it is not safe: not with CR, LF or NUL in it, not after a failed
    // STLS, and without STLS only to this machine or where the user allowed it, never where TLS
    // worked before (an offer removed on the way looks just like a server without it). Failures
    // before the login each have their own kind and a text that says what to do.
    void credentials_data()
    {
        QTest::addColumn<Credentials>("row");
        const QString lf = u"ユーザーIDまたはパスワードに改行文字が含まれているため、送信しませんでした。"_qs;
        const QString lost = u"以前は暗号化通信で接続できたサーバー「%1」で、暗号化通信（STLS）が使えなく"_qs;
        const Script stls = {"S: +OK hi", "C: CAPA", "S: +OK", "S: STLS", "S: .", "C: STLS"};
        m_full.setListenBacklogSize(0); // and nothing accepted, so that a further connection never completes
        QVERIFY(m_full.listen(QHostAddress::LocalHost));
        m_full.pauseAccepting();
        for (QTcpSocket& filler : m_fillers)
            filler.connectToHost(QHostAddress::LocalHost, m_full.serverPort());
        QTcpServer closed;
        closed.listen(QHostAddress::LocalHost);
        const QString refusedAt = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
        closed.close();
        using enum Refusal;
        // clang-format off
        const QList<Credentials> rows = {
            {.name = "APOP, no timestamp", .script = {"S: +OK no timestamp"}, .apop = true, .error = u"サーバーの挨拶にタイムスタンプがないため、APOPでログインできません。APOPを使わない設定にしてください。"_qs},
            {.name = "CR in user", .user = "bob\rDELE 1", .error = lf},
            {.name = "LF in password", .password = "se\ncret", .error = lf},
            {.name = "CR LF in password, APOP", .apop = true, .password = "x\r\nQUIT", .error = lf},
            {.name = "NUL in user", .user = QString::fromUtf16(u"b\u0000b", 3), .error = lf},
            {.name = "garbage greeting", .script = {"S: SSH-2.0-OpenSSH_9.2", "W: 2000"}, .failure = Failure::Protocol, .error = u"POP3サーバーの応答を解釈できませんでした。"_qs},
            {.name = "STLS refused", .script = stls + Script{"S: -ERR not today"}, .error = u"サーバーが暗号化通信（STLS）の開始を拒否しました。\nサーバーの応答: -ERR not today"_qs},
            {.name = "reply slipped in before TLS", .script = stls + Script{"R: +OK go\\r\\n+OK 0 0\\r\\n"}, .failure = Failure::Security, .error = u"暗号化通信の開始前に余分なデータが届いたため、パスワードを送らずに中止しました。"_qs},
            {.name = "no such host", .server = "nosuch.invalid", .failure = Failure::HostNotFound, .error = u"POP3サーバー「nosuch.invalid」が見つかりません。サーバー名を確認してください。"_qs},
            {.name = "port closed", .server = refusedAt, .failure = Failure::Refused, .error = u"POP3サーバー「127.0.0.1」が接続を拒否しました。サーバー名とポート番号を確認してください。"_qs},
            {.name = "connection never completes", .server = QStringLiteral("127.0.0.1:%1").arg(m_full.serverPort()), .failure = Failure::Timeout, .error = u"POP3サーバーへの接続が2秒以内に完了しませんでした。"_qs},
            {.name = "loopback without TLS"},
            {.name = "remote, first seen", .remote = true, .refusal = PlainText, .error = u"サーバー「127.0.0.2」は暗号化通信（STLS）に対応していない"_qs},
            {.name = "remote, allowed", .remote = true, .plainAllowed = true},
            {.name = "TLS before, loopback", .tlsBefore = true, .refusal = EncryptionLost, .error = lost.arg("127.0.0.1")},
            {.name = "TLS before, remote allowed", .remote = true, .tlsBefore = true, .plainAllowed = true, .refusal = EncryptionLost, .error = lost.arg("127.0.0.2")},
        };
        // clang-format on
        for (const Credentials& row : rows)
            QTest::newRow(row.name) << row;
    }

    void credentials()
    {
        QFETCH(Credentials, row);
        ScriptedPop3Server server(row.script.isEmpty() ? Script{"S: +OK ready <1.2@test>"} : row.script,
                                  [](const QByteArray&) { return Script{"-ERR no"}; });
        const QString host = row.remote ? QStringLiteral("127.0.0.2") : QStringLiteral("127.0.0.1");
        QVERIFY(!row.server.isEmpty() || server.start(QHostAddress(host)));
        Pop3Options options = shortTimeouts();
        options.trust.treatAsRemote = {QStringLiteral("127.0.0.2")};
        options.trust.encrypted = row.tlsBefore ? QSet<QString>{host} : QSet<QString>{};
        options.trust.plainTextAllowed = row.plainAllowed ? QSet<QString>{host} : QSet<QString>{};
        Pop3Session session(options);
        Steps::open(session, row.server.isEmpty() ? server.server() : row.server); // an error is kept through the login
        QCOMPARE(session.refusal(), row.refusal);
        QCOMPARE(session.failure(), row.failure);
        QCOMPARE(Steps::login(session, row.user, row.password, row.apop), -1);
        QVERIFY2(session.errorText().startsWith(row.error), qPrintable(session.errorText()));
        Steps::close(session);
        QVERIFY2(server.waitForFinished() == row.server.isEmpty() && server.failure().isEmpty(),
                 qPrintable(server.failure()));
        const QByteArray sent = server.received().join('\n');
        QCOMPARE(sent.contains("USER") || sent.contains("PASS") || sent.contains("APOP"), row.error.isEmpty());
    }

    // Over TLS, a server that offered PIPELINING last time is sent CAPA and the login at once: the
    // scripts expect them before the greeting (pop3s) or the capabilities (STLS), so a client that
    // waited would time out. What the server offers now rules the rest of the session; a refused
    // greeting or STLS still stops it.
    void rememberedPipelining_data()
    {
        QTest::addColumn<Remembered>("row");
        const QString lost = u"以前は暗号化通信で接続できたサーバー「127.0.0.1」で、暗号化通信（STLS）が使えなく"_qs;
        const QByteArray digest = QCryptographicHash::hash("<1.2@test>secret", QCryptographicHash::Md5).toHex();
        // clang-format off
        const QList<Remembered> rows = {
            {.name = "pop3s, greeting not awaited", .script = Script{"T"} + loginStream + Script{"S: +OK ready"} + answers(true)},
            {.name = "pop3s, PIPELINING gone", .script = Script{"T"} + loginStream + Script{"S: +OK ready"} + answers(false), .pipelining = false},
            {.name = "pop3s, greeting refused", .script = Script{"T"} + loginStream + Script{"S: -ERR too busy", "W: 2000"}, .count = -1, .error = u"POP3サーバーが接続を受け付けませんでした。"_qs},
            {.name = "pop3s, APOP reads the greeting first", .script = {"T", "S: +OK ready <1.2@test>", "C: CAPA", "C: APOP bob " + digest, "S: +OK", "S: PIPELINING", "S: .", "S: +OK", "C: STAT", "S: +OK 2 20", "C: LIST", "S: -ERR", "C: UIDL", "S: -ERR"}, .apop = true, .count = 2},
            {.name = "STLS at once, CAPA with the login", .script = Script{"S: +OK ready", "C: STLS", "S: +OK", "T"} + loginStream + answers(true), .pop3s = false},
            {.name = "STLS refused where it worked before", .script = {"S: +OK ready", "C: STLS", "S: -ERR no"}, .pop3s = false, .count = -1, .refusal = Refusal::EncryptionLost, .error = lost},
        };
        // clang-format on
        for (const Remembered& row : rows)
            QTest::newRow(row.name) << row;
    }

    void rememberedPipelining()
    {
        QFETCH(Remembered, row);
        const QByteArray left = QByteArray::number(row.count);
        ScriptedPop3Server server(row.script, [left](const QByteArray& command) {
            return Script{command == "STAT" ? "+OK " + left + ' ' + left + '0' : "+OK"};
        });
        server.useTls(m_tls.certificate, m_tls.key);
        QVERIFY(server.start());
        Pop3Options options = shortTimeouts();
        options.pipeliningOffered = true;
        options.extraTrustedCertificates = {m_tls.certificate};
        options.trust.encrypted = {QStringLiteral("127.0.0.1")};
        Pop3Session session(options);
        const bool opened =
            Steps::open(session, (row.pop3s ? QStringLiteral("pop3s://") : QString()) + server.server());
        QCOMPARE(opened, row.refusal == Refusal::None);
        QCOMPARE(session.refusal(), row.refusal);
        QCOMPARE(Steps::login(session, "bob", "secret", row.apop), row.count);
        QVERIFY2(session.errorText().startsWith(row.error), qPrintable(session.errorText()));
        QVERIFY(row.count < 0 || session.isPipelining() == row.pipelining);
        QCOMPARE(Steps::close(session), row.count >= 0);
        QVERIFY2(server.waitForFinished() && server.failure().isEmpty(), qPrintable(server.failure()));
        QCOMPARE(server.received().contains("QUIT"), row.count >= 0);
    }

    // A server that answers each request just inside the reply time-out is still abandoned at the
    // session's deadline; cancelling ends the session at once. The thread is free all along.
    void boundedAsAWhole()
    {
        for (const bool cancel : {false, true}) {
            Script slow = greeting(false);
            for (const char* reply : {"+OK", "+OK", "+OK 3 300", "-ERR", "-ERR"})
                slow << "C: *"
                     << "W: 700"
                     << "S: " + QByteArray(reply);
            ScriptedPop3Server server(slow + Script{"C: *", "W: 5000"});
            QVERIFY(server.start());
            Pop3Options options = shortTimeouts(false);
            options.sessionTimeoutMs = cancel ? 60000 : 2000;
            options.perMessageTimeoutMs = 0;
            Pop3Session session(options);
            if (cancel)
                QTimer::singleShot(2500, [] { Pop3Connection::cancelAll(); });
            QElapsedTimer clock;
            clock.start();
            QVERIFY(Steps::open(session, server.server()));
            session.login("bob", "secret", false);
            QVERIFY(Steps::settle(session, {State::Authorizing, State::Transaction}));
            Pop3Connection::allowConnections();
            QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(session.failure(), cancel ? Failure::Cancelled : Failure::Timeout);
            QCOMPARE(session.errorText(), cancel ? u"プログラムの終了のため、メールチェックを中止しました。"_qs
                                                 : u"メールチェックが2秒以内に終わらなかったため、中止しました。"_qs);
            QVERIFY(server.waitForFinished());
            QVERIFY(!server.received().contains("QUIT"));
        }
    }
};

QTEST_GUILESS_MAIN(TestPop3SessionScripted)
#include "tst_pop3session_scripted.moc"
