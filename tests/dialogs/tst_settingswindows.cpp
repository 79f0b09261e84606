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
struct KeyRow
{
    QString window;  // "OptionForm" or "IdPassForm"
    QString control; // empty: the close box
    int key;         // 0: a click
    bool closes;
    bool saves;
};

// Replaces a text box's text by typing, as the user would.
void retype(QLineEdit* box, const QString& text)
{
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, text);
}

template <class Form> Form* showActive(FormSlot<Form>& slot)
{
    Form* form = slot.show();
    QApplication::setActiveWindow(form);
    if (!QTest::qWaitForWindowActive(form))
        qWarning("window did not become active");
    return form;
}
} // namespace

Q_DECLARE_METATYPE(KeyRow)

class TestSettingsWindows : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void setFormSwitchesReachTheCheck();
    void setFormInterval_data();
    void setFormInterval();
    void setFormCloseStoresAndReloads();
    void windowsShowTheSettings();
    void keysAndButtons_data();
    void keysAndButtons();
    void failedWriteIsReported_data();
    void failedWriteIsReported();
    void noticeBoardIsReused();

private:
    std::unique_ptr<TestProgramFolder> m_folder;
    std::unique_ptr<SettingsModel> m_settings;
    FormSlot<SetForm> m_setForm{[this] { return new SetForm(*m_settings); }};
    FormSlot<OptionForm> m_optionForm{[this] { return new OptionForm(*m_settings); }};
    FormSlot<IdPassForm> m_idPassForm{[this] { return new IdPassForm(*m_settings); }};
};

void TestSettingsWindows::init()
{
    for (FormSlotBase* slot : std::initializer_list<FormSlotBase*>{&m_setForm, &m_optionForm, &m_idPassForm})
        slot->unload();
    MessageBox::reset();
    m_folder = std::make_unique<TestProgramFolder>();
    m_settings = std::make_unique<SettingsModel>();
}

void TestSettingsWindows::setFormSwitchesReachTheCheck()
{
    // Without a server the check only decides whether to hang up, by the switch alone.
    SetForm* form = m_setForm.show();
    for (bool ticked : {true, false}) {
        QTest::mouseClick(form->Check1, Qt::LeftButton);
        QCOMPARE(form->Check1->isChecked(), ticked);
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

void TestSettingsWindows::setFormInterval_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("interval");
    QTest::addColumn<QByteArray>("stored"); // what the change itself wrote, at once or not
    QTest::newRow("five") << "5"
                          << "5" << QByteArray("7");
    QTest::newRow("fraction") << "1.5"
                              << "1.5" << QByteArray("7");
    QTest::newRow("emptied becomes 0, stored at once") << ""
                                                       << "0" << QByteArray("0");
    QTest::newRow("letters count as 0, stored at once") << "abc"
                                                        << "abc" << QByteArray("abc");
    QTest::newRow("negative") << "-3"
                              << "-3" << QByteArray("7");
}

void TestSettingsWindows::setFormInterval()
{
    QFETCH(QString, typed);
    QFETCH(QString, interval);
    QFETCH(QByteArray, stored);
    m_folder->write(GeneralFile, "[EXEINI]\r\nNUMBER2=7\r\n");
    m_settings->loadGeneral();
    SetForm* form = m_setForm.show();
    QCOMPARE(form->Text2->text(), QStringLiteral("7"));
    form->Text2->setText(typed);
    QCOMPARE(m_settings->general().interval, interval);
    QCOMPARE(m_folder->read(GeneralFile), "[EXEINI]\r\nNUMBER2=" + stored + "\r\n");
}

void TestSettingsWindows::setFormCloseStoresAndReloads()
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
    // Shown again, it holds what a fresh load of the file gives.
    form = m_setForm.show();
    QCOMPARE(form->Text2->text(), QStringLiteral("1"));
    QVERIFY(form->Check1->isChecked() && form->Check2->isChecked() && form->Option2->isChecked());
}

void TestSettingsWindows::windowsShowTheSettings()
{
    m_settings->setServer("s", "pop3s://pop.example.jp", "山田@例.jp", 2); // any non-zero APOP is on
    m_folder->writeAccount("山田①", "ﾊﾟｽ");
    OptionForm* server = m_optionForm.get(); // loading alone shows it, on top
    QVERIFY(server->isVisible() && isTopmost(server));
    QCOMPARE(server->Pop3Text->text(), QStringLiteral("pop3s://pop.example.jp"));
    QCOMPARE(server->MailText->text(), QStringLiteral("山田@例.jp"));
    QVERIFY(server->ApopCheck->isChecked());
    IdPassForm* account = m_idPassForm.get(); // the check loads it hidden
    QVERIFY(!account->isVisible());
    QCOMPARE(account->IdText->text(), QStringLiteral("山田①"));
    QCOMPARE(account->PassText->displayText(), QStringLiteral("***"));
    QVERIFY(!account->Check1->isChecked());            // saving is asked for anew every time
    QCOMPARE(m_settings->account().UserId, QString()); // only OK puts it in use
}

