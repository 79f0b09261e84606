#include "TestProgramFolder.h"
#include "platform/FormSlot.h"
#include "platform/MessageBox.h"
#include "platform/WindowPlacement.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <memory>

// The settings windows edit the settings model at once; the model, not a widget, is what the
// next check reads. What a save writes, and a save that fails, are tst_settings' concern; the
// account window is driven through the main window in tst_mainformcheck.
class TestSettingsWindows : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestProgramFolder> m_folder;
    std::unique_ptr<SettingsModel> m_settings;
    FormSlot<SetForm> m_setForm{[this] { return new SetForm(*m_settings); }};
    FormSlot<OptionForm> m_optionForm{[this] { return new OptionForm(*m_settings); }};

private Q_SLOTS:
    void init()
    {
        m_setForm.unload();
        m_optionForm.unload();
        MessageBox::reset();
        m_folder = std::make_unique<TestProgramFolder>();
        m_settings = std::make_unique<SettingsModel>();
    }

    void setFormEditsTheModel()
    {
        m_settings->loadGeneral();
        SetForm* form = m_setForm.show(); // with no file, its load stores the zero interval at once
        QCOMPARE(m_folder->read(GeneralFile), QByteArray("[EXEINI]\r\nNUMBER2=0\r\n"));
        for (bool ticked : {true, false, true}) { // the model is what the next check reads (tst_mailcheck)
            QTest::mouseClick(form->Check1, Qt::LeftButton);
            QCOMPARE(m_settings->general().hangUpWhenEmpty, ticked);
        }
        form->Check2->click();
        form->Option2->click();
        QVERIFY(m_settings->general().autoCloseNotice);
        QCOMPARE(m_settings->general().newMailAction, NewMailAction::MailProgram);
        form->Text2->setText("1.5"); // a zero interval is stored at once, any other when the window closes
        QCOMPARE(m_settings->general().interval, QStringLiteral("1.5"));
        QCOMPARE(m_folder->read(GeneralFile), QByteArray("[EXEINI]\r\nNUMBER2=0\r\n"));
        form->close();
        QCOMPARE(m_folder->read(GeneralFile),
                 QByteArray("[EXEINI]\r\nNUMBER2=1.5\r\nNUMBER=1\r\nNUMBER4=1\r\nNUMBER5=2\r\n"));
        QVERIFY(m_setForm.show()->Option2->isChecked()); // shown again, it holds what a fresh load gives
    }

    void serverWindowEditsTheModel()
    {
        m_folder->writeServer("pop");
        m_settings->loadServer();
        OptionForm* server = m_optionForm.show();
        QVERIFY(isTopmost(server) && server->Pop3Text->text() == u"pop");
        QTest::keyClicks(server->MailText, "caf");
        server->MailText->insert(QStringLiteral("é")); // as typed or pasted: the settings file could not hold it
        QCOMPARE(server->MailText->text(), QStringLiteral("caf"));
        QCOMPARE(MessageBox::shown().size(), 1);
        QVERIFY(MessageBox::shown().first().text.startsWith(QStringLiteral("「é」")));
        server->Pop3Text->setText(QStringLiteral("other"));
        server->ApopCheck->setChecked(true);
        QTest::keyClick(server->Pop3Text, Qt::Key_Return); // there is no default button
        QVERIFY(m_optionForm.isLoaded() && m_settings->account().Pop3Server == u"pop");
        QTest::keyClick(server->OkCommand, Qt::Key_Return);
        QVERIFY(!m_optionForm.isLoaded());
        const AccountSettings& now = m_settings->account();
        QCOMPARE(now.Pop3Server + now.MailAddress + QString::number(now.UseApop), QStringLiteral("othercaf1"));
        QCOMPARE(m_folder->read(ServerFile), QByteArray("SMTP=\r\nPOP3=other\r\nMAIL=caf\r\nAPOP=1\r\n"));
        m_optionForm.show()->Pop3Text->setText(QStringLiteral("third")); // Esc changes nothing
        QTest::keyClick(m_optionForm.loaded()->Pop3Text, Qt::Key_Escape);
        QVERIFY(!m_optionForm.isLoaded() && m_settings->account().Pop3Server == u"other");
    }
};

QTEST_MAIN(TestSettingsWindows)
#include "tst_settingswindows.moc"
