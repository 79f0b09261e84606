#include "../mailcheck/MailFixtures.h"
#include "app/MainForm.h"
#include "platform/MessageBox.h"
#include "settings/IdPassForm.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// The whole program checking a real Dovecot: the account of the run. A double click and presses during a
// check are e2e_responsive's, the timed check's ticks tst_checktriggers', what it deletes and shows e2e_check's.
class TestMainFormCheck : public QObject
{
    Q_OBJECT
    std::unique_ptr<DovecotServer> m_server;

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE_DOVECOT();
        QString error;
        m_server = startTrustedDovecot(&error);
        QVERIFY2(m_server, qPrintable(error));
    }
    void cleanupTestCase() { m_server.reset(); }

    // A refused login keeps its box; then the account confirmed with OK but not saved (the box unticked) is
    // what the checks of the run use.
    void confirmedAccountServesTheRun()
    {
        MessageBox::reset();
        TestProgramFolder folder(true, true);
        folder.writeServer(m_server->plainServer());
        QVERIFY(fillMailbox(*m_server, u"prog"_qs, u"secret"_qs, {{"a", "a", "a@a.jp"}}));
        folder.writeAccount(u"prog"_qs, u"stale"_qs);
        folder.write(GeneralFile, "[EXEINI]\r\nNUMBER5=1\r\n");
        MainForm form;
        form.setMailOptions(checkOptions());
        form.show();
        form.Command6_Click();
        QTRY_VERIFY(!form.isChecking());
        QTRY_COMPARE(MessageBox::shown().size(), 1);
        IdPassForm* account = form.idPassForm().show();
        account->PassText->setText(u"secret"_qs);
        account->OKCommand->click();
        for (int check = 1; check <= 2; ++check) {
            form.Command6_Click();
            QTRY_VERIFY(!form.isChecking());
            QTRY_COMPARE(m_server->log().count(u"Login: user=<prog>"_qs), check);
        }
        QCOMPARE(MessageBox::shown().size(), 1);
        QVERIFY(folder.read(AccountFile).contains("NAME2=stale"));
    }
};

QTEST_MAIN(TestMainFormCheck)
#include "tst_mainformcheck.moc"
