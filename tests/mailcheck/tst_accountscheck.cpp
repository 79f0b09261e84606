#include "DovecotServer.h"
#include "MailFixtures.h"
#include "RecordingWindows.h"
#include "mailcheck/MailScan.h"
#include "mailcheck/MessageJudge.h"
#include "settings/Settings.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using Kind = CheckOutcome::Kind;

namespace {
const QString Password = QStringLiteral("secret"), Keywords = QStringLiteral("★MailData/Tlxdata50.data");
const QStringList Spam{"spam offer", "店", "x@spam.example"}, Wanted{"お元気ですか", "友人", "friend@example.org"};

// A second account's section, as a user writes it.
QByteArray section(int id, const QString& name, const QString& server, const QString& user, const QString& extra = {})
{
    return QStringLiteral("[Account%1]\nName=%2\nServer=%3\nUser=%4\nPassword=%5\n%6\n")
        .arg(id)
        .arg(name, server, user, Password, extra)
        .toUtf8();
}

// Windows whose user takes a while over each question, counting the questions open at once.
class CountingWindows : public RecordingWindows
{
public:
    int open = 0, mostOpen = 0;
    void ask(const QString& text, bool trust, std::function<void(bool)> answered) override
    {
        calls << (trust ? "ask trust? " : "ask ") + text;
        mostOpen = std::max(mostOpen, ++open);
        QTimer::singleShot(300, &m_context, [this, answered] {
            --open;
            answered(false);
        });
    }

private:
    QObject m_context;
};
} // namespace

// Several accounts in one check: each cleaned and remembered on its own, told by name, announced once.
class TestAccountsCheck : public QObject
{
    Q_OBJECT

    std::unique_ptr<DovecotServer> m_server;
    std::unique_ptr<TestProgramFolder> m_folder;
    std::unique_ptr<SettingsModel> m_settings;
    int m_users = 0;
    QTemporaryDir m_sounds;

