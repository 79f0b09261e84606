#include "maillib/Pop3Session.h"
#include "maillib/Pop3Texts.h"
#include "tests/support/Prerequisite.h"
#include "tests/support/ScriptedMailbox.h"
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
using Kind = Pop3Error::Code;
namespace Steps = SessionSteps;

namespace {

// A greeting with a timestamp, and CAPA without PIPELINING.
const Script Greeting = {"S: +OK ready <1.2@test>", "C: CAPA", "S: +OK", "S: TOP", "S: USER", "S: ."};

// Greeting, USER/PASS as bob, UIDL and LIST refused, STAT of one message, TOP 1 0 asked; then rest.
Script asked(const Script& rest)
{
    return Greeting + Script{"C: USER bob", "S: +OK",       "C: PASS secret", "S: +OK",  "C: UIDL",   "S: -ERR",
                             "C: STAT",     "S: +OK 1 99", "C: LIST",        "S: -ERR", "C: TOP 1 0"} +
           rest;
}

// One session against a scripted server: how it opens and logs in, where the account must not go,
// a server met again over TLS that offered PIPELINING last time (remembered); then every header asked
// at once (with three messages or more, copies of 1, 2, 3 and 3 again behind them), deletions, the
// end; and what the caller sees.
struct Session
{
    const char* name;
    Script script = {"S: +OK ready <1.2@test>"}; // then the mailbox
    int count = 30;                              // messages in the mailbox; -1: none, and the login fails
    MailboxFaults faults = {};
    bool remote = false, tlsBefore = false, plainAllowed = false, apop = false; // remote: on 127.0.0.2
    bool pop3s = false, remembered = false, sent = false; // sent: the account went out, the login failed after
    int sessionMs = 60000, cancelMs = 0; // the session's deadline, and when the program ends (0: never)
    QString user = QStringLiteral("bob"), password = QStringLiteral("secret");
    QString server = {}; // where to connect instead of the scripted server
    Refusal refusal = Refusal::None;
    Failure failure = Failure::None;
    Pop3Error error = {};     // what went wrong, as the session tells it; with none, message 1 is "会議 1"
    QByteArray secondId = {}; // the trusted id of message 2
};

// The login stream of bob with the greeting, CAPA and an empty mailbox, in the order asked, and the
// answers: nothing goes out behind PASS before its answer.
const Script loginStream = {"C: CAPA", "C: USER bob", "C: PASS secret"};
const Script answers = {"S: +OK",  "S: UIDL", "S: PIPELINING", "S: .",      "S: +OK", "S: +OK", "C: UIDL",
                        "C: STAT", "C: LIST", "S: +OK",        "S: .", "S: +OK 0 0", "S: +OK", "S: ."};
// CAPA with PIPELINING, then a server that loses whatever came with PASS, as one that hands the
// connection to another process once the password is accepted.
const Script handsOver = {"S: +OK ready", "C: CAPA",        "S: +OK", "S: TOP", "S: UIDL", "S: PIPELINING",
                          "S: .",         "C: USER bob", "C: PASS secret", "D", "S: +OK", "S: +OK"};

} // namespace

