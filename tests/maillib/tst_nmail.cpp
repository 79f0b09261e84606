#include "maillib/NMail.h"
#include "maillib/Pop3Session.h"
#include "tests/support/DovecotServer.h"

#include <QTcpServer>
#include <QTest>
#include <memory>

// The NMail entry points, as the check cycle calls them, against a real Dovecot.
class TestNMail : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void checksAndDeletesLikeTheCycle();
    void loginResults_data();
    void loginResults();
    void untrustedCertificateFailsAtLoginWithReason();
    void unreachableServerGivesMinusOne();
    void failedStatusEmptiesTheTexts();
    void textsAreCutToTheBufferSize();

private:
    QString newUser(const QList<QByteArray>& messages);
    void trustServer(bool trusted);

    std::unique_ptr<DovecotServer> m_server;
    int m_users = 0;
};

namespace {

const QString Password = QStringLiteral("secret");

QByteArray message(const QByteArray& subject, const QByteArray& from)
{
    return "From: " + from + "\r\nSubject: " + subject + "\r\nDate: Tue, 2 Jan 2024 10:00:00 +0900\r\n\r\nbody\r\n";
}

} // namespace

void TestNMail::initTestCase()
{
    if (DovecotServer::binary().isEmpty())
        QSKIP("dovecot (/usr/sbin/dovecot) is not installed; POP3 tests need a real server");
    m_server = std::make_unique<DovecotServer>();
    QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
    NMailInitializeWinSock();
    QCOMPARE(NMailSetOption(1, 8192), 0);
}

void TestNMail::cleanupTestCase()
{
    NMailEndWinSock();
    Pop3Session::setDefaultOptions(Pop3Options());
    m_server.reset();
}

void TestNMail::init()
{
    trustServer(true);
    NMailSetOption(1, 8192);
}

void TestNMail::trustServer(bool trusted)
{
    Pop3Options options;
    options.connectTimeoutMs = 5000;
    options.replyTimeoutMs = 5000;
    if (trusted)
        options.extraTrustedCertificates = {m_server->certificate()};
    Pop3Session::setDefaultOptions(options);
}

QString TestNMail::newUser(const QList<QByteArray>& messages)
{
    const QString user = QStringLiteral("nmail%1").arg(++m_users);
    if (!m_server->addUser(user, Password))
        return QString();
    for (const QByteArray& bytes : messages) {
        if (!m_server->deliver(user, bytes))
            return QString();
    }
    return user;
}

void TestNMail::checksAndDeletesLikeTheCycle()
{
    const QList<QByteArray> messages = {
        message("=?ISO-2022-JP?B?GyRCMnE1RBsoQg==?=", "=?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <taro@example.jp>"),
        message("=?Shift_JIS?B?h0CJ74tjgWA=?=", "spam@example.jp"), message("hello", "friend@example.jp")};
    const QString user = newUser(messages);
    const int handle = NMailPop3Connect(m_server->plainServer());
    QVERIFY(handle > 0);
    QCOMPARE(NMailPop3Authenticate(handle, user, Password, 0), 3);
    QString subject, date, sender, header;
    QStringList seen;
    for (int k = 1; k <= 3; ++k) {
        QCOMPARE(NMailPop3GetMailStatus(handle, k, subject, date, sender, header, 0), 0);
        seen << subject + u'|' + sender;
        if (sender.contains(QStringLiteral("spam")))
            QCOMPARE(NMailPop3DeleteMail(handle, k), 0);
    }
    QCOMPARE(seen, (QStringList{QStringLiteral("会議|山田太郎 <taro@example.jp>"),
                                QStringLiteral("①会議～|spam@example.jp"), QStringLiteral("hello|friend@example.jp")}));
    QCOMPARE(date, QStringLiteral("Tue, 2 Jan 2024 10:00:00 +0900"));
    QVERIFY(header.startsWith(QStringLiteral("From: friend@example.jp\r\n")));
    QCOMPARE(m_server->messages(user).size(), 3); // nothing gone before the close
    QCOMPARE(NMailPop3Close(handle), 0);
    QCOMPARE(m_server->messages(user), (QList<QByteArray>{messages.at(0), messages.at(2)}));
    QCOMPARE(NMailPop3Close(handle), -1); // the handle is gone
}

