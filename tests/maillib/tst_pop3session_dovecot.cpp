#include "maillib/Pop3Session.h"
#include "tests/support/DovecotServer.h"

#include <QTest>
#include <memory>

// Pop3Session against a real Dovecot on loopback: logins, headers, deletions, TLS.
class TestPop3SessionDovecot : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void logsInAndReadsHeaders_data();
    void logsInAndReadsHeaders();
    void wrongPasswordFailsWithServerText();
    void emptyMailboxCountsZero();
    void deletionTakesEffectOnlyAfterClose();
    void droppedSessionDeletesNothing();
    void untrustedCertificateStopsBeforeLogin_data();
    void untrustedCertificateStopsBeforeLogin();
    void pipeliningOnAndOffGiveIdenticalResults();
    void headerAfterDeletionIsRefused();

private:
    QString newUser(int messages);
    Pop3Options options(bool trusted = true, bool pipelining = true) const;

    std::unique_ptr<DovecotServer> m_server;
    int m_users = 0;
};

namespace {

const QString Password = QStringLiteral("p@ss word");

QByteArray message(int number)
{
    // A Japanese subject in ISO-2022-JP with the number, a UTF-8 display name.
    return "Return-Path: <spam@example.jp>\r\n"
           "From: =?UTF-8?B?5bGx55Sw5aSq6YOO?= <taro" +
           QByteArray::number(number) +
           "@example.jp>\r\n"
           "Subject: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?= " +
           QByteArray::number(number) +
           "\r\n"
           "Date: Mon, 1 Jan 2024 09:00:00 +0900\r\n"
           "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n"
           "Body line\r\n.leading dot\r\n";
}

QString subjectOf(int number)
{
    return QStringLiteral("会議 %1").arg(number);
}

} // namespace

void TestPop3SessionDovecot::initTestCase()
{
    if (DovecotServer::binary().isEmpty())
        QSKIP("dovecot (/usr/sbin/dovecot) is not installed; POP3 tests need a real server");
    m_server = std::make_unique<DovecotServer>();
    QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
}

void TestPop3SessionDovecot::cleanupTestCase()
{
    m_server.reset();
}

QString TestPop3SessionDovecot::newUser(int messages)
{
    const QString user = QStringLiteral("user%1").arg(++m_users);
    if (!m_server->addUser(user, Password))
        return QString();
    for (int i = 1; i <= messages; ++i) {
        if (!m_server->deliver(user, message(i)))
            return QString();
    }
    return user;
}

Pop3Options TestPop3SessionDovecot::options(bool trusted, bool pipelining) const
{
    Pop3Options options;
    options.connectTimeoutMs = 5000;
    options.replyTimeoutMs = 5000;
    options.allowPipelining = pipelining;
    if (trusted)
        options.extraTrustedCertificates = {m_server->certificate()};
    return options;
}

void TestPop3SessionDovecot::logsInAndReadsHeaders_data()
{
    QTest::addColumn<bool>("implicitTls");
    QTest::addColumn<bool>("apop");
    QTest::addColumn<bool>("pipelining");

    QTest::newRow("STLS, USER/PASS, pipelined") << false << false << true;
    QTest::newRow("STLS, APOP, pipelined") << false << true << true;
    QTest::newRow("STLS, USER/PASS, one at a time") << false << false << false;
    QTest::newRow("POP3S, USER/PASS, pipelined") << true << false << true;
    QTest::newRow("POP3S, APOP, one at a time") << true << true << false;
}

void TestPop3SessionDovecot::logsInAndReadsHeaders()
{
    QFETCH(bool, implicitTls);
    QFETCH(bool, apop);
    QFETCH(bool, pipelining);
    const QString user = newUser(3);
    QVERIFY(!user.isEmpty());

    Pop3Session session(options(true, pipelining));
    QVERIFY2(session.open(implicitTls ? m_server->tlsServer() : m_server->plainServer()),
             qPrintable(session.errorText()));
    QVERIFY(session.isEncrypted());
    QCOMPARE(session.isPipelining(), pipelining);
    const int count = session.login(user, Password, apop);
    QVERIFY2(count == 3, qPrintable(session.errorText()));
    for (int k = 1; k <= 3; ++k) {
        const std::optional<MessageHeaders> headers = session.headers(k);
        QVERIFY2(headers, qPrintable(session.errorText()));
        QCOMPARE(headers->subject, subjectOf(k));
        QCOMPARE(headers->sender, QStringLiteral("山田太郎 <taro%1@example.jp>").arg(k));
        QCOMPARE(headers->date, QStringLiteral("Mon, 1 Jan 2024 09:00:00 +0900"));
        QVERIFY(headers->rawHeader.startsWith(QStringLiteral("Return-Path: <spam@example.jp>\r\n")));
        QVERIFY(!headers->rawHeader.contains(QStringLiteral("Body line"))); // TOP n 0, not RETR
    }
    QVERIFY(session.close());
    QCOMPARE(m_server->messages(user).size(), 3);
}