Q_DECLARE_METATYPE(Session)

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
    // The account goes nowhere it is not safe: not with CR, LF or NUL in it, not after a failed
    // STLS, and without STLS only to this machine or where the user allowed it, never where TLS
    // worked before (an offer removed on the way looks just like a server without it). Failures
    // before the login each have their own kind and a text that says what to do. Over TLS, a server
    // that offered PIPELINING last time is sent CAPA and the login at once: the scripts expect them
    // before the greeting (pop3s) or the capabilities (STLS), so a client that waited would time out.
    // A server that answers each request just inside the reply time-out is still abandoned at the
    // session's deadline; cancelling ends the session at once. The thread is free all along.
    void sessions_data()
    {
        QTest::addColumn<Session>("row");
        const Script stls = {"S: +OK hi", "C: CAPA", "S: +OK", "S: STLS", "S: .", "C: STLS"};
        const QByteArray digest = QCryptographicHash::hash("<1.2@test>secret", QCryptographicHash::Md5).toHex();
        const Script pop3s = Script{"T"} + loginStream;
        // Each reply just inside the reply time-out, then silence until the reply time-out would end it.
        const Script slow =
            Greeting + Script{"C: *", "W: 700", "S: +OK", "C: *", "W: 700", "S: +OK", "C: *", "W: 5000"};
        m_full.setListenBacklogSize(0); // and nothing accepted, so that a further connection never completes
        QVERIFY(m_full.listen(QHostAddress::LocalHost));
        m_full.pauseAccepting();
        for (QTcpSocket& filler : m_fillers)
            filler.connectToHost(QHostAddress::LocalHost, m_full.serverPort());
        using enum Failure;
        const Pop3Error lost = {Kind::EncryptionLost, u"127.0.0.1"_qs}, lf = {Kind::LineBreakInAccount};
        // clang-format off
        const QList<Session> rows = {
            {.name = "empty mailbox", .count = 0},
            {.name = "1,000 messages, pipelined", .count = 1000},
            {.name = "unique ids", .count = 3, .faults = {.uidl = {"1 a1", "2 b2", "3 c3"}}, .secondId = "b2"},
            {.name = "an id twice", .count = 3, .faults = {.uidl = {"1 a1", "2 a1", "3 c3"}}},
            {.name = "an id missing", .count = 3, .faults = {.uidl = {"1 a1", "3 c3"}}},
            {.name = "repeated TOP reply, pipelined", .faults = {.repeatedTop = 1}, .failure = Protocol, .error = {Kind::BadReply}},
            {.name = "repeated TOP reply, one at a time", .script = Greeting, .faults = {.repeatedTop = 1}, .failure = Protocol, .error = {Kind::OutOfStep}},
            {.name = "closing size short, count right", .faults = {.closingBytes = -1}, .failure = Protocol, .error = {Kind::OutOfStep}},
            {.name = "closing size grown by an added header, count right", .faults = {.closingBytes = 50}},
            {.name = "closing count off, size right, LIST refused", .faults = {.closingExtra = 1, .listRefused = true}, .failure = Protocol, .error = {Kind::OutOfStep}},
            {.name = "closing STAT answered twice", .faults = {.closingTwice = true}, .failure = Protocol, .error = {Kind::OutOfStep}},
            {.name = "header larger than its message: skipped", .count = 2, .faults = {.tinyListSize = 1}, .error = {Kind::HeaderTooLarge, {}, 1}},
            {.name = "what follows PASS is lost: nothing is sent behind it", .script = handsOver, .count = 3},
            {.name = "STAT claims a million, LIST has 30", .faults = {.statClaims = 1000000}, .failure = Protocol, .error = {Kind::ListInconsistent}},
            {.name = "reply cut off", .script = asked({"R: +OK\\r\\nSubject: half of it", "X"}), .count = 1, .failure = Network, .error = {Kind::Disconnected}},
            {.name = "reply drip-fed past the time-out", .script = asked({"R: +OK\\r\\n", "W: 400", "R: Subject: a", "W: 400", "R: b", "W: 400", "R: c\\r\\n", "W: 3000"}), .count = 1, .failure = Timeout, .error = {Kind::ReplyTimeout, {}, 1}},
            {.name = "over-long status line", .script = asked({"R: +OK " + QByteArray(100000, 'b'), "W: 2000"}), .count = 1, .failure = Protocol, .error = {Kind::LineTooLong}},
            {.name = "APOP, no timestamp", .script = {"S: +OK no timestamp"}, .count = -1, .apop = true, .error = {Kind::ApopUnsupported}},
            {.name = "CR in user", .count = -1, .user = "bob\rDELE 1", .error = lf},
            {.name = "CR LF in password, APOP", .count = -1, .apop = true, .password = "x\r\nQUIT", .error = lf},
            {.name = "NUL in user", .count = -1, .user = QString::fromUtf16(u"b\u0000b", 3), .error = lf},
            {.name = "garbage greeting", .script = {"S: SSH-2.0-OpenSSH_9.2", "W: 2000"}, .count = -1, .failure = Failure::Protocol, .error = {Kind::BadReply}},
            {.name = "STLS refused", .script = stls + Script{"S: -ERR not today"}, .count = -1, .error = {.code = Kind::StlsRefused, .serverReply = u"-ERR not today"_qs}},
            {.name = "reply slipped in before TLS", .script = stls + Script{"R: +OK go\\r\\n+OK 0 0\\r\\n"}, .count = -1, .failure = Failure::Security, .error = {Kind::StlsInjection}},
            {.name = "connection never completes", .count = -1, .server = QStringLiteral("127.0.0.1:%1").arg(m_full.serverPort()), .failure = Failure::Timeout, .error = {Kind::ConnectTimeout, {}, 2}},
            {.name = "loopback without TLS", .count = 0},
            {.name = "TLS before, loopback", .count = -1, .tlsBefore = true, .refusal = Refusal::EncryptionLost, .error = lost},
            {.name = "TLS before, remote allowed", .count = -1, .remote = true, .tlsBefore = true, .plainAllowed = true, .refusal = Refusal::EncryptionLost, .error = {Kind::EncryptionLost, u"127.0.0.2"_qs}},
            {.name = "pop3s, greeting not awaited", .script = pop3s + Script{"S: +OK ready"} + answers, .count = 0, .tlsBefore = true, .pop3s = true, .remembered = true},
            {.name = "pop3s, greeting refused", .script = pop3s + Script{"S: -ERR too busy", "W: 2000"}, .count = -1, .tlsBefore = true, .pop3s = true, .remembered = true, .sent = true, .error = {.code = Kind::GreetingRefused, .serverReply = u"-ERR too busy"_qs}},
            {.name = "pop3s, APOP reads the greeting first", .script = {"T", "S: +OK ready <1.2@test>", "C: CAPA", "C: APOP bob " + digest, "S: +OK", "S: PIPELINING", "S: .", "S: +OK", "C: UIDL", "S: -ERR", "C: STAT", "S: +OK 2 20", "C: LIST", "S: -ERR"}, .count = 2, .tlsBefore = true, .apop = true, .pop3s = true, .remembered = true},
            {.name = "STLS at once, CAPA with the login", .script = Script{"S: +OK ready", "C: STLS", "S: +OK", "T"} + loginStream + answers, .count = 0, .tlsBefore = true, .remembered = true},
            {.name = "login slower than the session's deadline", .script = slow, .count = -1, .sent = true, .sessionMs = 2000, .failure = Failure::Timeout, .error = {Kind::CheckTimeout, {}, 2}},
            {.name = "program ends during the login", .script = slow, .count = -1, .sent = true, .cancelMs = 1800, .failure = Failure::Cancelled, .error = {Kind::Cancelled}},
            {.name = "STLS refused where it worked before", .script = {"S: +OK ready", "C: STLS", "S: -ERR no"}, .count = -1, .tlsBefore = true, .remembered = true, .refusal = Refusal::EncryptionLost, .error = lost},
        };
        // clang-format on
        for (const Session& row : rows)
            QTest::newRow(row.name) << row;
    }

    // A refused login tells what the server's response code says, not always the password, with the
    // server's own line after it, clean of control characters; and it says goodbye with QUIT.
    void refusals_data()
    {
        using Code = Pop3Session::ResponseCode;
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<Code>("code");
        QTest::addColumn<Kind>("kind");
        QTest::newRow("in use") << QByteArray("-ERR [IN-USE] Mailbox in use") << Code::InUse << Kind::LoginInUse;
        QTest::newRow("login delay") << QByteArray("-ERR [LOGIN-DELAY] wait") << Code::LoginDelay << Kind::LoginDelay;
        QTest::newRow("temporary") << QByteArray("-ERR [SYS/TEMP] later") << Code::SysTemp << Kind::LoginSysTemp;
        QTest::newRow("permanent") << QByteArray("-ERR [SYS/PERM] broken") << Code::SysPerm << Kind::LoginSysPerm;
        QTest::newRow("credentials") << QByteArray("-ERR [AUTH] bad password") << Code::Auth << Kind::LoginFailed;
        QTest::newRow("no code") << QByteArray("-ERR no") << Code::None << Kind::LoginFailed;
        QTest::newRow("unknown code") << QByteArray("-ERR [FOO] hm") << Code::Other << Kind::LoginFailed;
        QTest::newRow("escapes and a bell") << QByteArray("-ERR [IN-USE] \x1b[2J\x1b[31mred\x07\x9b") << Code::InUse
                                            << Kind::LoginInUse;
    }

    void refusals()
    {
        QFETCH(QByteArray, reply);
        QFETCH(Pop3Session::ResponseCode, code);
        QFETCH(Kind, kind);
        const Script capa = {"S: +OK ready <1.2@test>", "C: CAPA", "S: +OK", "S: TOP", "S: LOGIN-DELAY 900", "S: ."};
        ScriptedPop3Server server(capa + Script{"C: USER bob", "S: +OK", "C: PASS secret", "S: " + reply, "C: QUIT", "S: +OK"});
        QVERIFY(server.start());
        Pop3Session session;
        QVERIFY(Steps::open(session, server.server()));
        QCOMPARE(Steps::login(session, u"bob"_qs, u"secret"_qs), -1);
        QVERIFY(session.refused());
        QCOMPARE(session.responseCode(), code);
        QCOMPARE(session.loginDelaySeconds(), 900);
        QCOMPARE(session.error().code, kind);
        const QString said = session.error().serverReply;
        const bool clean = std::ranges::none_of(said, [](QChar c) { return c.category() == QChar::Other_Control; });
        QVERIFY2(said.startsWith(u"-ERR "_qs) && clean, qPrintable(said));
        QVERIFY2(server.waitForFinished() && server.failure().isEmpty(), qPrintable(server.failure()));
        QCOMPARE(server.received().last(), QByteArray("QUIT"));
    }

    // Every kind's text, in the order the kinds are declared, each given the same host and number; a
    // certificate's reasons and then the server's own line follow the sentence. A kind missing from
    // the table, or given another's text, shows here.
    void texts()
    {
        namespace T = Pop3Texts;
        const QString h = u"pop.example"_qs;
        // clang-format off
        const QStringList expected = {{}, T::badServerName(h), T::hostNotFound(h), T::connectFailed(h), T::connectionRefused(h),
            T::connectTimeout(7), T::replyTimeout(7), T::checkTimeout(7), T::cancelled, T::disconnected, T::lineTooLong,
            T::badReply, T::greetingRefused, u"サーバー「pop.example」の証明書を確認できなかったため、パスワードを送らずに中止しました。"_qs,
            T::certificateChanged(h), T::plainTextRefused(h), T::encryptionLost(h), u"暗号化通信（TLS）を開始できませんでした。（pop.example）"_qs,
            T::stlsRefused, T::stlsInjection, T::apopUnsupported, T::lineBreakInAccount, T::tokenNeedsTls(h), T::badToken,
            T::noTokenMechanism, T::tokenRefused, T::saslEndless(7), T::loginFailed, T::loginInUse, T::loginDelay,
            T::loginSysTemp, T::loginSysPerm, T::silentAfterLogin, T::statFailed, T::listInconsistent, T::notLoggedIn,
            T::numberOutOfRange(7), T::headerTooLarge(7), T::topFailed(7), u"メール7の本文を取得できませんでした。"_qs,
            T::deleteFailed(7), T::quitFailed, T::outOfStep, h};
        // clang-format on
        const QMetaEnum kinds = QMetaEnum::fromType<Kind>();
        QCOMPARE(expected.size(), kinds.keyCount());
        for (int k = 0; k < kinds.keyCount(); ++k)
            QCOMPARE(Pop3Error({Kind(kinds.value(k)), h, 7}).text(), expected[k]);
        const Pop3Error refused = {Kind::LoginSysTemp, {}, 0, u"期限切れです。"_qs, u"-ERR [SYS/TEMP] x"_qs};
        QCOMPARE(refused.text(), T::loginSysTemp + u"\n理由: 期限切れです。\nサーバーの応答: -ERR [SYS/TEMP] x"_qs);
    }

    void sessions()
    {
        QFETCH(Session, row);
        const bool honest = row.count >= 0 && row.failure == Failure::None;
        ScriptedPop3Server server(row.script, scriptedMailbox(numberedMessages(std::max(row.count, 0)), row.faults));
        server.useTls(m_tls.certificate, m_tls.key);
        const QString host = row.remote ? QStringLiteral("127.0.0.2") : QStringLiteral("127.0.0.1");
        QVERIFY(!row.server.isEmpty() || server.start(QHostAddress(host)));
        Pop3Options options;
        options.connectTimeoutMs = 1500;
        options.replyTimeoutMs = 1000;
        options.sessionTimeoutMs = row.sessionMs;
        options.perMessageTimeoutMs = 0;
        options.pipeliningOffered = row.remembered;
        options.extraTrustedCertificates = {m_tls.certificate};
        options.trust.treatAsRemote = {QStringLiteral("127.0.0.2")};
        options.trust.encrypted = row.tlsBefore ? QSet<QString>{host} : QSet<QString>{};
        options.trust.plainTextAllowed = row.plainAllowed ? QSet<QString>{host} : QSet<QString>{};
        Pop3Session session(options);
        if (row.cancelMs)
            QTimer::singleShot(row.cancelMs, [] { Pop3Connection::cancelAll(); });
        QElapsedTimer clock;
        clock.start();
        const QString scripted = (row.pop3s ? QStringLiteral("pop3s://") : QString()) + server.server();
        Steps::open(session, row.server.isEmpty() ? scripted : row.server); // an error is kept through the login
        QCOMPARE(session.refusal(), row.refusal);
        QCOMPARE(Steps::login(session, row.user, row.password, row.apop), row.faults.statClaims ? -1 : row.count);
        Pop3Connection::allowConnections();
        QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
        // Every header asked at once, as a check does; the deletions join from the handlers.
        QString first;
        int answered = 0;
        for (int k = 1; k <= row.count && session.state() == State::Transaction; ++k) {
            session.requestHeaders(k, [&](int number, const std::optional<MessageHeaders>& headers) {
                ++answered;
                if (number == 1 && headers)
                    first = headers->subject;
                if (headers && number % 10 == 7)
                    QVERIFY(session.remove(number));
            });
        }
        QList<QByteArray> copies; // asked behind the headers, one twice: each reaches its own request
        for (int k : row.count >= 3 ? QList<int>{1, 2, 3, 3} : QList<int>{})
            session.retrieve(
                k, [&copies](int, const std::optional<QByteArray>& bytes) { copies << bytes.value_or("none"); });
        QCOMPARE(Steps::close(session), honest);
        QVERIFY(honest || (!session.remove(1) && !session.requestHeaders(1, {})));
        QCOMPARE(session.failure(), row.failure);
        QVERIFY2(session.error() == row.error, qPrintable(session.errorText()));
        if (honest)
            QCOMPARE(first, row.count > 0 && row.error.isNone() ? u"会議 1"_qs : QString());
        QVERIFY(!honest || session.isPipelining());
        QCOMPARE(session.uniqueId(2), row.secondId);
        QVERIFY(!honest || session.hasUniqueIds() == (!row.secondId.isEmpty() || row.count == 0));
        QVERIFY2(server.waitForFinished() == row.server.isEmpty() && server.failure().isEmpty(),
                 qPrintable(server.failure()));
        const QList<QByteArray> received = server.received();
        const QByteArray sent = received.join('\n');
        QCOMPARE(sent.contains("USER") || sent.contains("PASS") || sent.contains("APOP"), row.count >= 0 || row.sent);
        QCOMPARE(received.contains("QUIT"), honest);
        QCOMPARE(session.quitSent(), honest && row.count >= 7); // a QUIT that commits deletions
        QVERIFY(received.size() < 2 * row.count + 20); // a lying count is not followed by a million requests
        if (honest && row.count >= 3) { // CAPA USER PASS STAT LIST UIDL, a TOP each, RETRs, DELEs, STAT QUIT
            const int deletions = row.count / 10 + (row.count % 10 >= 7);
            const QList<ScriptedMessage> m = numberedMessages(3);
            QCOMPARE(answered, row.count);
            QCOMPARE(session.deletionsConfirmed(), deletions);
            QCOMPARE(received.size(), 8 + row.count + 4 + deletions);
            QCOMPARE(copies, (QList<QByteArray>{m[0].bytes, m[1].bytes, m[2].bytes, m[2].bytes}));
        }
    }
};

QTEST_GUILESS_MAIN(TestPop3SessionScripted)
#include "tst_pop3session_scripted.moc"
