#include "maillib/Pop3Session.h"
#include "tests/support/DovecotServer.h"
#include "tests/support/Pop3Proxy.h"
#include "tests/support/SessionSteps.h"
#include "tests/support/TestCertificate.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

const QString Password = QStringLiteral("p@ss word");

// A Japanese subject in ISO-2022-JP with the number, a UTF-8 display name.
QByteArray message(int number)
{
    const QByteArray n = QByteArray::number(number);
    return "Return-Path: <spam@example.jp>\r\nFrom: =?UTF-8?B?5bGx55Sw5aSq6YOO?= <taro" + n +
           "@example.jp>\r\nSubject: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?= " + n +
           "\r\nDate: Mon, 1 Jan 2024 09:00:00 +0900\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n"
           "Body line\r\n.leading dot\r\n";
}

struct Login
{
    const char* name;
    // dropped: the session ends without QUIT, as on a lost link
    bool implicitTls = false, apop = false, pipelining = true, wrongPassword = false, dropped = false;
    int messages = 7;
};

} // namespace

Q_DECLARE_METATYPE(Login)

// Pop3Session against a real Dovecot on loopback: logins, headers, deletions, TLS.
class TestPop3SessionDovecot : public QObject
{
    Q_OBJECT

    std::unique_ptr<DovecotServer> m_server;
    int m_users = 0;

    QString newUser(int messages)
    {
        const QString user = QStringLiteral("user%1").arg(++m_users);
        bool ok = m_server->addUser(user, Password);
        for (int i = 1; i <= messages; ++i)
            ok = ok && m_server->deliver(user, message(i));
        return ok ? user : QString();
    }

