// 「アカウント」 and the account window on real widgets, the connection test against a real Dovecot.
#include "../mailcheck/MailFixtures.h"
#include "TableRows.h"
#include "platform/MessageBox.h"
#include "settings/AccountsForm.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

namespace {
// clang-format off
struct TlsRow { const char* name; QString server; bool on; QString expected; };
struct LoginRow { const char* name; bool tls; QString password; int signIn; QString outcome; };
// clang-format on
const QByteArray TwoMore = "NextId=4\n[Account2]\nName=仕事\nServer=pop3s://mail.example.net\nUser=hanako\n"
                           "[Account3]\nName=旧プロバイダー\nServer=pop.example.org\nUser=taro2\nEnabled=0\n";
} // namespace

class TestAccountWindows : public QObject
{
    Q_OBJECT
    std::unique_ptr<DovecotServer> m_server;

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE_DOVECOT();
        QString error;
        m_server = startTrustedDovecot(&error);
        QVERIFY2(m_server && m_server->addUser(u"tester"_qs, u"right"_qs), qPrintable(error));
    }
    void cleanupTestCase() { m_server.reset(); }
    void init() { MessageBox::reset(); }

    // Removing the first account empties its server and keeps it listed; removing another drops its section.
    void removalAsksThenActs()
    {
        TestProgramFolder folder;
        folder.writeServer(u"pop.example.jp"_qs);
        folder.write(u"★MailData/accounts.ini"_qs, TwoMore);
        SettingsModel settings;
        settings.loadServer();
        AccountsForm form(settings);
        form.show();
        if (const QString shots = qEnvironmentVariable("MOSSVALE_SHOTS"); !shots.isEmpty())
            form.grab().save(shots + u"/screenshot-accounts.png"_qs);
        QCOMPARE(form.accountList->topLevelItemCount(), 3);
        QSignalSpy changed(&form, &AccountsForm::accountsChanged);
        form.accountList->setCurrentItem(form.accountList->topLevelItem(1));
        MessageBox::setNextAnswer(MessageBox::No);
        form.removeButton->click();
        QTRY_COMPARE(MessageBox::shown().size(), 1);
        QCOMPARE(form.accounts().size(), 3);
        MessageBox::setNextAnswer(MessageBox::Yes);
        form.removeButton->click();
        QTRY_COMPARE(changed.size(), 1);
        QVERIFY(!folder.read(u"★MailData/accounts.ini"_qs).contains("[Account2]"));
        QVERIFY(folder.read(u"★MailData/accounts.ini"_qs).contains("[Account3]"));
        form.accountList->setCurrentItem(form.accountList->topLevelItem(0));
        MessageBox::setNextAnswer(MessageBox::Yes);
        form.removeButton->click();
        QTRY_VERIFY(folder.read(ServerFile).contains("POP3=\r\n"));
        QCOMPARE(form.accounts().size(), 2);
    }

    void tlsSwitchKeepsTheServer_data()
    {
        const auto row = addRow<TlsRow>();
        row({"on: the usual port goes", u"pop.example.jp:110"_qs, true, u"pop3s://pop.example.jp"_qs});
        row({"on: a port of its own stays", u"pop.example.jp:1110"_qs, true, u"pop3s://pop.example.jp:1110"_qs});
        row({"off", u"pop3s://pop.example.jp:995"_qs, false, u"pop.example.jp"_qs});
        row({"IPv6 keeps its brackets", u"[::1]:2110"_qs, true, u"pop3s://[::1]:2110"_qs});
    }
    void tlsSwitchKeepsTheServer()
    {
        QFETCH(TlsRow, row);
        AccountForm form(Account{});
        form.serverEdit->setText(row.server);
        QCOMPARE(form.tlsCheck->isChecked(), !row.on);
        form.tlsCheck->click();
        QCOMPARE(form.serverEdit->text(), row.expected);
        form.presetCombo->setCurrentIndex(1);
        Q_EMIT form.presetCombo->activated(1); // Gmail: a token sign-in, no password to type
        QCOMPARE(form.edited().signIn, AccountSignIn::OAuth2);
        QVERIFY(!form.passwordEdit->isEnabled() && form.tlsCheck->isChecked());
    }

    void connectionTest_data()
    {
        const auto row = addRow<LoginRow>();
        row({"TLS, right password", true, u"right"_qs, 0, u"成功"_qs});
        row({"STLS, APOP", false, u"right"_qs, 1, u"成功"_qs});
        row({"wrong password", true, u"wrong"_qs, 0, u"失敗"_qs});
    }
    void connectionTest()
    {
        QFETCH(LoginRow, row);
        TestProgramFolder folder;
        AccountForm form(Account{}, nullptr, checkOptions());
        form.show();
        form.serverEdit->setText(row.tls ? m_server->tlsServer() : m_server->plainServer());
        form.userEdit->setText(u"tester"_qs);
        form.passwordEdit->setText(row.password);
        form.signInCombo->setCurrentIndex(row.signIn);
        form.testButton->click();
        QVERIFY(!form.testButton->isEnabled()); // one test at a time
        QTRY_VERIFY_WITH_TIMEOUT(form.testButton->isEnabled(), 10000);
        QVERIFY2(form.testLabel->text().startsWith(row.outcome), qPrintable(form.testLabel->text()));
        if (const QString shots = qEnvironmentVariable("MOSSVALE_SHOTS"); !shots.isEmpty() && row.signIn == 1)
            form.grab().save(shots + u"/screenshot-account.png"_qs);
    }
};

QTEST_MAIN(TestAccountWindows)
#include "tst_accountwindows.moc"