void TestNMail::loginResults_data()
{
    QTest::addColumn<int>("messages");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("apop");
    QTest::addColumn<int>("expected");
    QTest::newRow("USER/PASS") << 2 << Password << 0 << 2;
    QTest::newRow("APOP") << 2 << Password << -1 << 2;
    QTest::newRow("empty mailbox") << 0 << Password << 0 << 0;
    QTest::newRow("wrong password") << 1 << QStringLiteral("nope") << 0 << -1;
    QTest::newRow("wrong password, APOP") << 1 << QStringLiteral("nope") << -1 << -1;
}

void TestNMail::loginResults()
{
    QFETCH(int, messages);
    QFETCH(QString, password);
    QFETCH(int, apop);
    QFETCH(int, expected);
    const QString user = newUser(QList<QByteArray>(messages, message("x", "y@example.jp")));
    const int handle = NMailPop3Connect(m_server->plainServer());
    QVERIFY(handle > 0);
    const int count = NMailPop3Authenticate(handle, user, password, apop);
    QCOMPARE(count < 0 ? -1 : count, expected);
    if (count < 0) {
        QString text;
        int size = 8192;
        NMailGetMessage(0, text, size);
        QVERIFY2(text.startsWith(QStringLiteral("ログインに失敗しました。")), qPrintable(text));
        QVERIFY2(text.endsWith(QStringLiteral("-ERR [AUTH] Authentication failed.")), qPrintable(text));
    }
    QCOMPARE(NMailPop3Close(handle), 0);
}

void TestNMail::untrustedCertificateFailsAtLoginWithReason()
{
    trustServer(false);
    const QString user = newUser({});
    for (const QString& server : {m_server->plainServer(), m_server->tlsServer()}) {
        const int handle = NMailPop3Connect(server);
        QVERIFY(handle > 0);
        QVERIFY(NMailPop3Authenticate(handle, user, Password, 0) < 0);
        QString text;
        int size = 8192;
        NMailGetMessage(0, text, size);
        QVERIFY2(text.contains(QStringLiteral("証明書")) && text.contains(QStringLiteral("パスワードを送らずに")),
                 qPrintable(text));
        NMailPop3Close(handle);
    }
    QVERIFY(!m_server->log().contains(QStringLiteral("user=<%1>").arg(user)));
}

void TestNMail::unreachableServerGivesMinusOne()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 closedPort = probe.serverPort();
    probe.close();
    QCOMPARE(NMailPop3Connect(QStringLiteral("127.0.0.1:%1").arg(closedPort)), -1);
    QCOMPARE(NMailPop3Connect(QStringLiteral("bad name/with slash")), -1);
}

void TestNMail::failedStatusEmptiesTheTexts()
{
    const QString user = newUser({message("only", "a@example.jp")});
    const int handle = NMailPop3Connect(m_server->plainServer());
    QCOMPARE(NMailPop3Authenticate(handle, user, Password, 0), 1);
    QString subject, date, sender, header;
    QCOMPARE(NMailPop3GetMailStatus(handle, 1, subject, date, sender, header, 0), 0);
    QCOMPARE(subject, QStringLiteral("only"));
    QVERIFY(NMailPop3GetMailStatus(handle, 2, subject, date, sender, header, 0) < 0);
    QVERIFY(subject.isEmpty() && date.isEmpty() && sender.isEmpty() && header.isEmpty());
    QString text;
    int size = 8192;
    NMailGetMessage(0, text, size);
    QCOMPARE(text, QStringLiteral("メール番号2はありません。"));
    QVERIFY(NMailPop3GetMailStatus(handle + 100, 1, subject, date, sender, header, 0) < 0);
    QCOMPARE(NMailPop3Close(handle), 0);
}

void TestNMail::textsAreCutToTheBufferSize()
{
    const QString user = newUser({message("=?ISO-2022-JP?B?GyRCMnE1RBsoQg==?= 12345", "a@example.jp")});
    QCOMPARE(NMailSetOption(1, 8), 0); // 7 bytes and the NUL: "会議 12" in cp932
    const int handle = NMailPop3Connect(m_server->plainServer());
    QCOMPARE(NMailPop3Authenticate(handle, user, Password, 0), 1);
    QString subject, date, sender, header;
    QCOMPARE(NMailPop3GetMailStatus(handle, 1, subject, date, sender, header, 0), 0);
    QCOMPARE(subject, QStringLiteral("会議 12"));
    QCOMPARE(sender, QStringLiteral("a@examp"));
    QCOMPARE(NMailPop3Close(handle), 0);
}

QTEST_GUILESS_MAIN(TestNMail)
#include "tst_nmail.moc"