void TestPop3SessionDovecot::wrongPasswordFailsWithServerText()
{
    const QString user = newUser(1);
    for (bool apop : {false, true}) {
        Pop3Session session(options());
        QVERIFY(session.open(m_server->plainServer()));
        QCOMPARE(session.login(user, QStringLiteral("wrong"), apop), -1);
        QVERIFY2(session.errorText().startsWith(QStringLiteral("ログインに失敗しました。")),
                 qPrintable(session.errorText()));
        QVERIFY2(session.errorText().contains(QStringLiteral("-ERR [AUTH]")), qPrintable(session.errorText()));
        QVERIFY(session.close());
    }
}

void TestPop3SessionDovecot::emptyMailboxCountsZero()
{
    const QString user = newUser(0);
    Pop3Session session(options());
    QVERIFY(session.open(m_server->plainServer()));
    QVERIFY2(session.login(user, Password, false) == 0, qPrintable(session.errorText()));
    QVERIFY(!session.headers(1));
    QVERIFY(session.close());
}

void TestPop3SessionDovecot::deletionTakesEffectOnlyAfterClose()
{
    const QString user = newUser(4);
    Pop3Session session(options());
    QVERIFY(session.open(m_server->plainServer()));
    QCOMPARE(session.login(user, Password, false), 4);
    for (int k = 1; k <= 4; ++k) {
        QVERIFY(session.headers(k));
        if (k == 2 || k == 3)
            QVERIFY(session.remove(k));
    }
    QCOMPARE(m_server->messages(user).size(), 4);
    QVERIFY2(session.close(), qPrintable(session.errorText()));
    QVERIFY(session.refusedDeletions().isEmpty());
    QCOMPARE(m_server->messages(user), (QList<QByteArray>{message(1), message(4)}));
}

void TestPop3SessionDovecot::droppedSessionDeletesNothing()
{
    const QString user = newUser(3);
    {
        Pop3Session session(options());
        QVERIFY(session.open(m_server->plainServer()));
        QCOMPARE(session.login(user, Password, false), 3);
        QVERIFY(session.headers(1));
        QVERIFY(session.remove(1));
        QVERIFY(session.headers(2));
        QVERIFY(session.remove(2));
    } // gone without QUIT, as when the link drops
    QCOMPARE(m_server->messages(user).size(), 3);
}

void TestPop3SessionDovecot::untrustedCertificateStopsBeforeLogin_data()
{
    QTest::addColumn<bool>("implicitTls");
    QTest::newRow("STLS") << false;
    QTest::newRow("POP3S") << true;
}

void TestPop3SessionDovecot::untrustedCertificateStopsBeforeLogin()
{
    QFETCH(bool, implicitTls);
    const QString server = implicitTls ? m_server->tlsServer() : m_server->plainServer();
    Pop3Session session(options(false));
    QVERIFY(!session.open(server));
    QCOMPARE(session.failure(), Pop3Connection::Failure::Security);
    QVERIFY2(session.errorText().startsWith(QStringLiteral("サーバーの証明書を確認できなかったため")),
             qPrintable(session.errorText()));
    QVERIFY2(session.errorText().contains(QStringLiteral("自己署名")), qPrintable(session.errorText()));
    QCOMPARE(session.login(newUser(1), Password, false), -1);
}

// The same scan (headers of every message, deletion of every third) with and without
// pipelining must give the same texts and leave the same messages.
void TestPop3SessionDovecot::pipeliningOnAndOffGiveIdenticalResults()
{
    constexpr int Count = 40;
    QList<QStringList> seen;
    QList<QList<QByteArray>> left;
    for (bool pipelining : {true, false}) {
        const QString user = newUser(Count);
        Pop3Session session(options(true, pipelining));
        QVERIFY(session.open(m_server->plainServer()));
        QCOMPARE(session.isPipelining(), pipelining);
        QCOMPARE(session.login(user, Password, false), Count);
        QStringList texts;
        for (int k = 1; k <= Count; ++k) {
            const std::optional<MessageHeaders> headers = session.headers(k);
            QVERIFY(headers);
            texts << headers->subject + u'|' + headers->sender;
            if (k % 3 == 0)
                QVERIFY(session.remove(k));
        }
        QVERIFY(session.close());
        seen.append(texts);
        left.append(m_server->messages(user));
    }
    QCOMPARE(seen.at(0), seen.at(1));
    QCOMPARE(seen.at(0).at(4), subjectOf(5) + QStringLiteral("|山田太郎 <taro5@example.jp>"));
    QCOMPARE(left.at(0), left.at(1));
    QCOMPARE(left.at(0).size(), Count - Count / 3);
}

void TestPop3SessionDovecot::headerAfterDeletionIsRefused()
{
    for (bool pipelining : {true, false}) {
        const QString user = newUser(5);
        Pop3Session session(options(true, pipelining));
        QVERIFY(session.open(m_server->plainServer()));
        QCOMPARE(session.login(user, Password, false), 5);
        QVERIFY(session.headers(1)); // with pipelining, 2 to 5 are on their way now
        QVERIFY(session.remove(3));
        QVERIFY(session.headers(2));
        QVERIFY(!session.headers(3));
        QVERIFY2(session.errorText().startsWith(QStringLiteral("メール3のヘッダーを取得できませんでした。")),
                 qPrintable(session.errorText()));
        QCOMPARE(session.headers(4)->subject, subjectOf(4));
        QVERIFY(session.close());
    }
}

QTEST_GUILESS_MAIN(TestPop3SessionDovecot)
#include "tst_pop3session_dovecot.moc"
