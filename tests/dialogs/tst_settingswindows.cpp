#include "../mailcheck/RecordingWindows.h"
#include "TestProgramFolder.h"
#include "mailcheck/MsgForm.h"
#include "platform/FormSlot.h"
#include "platform/MessageBox.h"
#include "platform/WindowPlacement.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <memory>

// The settings windows edit the settings model at once; the model, not a widget, is what the
// next check reads.
namespace {
struct IntervalRow
{
    QString typed;
    QByteArray stored; // "NUMBER2" after the change: a zero interval is stored at once
};

struct KeyRow
{
    bool server;     // the server window, else the account window
    QString control; // empty: the close box
    int key;         // 0: a click
    bool closes;
    bool saves;
};
} // namespace

class TestSettingsWindows : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestProgramFolder> m_folder;
    std::unique_ptr<SettingsModel> m_settings;
    FormSlot<SetForm> m_setForm{[this] { return new SetForm(*m_settings); }};
    FormSlot<OptionForm> m_optionForm{[this] { return new OptionForm(*m_settings); }};
    FormSlot<IdPassForm> m_idPassForm{[this] { return new IdPassForm(*m_settings); }};

    // Shown active, as the settings window's buttons show it, and filled in by typing.
    QWidget* fillIn(bool server)
    {
        QWidget* form = server ? static_cast<QWidget*>(m_optionForm.show()) : m_idPassForm.show();
        QApplication::setActiveWindow(form);
        if (!QTest::qWaitForWindowActive(form))
            qWarning("window did not become active");
        const QStringList boxes = server ? QStringList{"Pop3Text"} : QStringList{"IdText", "PassText"};
        for (const QString& name : boxes) {
            auto* box = form->findChild<QLineEdit*>(name);
            box->selectAll();
            QTest::keyClicks(box, name == u"PassText" ? "new" : " other");
        }
        form->findChild<QCheckBox*>(server ? "ApopCheck" : "Check1")->setChecked(true);
        return form;
    }