void TestSettingsWindows::keysAndButtons_data()
{
    QTest::addColumn<KeyRow>("row");
    const auto add = [](const char* name, KeyRow row) { QTest::newRow(name) << row; };
    add("中止", {"OptionForm", "CancelCommand", 0, true, false});
    add("server close box", {"OptionForm", "", 0, true, false});
    add("Esc in a server box", {"OptionForm", "Pop3Text", Qt::Key_Escape, true, false});
    add("Return in a server box does nothing", {"OptionForm", "SmtpText", Qt::Key_Return, false, false});
    add("Enter on APOP does nothing", {"OptionForm", "ApopCheck", Qt::Key_Enter, false, false});
    add("Return on 設定", {"OptionForm", "OkCommand", Qt::Key_Return, true, true});
    add("Cancel", {"IdPassForm", "CancelCommand", 0, true, false});
    add("account close box", {"IdPassForm", "", 0, true, false});
    add("Esc on the account check box", {"IdPassForm", "Check1", Qt::Key_Escape, true, false});
    add("Return in the name box", {"IdPassForm", "IdText", Qt::Key_Return, true, true});
    add("Enter in the password box", {"IdPassForm", "PassText", Qt::Key_Enter, true, true});
    add("Return on Cancel", {"IdPassForm", "CancelCommand", Qt::Key_Return, true, false});
}

void TestSettingsWindows::keysAndButtons()
{
    QFETCH(KeyRow, row);
    const bool server = row.window == u"OptionForm";
    const QByteArray before = server ? "SMTP=s\r\nPOP3=pop.example.jp\r\nMAIL=m\r\nAPOP=0\r\n"
                                     : "[EXEINI]\r\nNAME=taro\r\nNAME2=pw\r\nNAME3=1\r\n";
    const QString file = server ? ServerFile : AccountFile;
    m_folder->write(file, before);
    m_settings->loadServer();
    QWidget* form = nullptr;
    if (server) {
        OptionForm* f = showActive(m_optionForm);
        retype(f->Pop3Text, " other.example.jp");
        f->ApopCheck->setChecked(true);
        form = f;
    } else {
        IdPassForm* f = showActive(m_idPassForm);
        retype(f->IdText, "hanako");
        retype(f->PassText, "new");
        f->Check1->setChecked(true);
        form = f;
    }
    QWidget* target = row.control.isEmpty() ? nullptr : form->findChild<QWidget*>(row.control);
    if (!target) {
        form->close();
    } else if (row.key == 0) {
        QTest::mouseClick(target, Qt::LeftButton);
    } else {
        target->setFocus();
        QTest::keyClick(target, Qt::Key(row.key));
    }
    QCOMPARE((server ? m_optionForm.isLoaded() : m_idPassForm.isLoaded()), !row.closes);
    const AccountSettings& now = m_settings->account();
    if (server) {
        QCOMPARE(now.Pop3Server, QString(row.saves ? " other.example.jp" : "pop.example.jp"));
        QCOMPARE(now.UseApop, qint16(row.saves));
    } else {
        QCOMPARE(now.UserId + now.Password, QString(row.saves ? "hanakonew" : ""));
    }
    QCOMPARE(m_folder->read(file), !row.saves ? before
                                   : server   ? QByteArray("SMTP=s\r\nPOP3= other.example.jp\r\nMAIL=m\r\nAPOP=1\r\n")
                                              : QByteArray("[EXEINI]\r\nNAME=hanako\r\nNAME2=new\r\nNAME3=1\r\n"));
}

void TestSettingsWindows::failedWriteIsReported_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("blocked"); // a folder stands where this file should be
    QTest::newRow("settings window closed") << "SetForm" << GeneralFile;
    QTest::newRow("server window 設定") << "OptionForm" << ServerFile;
    QTest::newRow("account window OK") << "IdPassForm" << AccountFile;
}

void TestSettingsWindows::failedWriteIsReported()
{
    QFETCH(QString, window);
    QFETCH(QString, blocked);
    QVERIFY(QDir().mkpath(m_folder->file(blocked)));
    if (window == u"SetForm") {
        SetForm* form = m_setForm.show();
        QCOMPARE(MessageBox::shown().size(), 1); // the zero interval cannot be stored at load
        form->Text2->setText("5");
        form->close();
        QCOMPARE(m_settings->general().interval, QStringLiteral("5"));
    } else if (window == u"OptionForm") {
        retype(showActive(m_optionForm)->Pop3Text, "pop.example.jp");
        m_optionForm.loaded()->OkCommand->click();
        QVERIFY(m_optionForm.loaded()->isVisible()); // open for another try
        QCOMPARE(m_settings->account().Pop3Server, QStringLiteral("pop.example.jp"));
    } else {
        retype(showActive(m_idPassForm)->IdText, "taro");
        m_idPassForm.loaded()->OKCommand->click();
        QVERIFY(m_idPassForm.loaded()->isVisible());
        QCOMPARE(m_settings->account().UserId, QStringLiteral("taro"));
    }
    QVERIFY(!MessageBox::shown().isEmpty());
    const QString text = MessageBox::shown().last().text;
    QVERIFY2(text.contains(QFileInfo(blocked).fileName()), qPrintable(text));
}

void TestSettingsWindows::noticeBoardIsReused()
{
    FormSlot<MsgForm> slot;
    MsgForm* first = slot.get(); // the check's first write creates it, on top
    QVERIFY(first->isVisible() && isTopmost(first));
    QCOMPARE(first->windowTitle(), QStringLiteral("新着お知らせボード"));
    QCOMPARE(first->Text1->text(), QStringLiteral("新着メールがあります。"));
    for (int count : {3, 12}) { // a later check while it is open changes the count in place
        slot.get()->Text2->setText(QString::number(count));
        QCOMPARE(slot.show(), first);
        QCOMPARE(first->Text2->text(), QString::number(count));
    }
    slot.unload();
    QVERIFY(!slot.isLoaded());
    QVERIFY(slot.get() != nullptr && isTopmost(slot.loaded())); // a fresh board, on top again
    QVERIFY(slot.loaded()->Text2->text().isEmpty());
}

QTEST_MAIN(TestSettingsWindows)
#include "tst_settingswindows.moc"
