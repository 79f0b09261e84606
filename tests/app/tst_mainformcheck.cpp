#include "../mailcheck/MailFixtures.h"
#include "DovecotServer.h"
#include "ScriptedPop3Server.h"
#include "TestProgramFolder.h"
#include "app/MainForm.h"
#include "app/SignalBridge.h"
#include "mailcheck/MsgForm.h"
#include "maillib/NMail.h"
#include "maillib/Pop3Session.h"
#include "platform/MessageBox.h"
#include "settings/IdPassForm.h"
#include "settings/SetForm.h"
#include "settings/SettingsFiles.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <csignal>
#include <memory>

// The whole program checking a real Dovecot: timed checks, and triggers that must not nest.
class TestMainFormCheck : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void timedCheckRunsByItself();
    void noNestedCheckDuringErrorMessage();
    void noNestedCheckDuringNoticeWait();
    void confirmedAccountServesTheRun();
    void aliveDuringCheckAndEndsOnSignal(); // last: it ends the application's event loop

private:
    QString mailbox(const QList<QStringList>& messages, const QString& password = QStringLiteral("secret"));
    qsizetype logins(const QString& user) const;

    std::unique_ptr<DovecotServer> m_server;
    std::unique_ptr<TestProgramFolder> m_folder;
    int m_users = 0;
};

void TestMainFormCheck::initTestCase()
{
    MOSSVALE_REQUIRE_DOVECOT();
    QString error;
    m_server = startTrustedDovecot(&error);
    QVERIFY2(m_server, qPrintable(error));
}

void TestMainFormCheck::cleanupTestCase()
{
    m_server.reset();
}

void TestMainFormCheck::init()
{
    MessageBox::reset();
    m_folder = std::make_unique<TestProgramFolder>(true, true);
    m_folder->write("tolvex.ini", "SMTP=\r\nPOP3=" + m_server->plainServer().toLatin1() + "\r\nMAIL=\r\nAPOP=0\r\n");
}

QString TestMainFormCheck::mailbox(const QList<QStringList>& messages, const QString& password)
{
    const QString user = QStringLiteral("prog%1").arg(++m_users);
    if (!fillMailbox(*m_server, user, QStringLiteral("secret"), messages))
        return {};
    writeAccount(*m_folder, user, password);
    return user;
}

qsizetype TestMainFormCheck::logins(const QString& user) const
{
    return m_server->log().count(QStringLiteral("Login: user=<%1>").arg(user));
}

void TestMainFormCheck::timedCheckRunsByItself()
{
    const QString user = mailbox({{"未承諾広告※ 激安", "店", "shop@spam.example"},
                                  {"会議の件", "佐藤", "sato@example.jp"},
                                  {"Lunch?", "Bob", "bob@example.com"},
                                  {"当選しました", "懸賞事務局", "win@lottery.example"}});
    m_folder->write("★MailData/Tlxdata50.data", keywordFileBytes({"未承諾広告※", "lottery.example"}));
    m_folder->write("★MailData/ini.ini", "[EXEINI]\r\nNUMBER2=1\r\nNUMBER5=1\r\n");
    MainForm form;
    form.setMailOptions(checkOptions());
    form.show();
    QVERIFY(form.Timer3->isActive());
    // Sixty-one ticks make a minute; let them come quickly instead of once a second.
    form.Timer3->setInterval(5);
    QTRY_VERIFY_WITH_TIMEOUT(form.lastCheck().messages == 4, 10000);
    QCOMPARE(form.lastCheck().deleted, 2);
    QCOMPARE(m_server->messages(user).size(), 2);
    QVERIFY(form.msgForm().isLoaded());
    QCOMPARE(form.msgForm().get()->Text2->text(), QStringLiteral("2"));
    QCOMPARE(form.msgForm().get()->Text1->text(), QStringLiteral("新着メールがあります。"));
    QVERIFY(!form.Command5->isEnabled()); // the event scene is on
    QVERIFY(form.Command12->isEnabled());
    QCOMPARE(form.trigger().minutes(), 0);
    QCOMPARE(form.Text7->text(), QStringLiteral("1")); // the interval stays on show
}

void TestMainFormCheck::noNestedCheckDuringErrorMessage()
{
    const QString user = mailbox({{"a", "a", "a@a.jp"}}, QStringLiteral("wrong"));
    MainForm form;
    form.setMailOptions(checkOptions());
    form.show();
    // While the error box is open, the button and the interval poll both fire.
    MessageBox::setNextAnswer(MessageBox::Ok, [&form] {
        QTest::mouseClick(form.Command6, Qt::LeftButton);
        form.mcheck->trigger();
        QVERIFY(form.isChecking());
    });
    QTest::mouseClick(form.Command6, Qt::LeftButton);
    QCOMPARE(MessageBox::shown().size(), 1);
    QCOMPARE(MessageBox::shown().first().caption, QStringLiteral("エラー"));
    QVERIFY(!form.isChecking());
}

