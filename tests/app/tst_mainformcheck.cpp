#include "../mailcheck/MailFixtures.h"
#include "ScriptedPop3Server.h"
#include "app/MainForm.h"
#include "app/SignalBridge.h"
#include "mailcheck/MsgForm.h"
#include "maillib/NMail.h"
#include "platform/MessageBox.h"
#include "settings/IdPassForm.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <csignal>

// The whole program checking a real Dovecot: timed checks, triggers that must not nest, the
// account of the run, and a window that stays alive while a check waits.
class TestMainFormCheck : public QObject
{
    Q_OBJECT

    std::unique_ptr<DovecotServer> m_server;
    std::unique_ptr<TestProgramFolder> m_folder;
    int m_users = 0;

    QString mailbox(const QList<QStringList>& messages, const QString& password = QStringLiteral("secret"))
    {
        const QString user = QStringLiteral("prog%1").arg(++m_users);
        if (!fillMailbox(*m_server, user, QStringLiteral("secret"), messages))
            return {};
        m_folder->writeAccount(user, password);
        return user;
    }
    qsizetype logins(const QString& user) const { return loginsOf(*m_server, user); }

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE_DOVECOT();
        QString error;
        m_server = startTrustedDovecot(&error);
        QVERIFY2(m_server, qPrintable(error));
    }
    void cleanupTestCase() { m_server.reset(); }
    void init()
    {
        MessageBox::reset();
        m_folder = std::make_unique<TestProgramFolder>(true, true);
        m_folder->writeServer(m_server->plainServer());
    }

    void timedCheckRunsByItself()
    {
        const QString user = mailbox({{"未承諾広告※ 激安", "店", "shop@spam.example"},
                                      {"会議の件", "佐藤", "sato@example.jp"},
                                      {"当選しました", "懸賞事務局", "win@lottery.example"}});
        m_folder->write("★MailData/Tlxdata50.data", keywordFileBytes({"未承諾広告※", "lottery.example"}));
        m_folder->write(GeneralFile, "[EXEINI]\r\nNUMBER2=1\r\nNUMBER5=1\r\n");
        MainForm form;
        form.setMailOptions(checkOptions());
        form.show();
        form.Timer3->setInterval(5); // sixty-one ticks make a minute: let them come quickly
        QTRY_VERIFY_WITH_TIMEOUT(form.lastCheck().messages == 3, 10000);
        QCOMPARE(m_server->messages(user).size(), 1);
        QCOMPARE(form.msgForm().get()->Text2->text(), QStringLiteral("1"));
        QVERIFY(!form.Command5->isEnabled()); // the event scene is on
        QCOMPARE(form.trigger().minutes(), 0);
        QCOMPARE(form.Text7->text(), QStringLiteral("1")); // the interval stays on show
    }

    // A double click, and presses of the button and the menu while a check runs (here while the
    // notice board waits its second), start no check of their own and are not queued either; a
    // refused login keeps its box.
    void pressesDuringACheckAreDropped()
    {
        const QString refused = mailbox({{"a", "a", "a@a.jp"}}, QStringLiteral("wrong"));
        MainForm form;
        form.setMailOptions(checkOptions());
        form.show();
        QTest::mouseClick(form.Command6, Qt::LeftButton); // a double click: the second press is dropped
        QTest::mouseClick(form.Command6, Qt::LeftButton);
        QVERIFY(form.isChecking());
        QTRY_VERIFY(!form.isChecking());
        QTRY_COMPARE(MessageBox::shown().size(), 1);
        QCOMPARE(MessageBox::shown().first().caption, QStringLiteral("エラー"));
        QCOMPARE(logins(refused), 0);

        const QString user = mailbox({{"a", "a", "a@a.jp"}});
        form.settings().setNewMailAction(NewMailAction::NoticeBoard);
        form.settings().setAutoCloseNotice(true);
        int pressesDuringCheck = 0;
        QTimer presser;
        connect(&presser, &QTimer::timeout, &form, [&] {
            pressesDuringCheck += form.isChecking() ? 1 : 0;
            QTest::mouseClick(form.Command6, Qt::LeftButton);
            form.mcheck->trigger();
        });
        connect(&form, &MainForm::checkEnded, &presser, &QTimer::stop);
        form.Command6_Click();
        presser.start(100);
        QTRY_VERIFY_WITH_TIMEOUT(!form.isChecking(), 10000);
        QTest::qWait(300); // a queued press would start a check now
        QVERIFY(!form.isChecking());
        QVERIFY(pressesDuringCheck >= 5);
        QCOMPARE(logins(user), 1);
        QVERIFY(!form.msgForm().isLoaded()); // the board closed itself after its second
    }

    // The account confirmed with OK but not saved is what the checks of the run use. The notice
    // board they show asks the window system not to take the keys (offscreen ignores that).
    void confirmedAccountServesTheRun()
    {
        const QString user = mailbox({{"a", "a", "a@a.jp"}}, QStringLiteral("stale"));
        m_folder->write(GeneralFile, "[EXEINI]\r\nNUMBER5=1\r\n");
        MainForm form;
        form.setMailOptions(checkOptions());
        form.show();
        IdPassForm* account = form.idPassForm().show();
        account->PassText->setText(QStringLiteral("secret"));
        account->OKCommand->click();
        for (int check = 1; check <= 2; ++check) {
            form.Command6_Click();
            QTRY_VERIFY(!form.isChecking());
            QTRY_COMPARE(logins(user), check);
        }
        QVERIFY(m_folder->read(AccountFile).contains("NAME2=stale")); // not saved: the box was unticked
        MsgForm* board = form.msgForm().loaded();
        QVERIFY(board->isVisible() && board->testAttribute(Qt::WA_ShowWithoutActivating));
        QVERIFY(board->windowHandle()->flags().testFlag(Qt::WindowDoesNotAcceptFocus));
    }

    // While the check waits on a server that never answers, the window's timers run and it shows
    // that a check is going on; SIGTERM ends the check at once, without QUIT, so nothing is deleted.
    // Last: it ends the application's event loop.
    void aliveDuringCheckAndEndsOnSignal()
    {
        ScriptedPop3Server server({"S: +OK ready", "C: CAPA", "S: -ERR", "C: USER u", "S: +OK", "C: PASS p", "S: +OK",
                                   "C: STAT", "S: +OK 1 100", "C: LIST", "S: -ERR", "C: UIDL", "S: -ERR", "C: TOP 1 0",
                                   "W: 20000"});
        QVERIFY(server.start());
        m_folder->writeAccount("u", "p");
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
        QTRY_VERIFY_WITH_TIMEOUT(!form.isChecking(), 10000);
        const qint64 afterSignal = sinceSignal.isValid() ? sinceSignal.elapsed() : -1;
        ticker.stop();
        NMailInitializeWinSock();
        QVERIFY2(shown.size() >= 20 && shown.contains(QStringLiteral("確認中…")), qPrintable(shown.join(u'|')));
        QVERIFY2(afterSignal >= 0 && afterSignal < 1000, qPrintable(QString::number(afterSignal)));
        QCOMPARE(form.lastCheck().kind, CheckOutcome::Kind::Cancelled);
        QVERIFY(server.waitForFinished());
        QVERIFY(!server.received().contains("QUIT"));
    }
};

QTEST_MAIN(TestMainFormCheck)
#include "tst_mainformcheck.moc"