    QString mailbox(const QList<QStringList>& messages)
    {
        const QString user = QStringLiteral("several%1").arg(++m_users);
        return fillMailbox(*m_server, user, Password, messages) ? user : QString();
    }
    // How many messages are left, and that no spam is among them.
    qsizetype left(const QString& user) const
    {
        const QList<QByteArray> messages = m_server->messages(user);
        const QByteArray spam = mailMessage(Spam[0], Spam[1], Spam[2]);
        return messages.size() * (messages.contains(spam) ? 100 : 1);
    }

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE_DOVECOT();
        QString error;
        m_server = startTrustedDovecot(&error);
        QVERIFY2(m_server, qPrintable(error));
    }
    void init()
    {
        m_folder = std::make_unique<TestProgramFolder>();
        m_settings = std::make_unique<SettingsModel>();
        m_folder->write(Keywords, keywordFileBytes({"spam offer"}));
    }

    // Each account loses exactly its spam; a muted one is not announced, one that deletes nothing keeps
    // its spam, and the sound is the first account's in order that has news.
    void eachAccountOnItsOwn_data()
    {
        QTest::addColumn<QList<QStringList>>("firstMail");
        QTest::addColumn<QString>("extra");
        QTest::addColumn<int>("secondLeft");
        QTest::addColumn<QStringList>("calls");
        const QString ring = m_sounds.filePath("ring.wav"), sound = "Sound=" + ring;
        const QString notice = QStringLiteral("notice 新着メールがあります。 %1");
        QFile(ring).open(QIODevice::WriteOnly);
        const QList<QStringList> one{Spam, Wanted}, none{Spam};
        QTest::newRow("both announced") << one << QString() << 2 << QStringList{"scene", notice.arg(3)};
        QTest::newRow("second muted") << one << "Mute=1" << 2 << QStringList{"scene", notice.arg(1)};
        QTest::newRow("muted alone: nothing") << none << "Mute=1" << 2 << QStringList{};
        QTest::newRow("second deletes nothing") << one << "NoDelete=1" << 300 << QStringList{"scene", notice.arg(4)};
        QTest::newRow("first with news sounds") << one << sound << 2 << QStringList{"scene", notice.arg(3)};
        QTest::newRow("second's own sound") << none << sound << 2 << QStringList{"scene " + ring, notice.arg(2)};
    }
    void eachAccountOnItsOwn()
    {
        QFETCH(QList<QStringList>, firstMail);
        QFETCH(QString, extra);
        QFETCH(int, secondLeft);
        QFETCH(QStringList, calls);
        const QString first = mailbox(firstMail), second = mailbox({Spam, Wanted, Wanted});
        m_settings->setServer({}, m_server->plainServer(), {}, 0);
        m_folder->writeAccount(first, Password);
        m_folder->write("★MailData/accounts.ini", section(2, "二つ目", m_server->tlsServer(), second, extra));
        RecordingWindows windows;
        const CheckOutcome total = runCheck(windows, *m_settings);
        QCOMPARE(total.kind, Kind::Checked);
        QCOMPARE(left(first), firstMail.size() - 1);
        QCOMPARE(left(second), secondLeft);
        QCOMPARE(windows.calls.filter(QRegularExpression("^(scene|notice|hang)")), calls);
        QCOMPARE(total.accountLines.size(), 2);
        QVERIFY(total.accountLines.last().startsWith(QStringLiteral("二つ目: 残り")));
        QVERIFY(m_folder->exists("★MailData/seen.tsv") && m_folder->exists("★MailData/seen-2.tsv"));
        QStringList named; // each deletion's line names its account
        for (const HistoryEntry& entry : DeletionHistory::read())
            named << entry.account;
        named.sort();
        QCOMPARE(named, extra == "NoDelete=1" ? QStringList{"アカウント1"} : (QStringList{"アカウント1", "二つ目"}));
    }

    // A disabled first account is left alone, and the one checked alone still names its lines.
    void disabledFirstUntouched()
    {
        const QString first = mailbox({Spam, Wanted}), second = mailbox({Spam, Wanted});
        m_settings->setServer({}, m_server->plainServer(), {}, 0);
        m_folder->writeAccount(first, Password);
        m_folder->write("★MailData/ini.ini", "[Mossvale]\r\nAccount1Enabled=0\r\n");
        m_folder->write("★MailData/accounts.ini", section(2, "二つ目", m_server->plainServer(), second));
        RecordingWindows windows;
        QCOMPARE(runCheck(windows, *m_settings).kind, Kind::Checked);
        QCOMPARE(left(first), 200); // both messages, spam included
        QCOMPARE(left(second), 1);
        const QList<HistoryEntry> history = DeletionHistory::read();
        QVERIFY(history.size() == 1 && history.first().account == QStringLiteral("二つ目"));
        QFile::remove(m_folder->file("★MailData/accounts.ini")); // alone and disabled: not checked at all
        QCOMPARE(runCheck(windows, *m_settings).kind, Kind::NotConfigured);
        QCOMPARE(left(first), 200);
    }

    // An account that cannot be reached is told once, by name, and the other is cleaned as ever.
    void failingAccountSpoilsNothing()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString down = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
        closed.close();
        const QString first = mailbox({Spam, Wanted});
        m_settings->setServer({}, m_server->plainServer(), {}, 0);
        m_folder->writeAccount(first, Password);
        m_folder->write("★MailData/accounts.ini", section(2, "旧アドレス", down, "u"));
        RecordingWindows windows;
        const CheckOutcome total = runCheck(windows, *m_settings);
        QCOMPARE(total.kind, Kind::Checked);
        QCOMPARE(left(first), 1);
        QCOMPARE(total.troubled, QStringList{"旧アドレス"});
        QCOMPARE(windows.calls.filter("message").size(), 1);
        QVERIFY(windows.calls.filter("message").first().contains(QStringLiteral("アカウント「旧アドレス」")));
        QVERIFY(total.summary().contains(QStringLiteral("要確認: 旧アドレス")));
    }

    // Six accounts on a server that never answers: four connect, the rest wait; closing ends them all.
    void atMostFourConnections()
    {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        const QString server = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort());
        m_settings->setServer({}, server, {}, 0);
        m_folder->writeAccount("u", Password);
        QByteArray ini;
        for (int id = 2; id <= 6; ++id)
            ini += section(id, QString::number(id), server, "u");
        m_folder->write("★MailData/accounts.ini", ini);
        RecordingWindows windows;
        CheckRun run(windows, *m_settings, checkOptions());
        CheckOutcome ended;
        connect(&run, &CheckRun::finished, [&ended](const CheckOutcome& outcome) { ended = outcome; });
        run.start(false);
        QList<QTcpSocket*> connected;
        QTRY_COMPARE(silent.hasPendingConnections() ? (connected << silent.nextPendingConnection()).size() : connected.size(), 4);
        QTest::qWait(300);
        QVERIFY(!silent.hasPendingConnections());
        run.abort();
        QTRY_COMPARE(ended.kind, Kind::Cancelled);
        QCOMPARE(run.outcomes().size(), 6);
    }

    // Two accounts whose certificates fail: the user meets one question at a time, each naming its account.
    void oneQuestionAtATime()
    {
        m_settings->setServer({}, m_server->tlsServer(), {}, 0);
        m_folder->writeAccount("u", Password);
        m_folder->write("★MailData/accounts.ini", section(2, "二つ目", m_server->tlsServer(), "u"));
        Pop3Options untrusted = checkOptions();
        untrusted.extraTrustedCertificates.clear();
        CountingWindows windows;
        QCOMPARE(runCheck(windows, *m_settings, true, untrusted).kind, Kind::Insecure);
        QCOMPARE(windows.mostOpen, 1);
        QCOMPARE(windows.calls.filter(QStringLiteral("ask trust? アカウント「")).size(), 2);
    }

    // What memory says decides what is read, never what is deleted: a remembered message a keyword now
    // matches is read again; one whose size changed is new.
    void scanDecidesWhatIsRead()
    {
        const SeenStore::Messages previous{{"a", {10, "hello", "x@y.jp"}}, {"b", {20, "spam offer", "z@y.jp"}},
                                           {"c", {30, "cut", "w@y.jp", true}}};
        MailScan scan(previous, {{"a", 10}, {"b", 20}, {"c", 30}, {"a2", 5}, {"b", 21}}, true);
        QCOMPARE(scan.toRead(), (QList<int>{3, 4, 5}));
        const MessageJudge judge({"spam offer"}, false);
        QCOMPARE(scan.recall(&judge), QList<int>{2});
        QCOMPARE(scan.recalled(), 1);
        QCOMPARE(scan.read(2, {20, "spam offer", "z@y.jp"}, &judge), QStringLiteral("spam offer"));
        QCOMPARE(scan.freshCount(), 2); // a2 and the resized b
        scan.forget({2});
        QVERIFY(!scan.seen().contains("b") && scan.seen().contains("a"));
        QCOMPARE(MailScan(previous, {{"a", 10}}, false).toRead(), QList<int>{1}); // without ids nothing is known
    }
};

QTEST_MAIN(TestAccountsCheck)
#include "tst_accountscheck.moc"
