#include "maillib/Pop3Session.h"
#include "tests/support/DovecotServer.h"
#include "tests/support/Pop3Proxy.h"

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

QString textsOf(int number)
{
    return QStringLiteral("会議 %1|山田太郎 <taro%1@example.jp>|Mon, 1 Jan 2024 09:00:00 +0900").arg(number);
}

} // namespace

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
        if (trusted)
            options.extraTrustedCertificates = {m_server->certificate()};
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

    void logsInAndReadsHeaders_data()
    {
        QTest::addColumn<bool>("implicitTls");
        QTest::addColumn<bool>("apop");
        QTest::addColumn<bool>("pipelining");
        QTest::addColumn<int>("messages");
        QTest::addColumn<QString>("password");

        QTest::newRow("STLS, USER/PASS, pipelined") << false << false << true << 3 << Password;
        QTest::newRow("STLS, APOP, pipelined") << false << true << true << 3 << Password;
        QTest::newRow("POP3S, USER/PASS, pipelined") << true << false << true << 3 << Password;
        QTest::newRow("POP3S, APOP, one at a time") << true << true << false << 3 << Password;
        QTest::newRow("empty mailbox") << false << false << true << 0 << Password;
        QTest::newRow("wrong password") << false << false << true << 1 << QStringLiteral("wrong");
        QTest::newRow("wrong password, APOP") << true << true << false << 1 << QStringLiteral("wrong");
    }

    void logsInAndReadsHeaders()
    {
        QFETCH(bool, implicitTls);
        QFETCH(bool, apop);
        QFETCH(bool, pipelining);
        QFETCH(int, messages);
        QFETCH(QString, password);
        const QString user = newUser(messages);
        Pop3Session session(options(true, pipelining));
        QVERIFY2(session.open(implicitTls ? m_server->tlsServer() : m_server->plainServer()),
                 qPrintable(session.errorText()));
        QVERIFY(session.isEncrypted());
        QCOMPARE(session.isPipelining(), pipelining);
        const int count = session.login(user, password, apop);
        QCOMPARE(count, password == Password ? messages : -1);
        if (count < 0)
            QCOMPARE(session.errorText(),
                     QStringLiteral("ログインに失敗しました。ユーザーIDとパスワードを確認してください。\n"
                                    "サーバーの応答: -ERR [AUTH] Authentication failed."));
        for (int k = 1; k <= count; ++k) {
            const std::optional<MessageHeaders> headers = session.headers(k);
            QVERIFY2(headers, qPrintable(session.errorText()));
            QCOMPARE(headers->subject + u'|' + headers->sender + u'|' + headers->date, textsOf(k));
            const QByteArray raw = message(k);
            QCOMPARE(headers->rawHeader, QString::fromLatin1(raw.left(raw.indexOf("\r\n\r\n") + 4))); // TOP n 0
        }
        QVERIFY(!session.headers(count + 1));
        QVERIFY2(session.close(), qPrintable(session.errorText()));
        QCOMPARE(m_server->messages(user).size(), messages);
    }

    void untrustedCertificateStopsBeforeLogin()
    {
        for (const QString& server : {m_server->plainServer(), m_server->tlsServer()}) {
            Pop3Session session(options(false));
            QVERIFY(!session.open(server));
            QCOMPARE(session.failure(), Pop3Connection::Failure::Security);
            QVERIFY2(
                session.errorText().startsWith(QStringLiteral("サーバー「127.0.0.1」の証明書を確認できなかったため")) &&
                    session.errorText().contains(QStringLiteral("自己署名")),
                qPrintable(session.errorText()));
            QCOMPARE(session.login(newUser(1), Password, false), -1);
        }
    }

    // The same scan pipelined and one at a time gives the same texts and leaves the same
    // messages; a session dropped without QUIT (a lost link) deletes nothing. Every third message
    // is deleted before its header is asked for, while with pipelining its header request is
    // already on its way: that header must not be delivered.
    void deletesOnlyAtClose()
    {
        constexpr int Count = 40;
        QList<QStringList> seen;
        for (const int mode : {0, 1, 2}) { // pipelined, one at a time, dropped
            const QString user = newUser(Count);
            auto session = std::make_unique<Pop3Session>(options(true, mode == 0));
            QVERIFY(session->open(m_server->plainServer()));
            QCOMPARE(session->isPipelining(), mode == 0);
            QCOMPARE(session->login(user, Password, false), Count);
            QStringList texts;
            QList<QByteArray> all, kept;
            for (int k = 1; k <= Count; ++k) {
                if (k % 3 == 1 && k + 2 <= Count)
                    QVERIFY(session->remove(k + 2));
                const std::optional<MessageHeaders> headers = session->headers(k);
                texts << (headers ? headers->subject + u'|' + headers->sender + u'|' + headers->date
                                  : session->errorText());
                all << message(k);
                if (k % 3 != 0)
                    kept << message(k);
            }
            QCOMPARE(m_server->messages(user), all);
            if (mode == 2)
                session.reset();
            else
                QVERIFY2(session->close() && session->refusedDeletions().isEmpty(), qPrintable(session->errorText()));
            QCOMPARE(m_server->messages(user), mode == 2 ? all : kept);
            seen.append(texts);
        }
        QCOMPARE(seen.at(0), seen.at(1));
        QCOMPARE(seen.at(0), seen.at(2));
        QCOMPARE(seen.at(0).at(4), textsOf(5));
        QCOMPARE(seen.at(0).at(5), QStringLiteral("メール番号6はありません。"));
    }

    // Behind a gateway that repeats the reply to TOP 1 0, every later header would belong to the
    // message before: the session must notice before QUIT and delete nothing. Through the same
    // gateway without the fault, exactly the spam goes.
    void repeatedReplyDeletesNothing()
    {
        for (const QByteArray& repeated : {QByteArray("TOP 1 0"), QByteArray()}) {
            const QString user = newUser(0);
            const QList<QByteArray> mail = {message(1), "Subject: spam\r\n\r\nbuy\r\n", message(3), message(4)};
            for (const QByteArray& m : mail)
                QVERIFY(m_server->deliver(user, m));
            Pop3Proxy proxy(m_server->port(), repeated);
            Pop3Session session(options());
            QVERIFY2(session.open(proxy.server()), qPrintable(session.errorText()));
            QCOMPARE(session.login(user, Password, false), 4);
            for (int k = 1; k <= 4 && !session.isBroken(); ++k) {
                const std::optional<MessageHeaders> headers = session.headers(k);
                if (headers && headers->subject == QStringLiteral("spam"))
                    session.remove(k);
            }
            QCOMPARE(session.close(), repeated.isEmpty());
            QCOMPARE(m_server->messages(user), repeated.isEmpty() ? mail.mid(0, 1) + mail.mid(2) : mail);
        }
    }
};

QTEST_GUILESS_MAIN(TestPop3SessionDovecot)
#include "tst_pop3session_dovecot.moc"
