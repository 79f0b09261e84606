#include "../mailcheck/MailFixtures.h"
#include "app/MainForm.h"
#include "platform/MessageBox.h"
#include "settings/IdPassForm.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// The whole program checking a real Dovecot: a double click that checks once, and the account of the
// run. The timed check's ticks are tst_checktriggers', what it deletes and shows e2e_check's.
class TestMainFormCheck : public QObject
{
    Q_OBJECT

    std::unique_ptr<DovecotServer> m_server;
    std::unique_ptr<TestProgramFolder> m_folder;
    int m_users = 0;

    // A mailbox with one message whose password is "secret", and the account with password.
    QString mailbox(const QString& password)
    {
        const QString user = QStringLiteral("prog%1").arg(++m_users);
        if (!fillMailbox(*m_server, user, QStringLiteral("secret"), {{"a", "a", "a@a.jp"}}))
            return {};
        m_folder->writeAccount(user, password);
        return user;
    }

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

    // A double click starts one check (the button, the menu item and the tray's item are off while it
    // runs); a refused login keeps its box. Closing, presses during a check and signals are proved on
    // the real desktop (e2e_responsive).
    void doubleClickChecksOnce()
    {
        const QString refused = mailbox(QStringLiteral("wrong"));
        MainForm form;
        form.setMailOptions(checkOptions());
        form.show();
        QTest::mouseClick(form.Command6, Qt::LeftButton);
        const auto off = [&form] {
            return !form.Command6->isEnabled() + !form.mcheck->isEnabled() + !form.mtraycheck->isEnabled();
        };
        QVERIFY(form.isChecking() && off() == 3);
        QTest::mouseClick(form.Command6, Qt::LeftButton);
        form.mcheck->trigger();
        QTRY_VERIFY(!form.isChecking());
        QCOMPARE(off(), 0);
        QTRY_COMPARE(MessageBox::shown().size(), 1);
        QCOMPARE(MessageBox::shown().first().caption, QStringLiteral("エラー"));
        QCOMPARE(m_server->log().count(QStringLiteral("user=<%1>").arg(refused)), 1);
    }

    // The account confirmed with OK but not saved is what the checks of the run use.
    void confirmedAccountServesTheRun()
    {
        const QString user = mailbox(QStringLiteral("stale"));
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
            QTRY_COMPARE(m_server->log().count(QStringLiteral("Login: user=<%1>").arg(user)), check);
        }
        QVERIFY(m_folder->read(AccountFile).contains("NAME2=stale")); // not saved: the box was unticked
    }
};

QTEST_MAIN(TestMainFormCheck)
#include "tst_mainformcheck.moc"
