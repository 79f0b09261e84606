#include "maillib/NMail.h"
#include "maillib/Pop3Session.h"
#include "tests/support/DovecotServer.h"

#include <QTcpServer>
#include <QTest>
#include <memory>

namespace {

QByteArray message(const QByteArray& subject, const QByteArray& from)
{
    return "From: " + from + "\r\nSubject: " + subject + "\r\nDate: Tue, 2 Jan 2024 10:00:00 +0900\r\n\r\nbody\r\n";
}

} // namespace

// The NMail entry points, as the check cycle calls them, against a real Dovecot.
class TestNMail : public QObject
{
    Q_OBJECT

    std::unique_ptr<DovecotServer> m_server;

private Q_SLOTS:
    void initTestCase()
    {
        if (DovecotServer::binary().isEmpty())
            QSKIP("dovecot (/usr/sbin/dovecot) is not installed; POP3 tests need a real server");
        m_server = std::make_unique<DovecotServer>();
        QVERIFY2(m_server->start(), qPrintable(m_server->errorText()));
        NMailInitializeWinSock();
        QCOMPARE(NMailSetOption(1, 8192), 0);
        Pop3Options options;
        options.extraTrustedCertificates = {m_server->certificate()};
        Pop3Session::setDefaultOptions(options);
    }

    void cleanupTestCase() { NMailEndWinSock(); }

    void checksAndDeletesLikeTheCycle()
    {
        const QList<QByteArray> messages = {
            message("=?ISO-2022-JP?B?GyRCMnE1RBsoQg==?=", "=?ISO-2022-JP?B?GyRCOzNFREJATzobKEI=?= <taro@example.jp>"),
            message("=?Shift_JIS?B?h0CJ74tjgWA=?=", "spam@example.jp"), message("hello", "friend@example.jp")};
        const QString user = QStringLiteral("cycle");
        QVERIFY(m_server->addUser(user, QStringLiteral("secret")));
        for (const QByteArray& bytes : messages)
            QVERIFY(m_server->deliver(user, bytes));
        const int handle = NMailPop3Connect(m_server->plainServer());
        QCOMPARE(NMailPop3Authenticate(handle, user, QStringLiteral("secret"), -1), 3); // APOP
        QString subject, date, sender, header;
        const QStringList expected = {"会議|山田太郎 <taro@example.jp>", "①会議～|spam@example.jp",
                                      "hello|friend@example.jp"};
        for (int k = 1; k <= 3; ++k) {
            QCOMPARE(NMailPop3GetMailStatus(handle, k, subject, date, sender, header, 0), 0);
            QCOMPARE(subject + u'|' + sender, expected.at(k - 1));
            if (sender.contains(QStringLiteral("spam")))
                QCOMPARE(NMailPop3DeleteMail(handle, k), 0);
        }
        // A failed request empties the texts, so nothing of the previous message is compared again.
        QVERIFY(NMailPop3GetMailStatus(handle, 4, subject, date, sender, header, 0) < 0);
        QVERIFY(subject.isEmpty() && date.isEmpty() && sender.isEmpty() && header.isEmpty());
        QString text;
        int size = 0;
        NMailGetMessage(0, text, size);
        QCOMPARE(text, QStringLiteral("メール番号4はありません。"));
        // Texts are cut to the caller's buffer in cp932 bytes: 7 and the NUL.
        QCOMPARE(NMailSetOption(1, 8), 0);
        QCOMPARE(NMailPop3GetMailStatus(handle, 1, subject, date, sender, header, 0), 0);
        QCOMPARE(subject + u'|' + sender, QStringLiteral("会議|山田太")); // no half character
        QCOMPARE(NMailPop3Close(handle), 0);
        QCOMPARE(m_server->messages(user), (QList<QByteArray>{messages.at(0), messages.at(2)}));
        QCOMPARE(NMailPop3Close(handle), -1); // the handle is gone
    }

    // No connection gives -1. A certificate that fails still gives a handle, so that the login can
    // say why; the password never reaches the server.
    void failedConnectionsSayWhy()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 closedPort = probe.serverPort();
        probe.close();
        QCOMPARE(NMailPop3Connect(QStringLiteral("127.0.0.1:%1").arg(closedPort)), -1);
        QCOMPARE(NMailPop3Connect(QStringLiteral("bad name/with slash")), -1);
        QCOMPARE(NMailSetOption(1, 8192), 0);
        Pop3Session::setDefaultOptions(Pop3Options()); // the test server's certificate is not trusted
        QVERIFY(m_server->addUser(QStringLiteral("untrusting"), QStringLiteral("secret")));
        for (const QString& server : {m_server->plainServer(), m_server->tlsServer()}) {
            const int handle = NMailPop3Connect(server);
            QVERIFY(handle > 0);
            QVERIFY(NMailPop3Authenticate(handle, QStringLiteral("untrusting"), QStringLiteral("secret"), 0) < 0);
            QString text;
            int size = 0;
            NMailGetMessage(0, text, size);
            QVERIFY2(text.startsWith(QStringLiteral("サーバーの証明書を確認できなかったため、パスワードを送らずに")),
                     qPrintable(text));
            QCOMPARE(NMailPop3Close(handle), -1);
        }
        QVERIFY(!m_server->log().contains(QStringLiteral("user=<untrusting>")));
    }
};

QTEST_GUILESS_MAIN(TestNMail)
#include "tst_nmail.moc"