    Pop3Options options(bool trusted = true, bool pipelining = true) const
    {
        Pop3Options options;
        options.allowPipelining = pipelining;
        options.extraTrustedCertificates = trusted ? QList{m_server->certificate()} : QList<QSslCertificate>();
        return options;
    }

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE_DOVECOT();
        m_server = std::make_unique<DovecotServer>();
        QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
    }

    void cleanupTestCase() { m_server.reset(); }

    // Every header is asked at once and every third message deleted from its handler. Pipelined and
    // one at a time read the same texts; the server deletes only at QUIT, and nothing when the
    // session is dropped.
    void logsInReadsAndDeletes_data()
    {
        QTest::addColumn<Login>("row");
        // clang-format off
        const QList<Login> rows = {
            {.name = "STLS, USER/PASS, pipelined"},
            {.name = "POP3S, USER/PASS", .implicitTls = true},
            {.name = "POP3S, APOP, one at a time", .implicitTls = true, .apop = true, .pipelining = false},
            {.name = "empty mailbox", .messages = 0},
            {.name = "wrong password", .wrongPassword = true, .messages = 0},
            {.name = "dropped, pipelined", .dropped = true},
        };
        // clang-format on
        for (const Login& row : rows)
            QTest::newRow(row.name) << row;
    }

    void logsInReadsAndDeletes()
    {
        QFETCH(Login, row);
        const QString user = newUser(row.messages);
        auto session = std::make_unique<Pop3Session>(options(true, row.pipelining));
        QVERIFY2(SessionSteps::open(*session, row.implicitTls ? m_server->tlsServer() : m_server->plainServer()),
                 qPrintable(session->errorText()));
        QVERIFY(session->isEncrypted());
        QCOMPARE(session->isPipelining(), row.pipelining);
        const int count =
            SessionSteps::login(*session, user, row.wrongPassword ? QStringLiteral("wrong") : Password, row.apop);
        QCOMPARE(count, row.wrongPassword ? -1 : row.messages);
        QCOMPARE(session->refused(), row.wrongPassword);
        if (count < 0)
            QCOMPARE(session->errorText(), u"ログインに失敗しました。ユーザーIDとパスワードを確認してください。\n"
                                           u"サーバーの応答: -ERR [AUTH] Authentication failed."_qs);
        QList<QByteArray> all, kept;
        QStringList read;
        for (int k = 1; k <= count; ++k) {
            session->requestHeaders(k, [&](int n, const std::optional<MessageHeaders>& headers) {
                read << (headers ? headers->subject + u'|' + headers->sender + u'|' + headers->date
                                 : session->errorText());
                if (n % 3 == 0)
                    session->remove(n);
            });
            all << message(k);
            if (k % 3)
                kept << message(k);
        }
        QVERIFY(QTest::qWaitFor([&] { return read.size() == std::max(count, 0); }));
        for (int k = 1; k <= count; ++k)
            QCOMPARE(read.at(k - 1),
                     QStringLiteral("会議 %1|山田太郎 <taro%1@example.jp>|Mon, 1 Jan 2024 09:00:00 +0900").arg(k));
        QCOMPARE(m_server->messages(user), all);
        if (row.dropped || row.wrongPassword)
            session.reset();
        else
            QVERIFY2(SessionSteps::close(*session) && session->refusedDeletions().isEmpty(),
                     qPrintable(session->errorText()));
        QCOMPARE(m_server->messages(user), row.dropped ? all : kept);
    }

    // A certificate that fails verification, or any other than the one pinned for the host (even
    // one a trusted issuer signed), stops the session before the password.
    void untrustedCertificateStopsBeforeLogin()
    {
        const qsizetype logins = m_server->log().count(QStringLiteral("Login:"));
        QTemporaryDir dir;
        TestCertificate other;
        QVERIFY(other.make(dir.path()).isEmpty());
        for (const QString& server : {m_server->plainServer(), m_server->tlsServer()}) {
            Pop3Options pinnedElsewhere = options(true);
            pinnedElsewhere.trust.pinned.insert(QStringLiteral("127.0.0.1"), other.certificate);
            Pop3Session pinned(pinnedElsewhere);
            QVERIFY(!SessionSteps::open(pinned, server));
            QCOMPARE(pinned.failure(), Pop3Connection::Failure::Security);
            QVERIFY2(pinned.errorText().contains(u"信頼すると決めた証明書から変わっています"_qs),
                     qPrintable(pinned.errorText()));
            Pop3Session session(options(false));
            QVERIFY(!SessionSteps::open(session, server));
            QCOMPARE(session.failure(), Pop3Connection::Failure::Security);
            QCOMPARE(session.refusal(), Pop3Session::Refusal::Certificate);
            const QRegularExpression text(u"^サーバー「127.0.0.1」の証明書を確認できなかったため[\\s\\S]*自己署名"_qs);
            QVERIFY2(text.match(session.errorText()).hasMatch(), qPrintable(session.errorText()));
            QCOMPARE(SessionSteps::login(session, newUser(1), Password), -1);
        }
        QCOMPARE(m_server->log().count(QStringLiteral("Login:")), logins);
    }

    // Behind a gateway that repeats the reply to TOP 1 0, every later header would belong to the
    // message before: the session must notice before QUIT and delete nothing of what it read.
    void repeatedReplyDeletesNothing()
    {
        const QString user = newUser(4);
        Pop3Proxy proxy(m_server->port(), "TOP 1 0");
        Pop3Session session(options());
        QVERIFY2(SessionSteps::open(session, proxy.server()), qPrintable(session.errorText()));
        QCOMPARE(SessionSteps::login(session, user, Password), 4);
        for (int k = 1; k <= 4; ++k)
            session.requestHeaders(k, [&session](int n, const std::optional<MessageHeaders>& headers) {
                if (headers)
                    session.remove(n);
            });
        QVERIFY(!SessionSteps::close(session));
        QCOMPARE(session.failure(), Pop3Connection::Failure::Protocol);
        QVERIFY(proxy.requests().contains("TOP 1 0") && !proxy.requests().contains("QUIT"));
        QCOMPARE(m_server->messages(user).size(), 4);
    }
};

QTEST_GUILESS_MAIN(TestPop3SessionDovecot)
#include "tst_pop3session_dovecot.moc"