private Q_SLOTS:
    void init()
    {
        for (FormSlotBase* slot : std::initializer_list<FormSlotBase*>{&m_setForm, &m_optionForm, &m_idPassForm})
            slot->unload();
        MessageBox::reset();
        m_folder = std::make_unique<TestProgramFolder>();
        m_settings = std::make_unique<SettingsModel>();
    }

    void setFormSwitchesReachTheCheck()
    {
        // Without a server the check only decides whether to hang up, by the switch alone.
        SetForm* form = m_setForm.show();
        for (bool ticked : {true, false}) {
            QTest::mouseClick(form->Check1, Qt::LeftButton);
            RecordingWindows windows;
            MailCheck(windows, *m_settings).run();
            QCOMPARE(windows.calls, ticked ? QStringList{"hang up"} : QStringList());
        }
        form->Check2->click();
        form->Option2->click();
        QVERIFY(m_settings->general().autoCloseNotice);
        QCOMPARE(m_settings->general().newMailAction, NewMailAction::MailProgram);
        form->Option1->click();
        QCOMPARE(m_settings->general().newMailAction, NewMailAction::NoticeBoard);
    }

    void setFormInterval_data()
    {
        QTest::addColumn<IntervalRow>("row");
        QTest::newRow("five") << IntervalRow{"5", "7"};
        QTest::newRow("fraction") << IntervalRow{"1.5", "7"};
        QTest::newRow("negative") << IntervalRow{"-3", "7"};
        QTest::newRow("emptied becomes 0") << IntervalRow{"", "0"};
        QTest::newRow("letters count as 0") << IntervalRow{"abc", "abc"};
    }

    void setFormInterval()
    {
        QFETCH(IntervalRow, row);
        m_folder->write(GeneralFile, "[EXEINI]\r\nNUMBER2=7\r\n");
        m_settings->loadGeneral();
        SetForm* form = m_setForm.show();
        QCOMPARE(form->Text2->text(), QStringLiteral("7"));
        form->Text2->setText(row.typed);
        QCOMPARE(m_settings->general().interval, row.typed.isEmpty() ? QStringLiteral("0") : row.typed);
        QCOMPARE(m_folder->read(GeneralFile), "[EXEINI]\r\nNUMBER2=" + row.stored + "\r\n");
    }

    void setFormCloseStoresAndReloads()
    {
        m_settings->loadGeneral();
        SetForm* form = m_setForm.show(); // with no file, its load stores the zero interval at once
        QCOMPARE(m_folder->read(GeneralFile), QByteArray("[EXEINI]\r\nNUMBER2=0\r\n"));
        form->Check1->click();
        form->Check2->click();
        form->Option2->click();
        form->Text2->setText("1.5");
        form->close();
        QCOMPARE(m_folder->read(GeneralFile),
                 QByteArray("[EXEINI]\r\nNUMBER2=1.5\r\nNUMBER=1\r\nNUMBER4=1\r\nNUMBER5=2\r\n"));
        form = m_setForm.show(); // shown again, it holds what a fresh load of the file gives
        QCOMPARE(form->Text2->text(), QStringLiteral("1"));
        QVERIFY(form->Check1->isChecked() && form->Check2->isChecked() && form->Option2->isChecked());
    }

    void windowsShowTheSettings()
    {
        m_settings->setServer("s", "pop3s://pop.example.jp", "山田@例.jp", 2); // any non-zero APOP is on
        m_folder->writeAccount("山田①", "ﾊﾟｽ");
        OptionForm* server = m_optionForm.get(); // loading alone shows it, on top
        QVERIFY(server->isVisible() && isTopmost(server));
        QCOMPARE(server->Pop3Text->text() + server->MailText->text(),
                 QStringLiteral("pop3s://pop.example.jp山田@例.jp"));
        QVERIFY(server->ApopCheck->isChecked());
        IdPassForm* account = m_idPassForm.get();                        // the check loads it hidden
        QVERIFY(!account->isVisible() && !account->Check1->isChecked()); // saving is asked anew every time
        QCOMPARE(account->IdText->text(), QStringLiteral("山田①"));
        QCOMPARE(account->PassText->displayText(), QStringLiteral("***"));
        QCOMPARE(m_settings->account().UserId, QString()); // only OK puts it in use
    }

    void keysAndButtons_data()
    {
        QTest::addColumn<KeyRow>("row");
        QTest::newRow("中止") << KeyRow{true, "CancelCommand", 0, true, false};
        QTest::newRow("server close box") << KeyRow{true, "", 0, true, false};
        QTest::newRow("Esc in a server box") << KeyRow{true, "Pop3Text", Qt::Key_Escape, true, false};
        QTest::newRow("Return in a server box does nothing") << KeyRow{true, "SmtpText", Qt::Key_Return, false, false};
        QTest::newRow("Enter on APOP does nothing") << KeyRow{true, "ApopCheck", Qt::Key_Enter, false, false};
        QTest::newRow("Return on 設定") << KeyRow{true, "OkCommand", Qt::Key_Return, true, true};
        QTest::newRow("Cancel") << KeyRow{false, "CancelCommand", 0, true, false};
        QTest::newRow("account close box") << KeyRow{false, "", 0, true, false};
        QTest::newRow("Esc on the account check box") << KeyRow{false, "Check1", Qt::Key_Escape, true, false};
        QTest::newRow("Return in the name box") << KeyRow{false, "IdText", Qt::Key_Return, true, true};
        QTest::newRow("Enter in the password box") << KeyRow{false, "PassText", Qt::Key_Enter, true, true};
        QTest::newRow("Return on Cancel") << KeyRow{false, "CancelCommand", Qt::Key_Return, true, false};
    }

    void keysAndButtons()
    {
        QFETCH(KeyRow, row);
        const QByteArray before = row.server ? "SMTP=s\r\nPOP3=pop\r\nMAIL=m\r\nAPOP=0\r\n"
                                             : "[EXEINI]\r\nNAME=taro\r\nNAME2=pw\r\nNAME3=1\r\n";
        const QString file = row.server ? ServerFile : AccountFile;
        m_folder->write(file, before);
        m_settings->loadServer();
        QWidget* form = fillIn(row.server);
        QWidget* target = row.control.isEmpty() ? nullptr : form->findChild<QWidget*>(row.control);
        if (!target) {
            form->close();
        } else if (row.key == 0) {
            QTest::mouseClick(target, Qt::LeftButton);
        } else {
            target->setFocus();
            QTest::keyClick(target, Qt::Key(row.key));
        }
        QCOMPARE(row.server ? m_optionForm.isLoaded() : m_idPassForm.isLoaded(), !row.closes);
        const AccountSettings& now = m_settings->account();
        const QString inUse = row.server ? now.Pop3Server + QString::number(now.UseApop) : now.UserId + now.Password;
        QCOMPARE(inUse, QString(!row.saves ? (row.server ? "pop0" : "") : row.server ? " other1" : " othernew"));
        QCOMPARE(m_folder->read(file), !row.saves ? before
                                       : row.server
                                           ? QByteArray("SMTP=s\r\nPOP3= other\r\nMAIL=m\r\nAPOP=1\r\n")
                                           : QByteArray("[EXEINI]\r\nNAME= other\r\nNAME2=new\r\nNAME3=1\r\n"));
    }

    void failedWriteKeepsTheWindowOpen()
    {
        for (bool server : {true, false}) {
            QVERIFY(QDir().mkpath(m_folder->file(server ? ServerFile : AccountFile))); // cannot be written
            QWidget* form = fillIn(server);
            form->findChild<QPushButton*>(server ? "OkCommand" : "OKCommand")->click();
            QVERIFY(form->isVisible()); // for another try
            QVERIFY(MessageBox::shown().last().text.contains(server ? "tolvex.ini" : "iniIdPass.ini"));
            const AccountSettings& now = m_settings->account();
            QCOMPARE(server ? now.Pop3Server : now.UserId, QStringLiteral(" other")); // in effect all the same
        }
    }

    void textWithoutCp932FormIsRefused()
    {
        OptionForm* server = m_optionForm.show();
        QTest::keyClicks(server->MailText, "caf");
        server->MailText->insert(QStringLiteral("é")); // as typed or pasted: the settings file could not hold it
        QCOMPARE(server->MailText->text(), QStringLiteral("caf"));
        QCOMPARE(MessageBox::shown().size(), 1);
        QVERIFY(MessageBox::shown().first().text.startsWith(QStringLiteral("「é」")));
    }

    void noticeBoardIsReused()
    {
        FormSlot<MsgForm> slot;
        MsgForm* first = slot.get(); // the check's first write creates it, on top
        QVERIFY(first->isVisible() && isTopmost(first));
        QCOMPARE(first->windowTitle() + first->Text1->text(),
                 QStringLiteral("新着お知らせボード新着メールがあります。"));
        QCOMPARE(slot.get(), first); // a later check while it is open uses it again
        slot.unload();
        QVERIFY(!slot.isLoaded());
        QVERIFY(isTopmost(slot.get()) && slot.loaded()->Text2->text().isEmpty()); // a fresh board
    }
};

QTEST_MAIN(TestSettingsWindows)
#include "tst_settingswindows.moc"