void TestMainFormCheck::noNestedCheckDuringNoticeWait()
{
    const QString user = mailbox({{"a", "a", "a@a.jp"}});
    m_folder->write("★MailData/ini.ini", "[EXEINI]\r\nNUMBER4=1\r\nNUMBER5=1\r\n");
    MainForm form;
    form.setMailOptions(checkOptions());
    form.show();
    // While the notice board waits its second, the button is pressed again and again.
    int pressesDuringCheck = 0;
    QTimer presser;
    presser.setInterval(100);
    connect(&presser, &QTimer::timeout, &form, [&] {
        if (form.isChecking())
            ++pressesDuringCheck;
        QTest::mouseClick(form.Command6, Qt::LeftButton);
    });
    presser.start();
    form.Command6_Click();
    presser.stop();
    QVERIFY(pressesDuringCheck >= 5);
    QCOMPARE(logins(user), 1);           // none of them started a check of its own
    QVERIFY(!form.msgForm().isLoaded()); // the board closed itself after its second
    QCOMPARE(form.lastCheck().messages, 1);
}

// The account confirmed with OK but not saved is what the checks of the run use. The notice board
// they show asks the window system not to take the keys (the offscreen platform ignores that).
void TestMainFormCheck::confirmedAccountServesTheRun()
{
    const QString user = mailbox({{"a", "a", "a@a.jp"}}, QStringLiteral("stale"));
    m_folder->write("★MailData/ini.ini", "[EXEINI]\r\nNUMBER5=1\r\n");
    MainForm form;
    form.setMailOptions(checkOptions());
    form.show();
    IdPassForm* account = form.idPassForm().show();
    account->PassText->setText(QStringLiteral("secret"));
    account->OKCommand->click();
    for (int check = 1; check <= 2; ++check) {
        form.Command6_Click();
        QCOMPARE(logins(user), check);
    }
    QVERIFY(m_folder->read(AccountFile).contains("NAME2=stale")); // not saved: the box was unticked
    QCOMPARE(form.idPassForm().show()->PassText->text(), QStringLiteral("secret"));
    MsgForm* board = form.msgForm().loaded();
    QVERIFY(board->isVisible() && board->testAttribute(Qt::WA_ShowWithoutActivating));
    QVERIFY(board->windowHandle()->flags().testFlag(Qt::WindowDoesNotAcceptFocus)); // kept on top and all
}

// While the check waits on a server that never answers, the window's timers run and it shows that
// a check is going on; SIGTERM ends the check at once, without QUIT, so nothing is deleted.
void TestMainFormCheck::aliveDuringCheckAndEndsOnSignal()
{
    ScriptedPop3Server server({"S: +OK ready", "C: CAPA", "S: -ERR", "C: USER u", "S: +OK", "C: PASS p", "S: +OK",
                               "C: STAT", "S: +OK 1 100", "C: LIST", "S: -ERR", "C: UIDL", "S: -ERR", "C: TOP 1 0",
                               "W: 20000"});
    QVERIFY(server.start());
    writeAccount(*m_folder, "u", "p");
    MainForm form;
    SignalBridge bridge;
    connect(&bridge, &SignalBridge::terminationRequested, &form, &MainForm::close);
    form.settings().setServer({}, server.server(), {}, 0);
    form.show();
    QStringList shown;
    QElapsedTimer sinceSignal;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, &form, [&] {
        shown << form.StatusLabel->text();
        if (shown.size() == 20) {
            sinceSignal.start();
            ::raise(SIGTERM);
        }
    });
    ticker.start(50);
    form.Command6_Click(); // the default reply time-out is 20 s
    const qint64 afterSignal = sinceSignal.isValid() ? sinceSignal.elapsed() : -1;
    ticker.stop();
    NMailInitializeWinSock();
    QVERIFY2(shown.size() >= 20 && shown.contains(QStringLiteral("確認中…")), qPrintable(shown.join(u'|')));
    QVERIFY2(afterSignal >= 0 && afterSignal < 1000, qPrintable(QString::number(afterSignal)));
    QCOMPARE(form.lastCheck().kind, CheckOutcome::Kind::Cancelled);
    QVERIFY(server.waitForFinished());
    QVERIFY(!server.received().contains("QUIT"));
}

QTEST_MAIN(TestMainFormCheck)
#include "tst_mainformcheck.moc"
