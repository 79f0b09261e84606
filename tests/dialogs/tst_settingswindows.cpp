#include "TableRows.h"
#include "TestProgramFolder.h"
#include "mailcheck/AllowListView.h"
#include "mailcheck/HistoryForm.h"
#include "mailcheck/SavedCopies.h"
#include "platform/FormSlot.h"
#include "platform/MessageBox.h"
#include "settings/MoreOptionsForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <memory>

// The mail program as 「メーラー設定」 holds it (%1: a script that writes its arguments to a file, its
// name's quotes tripled when the text is a command line) and the arguments 「開く」 must hand it (%2: the
// copy's path).
// clang-format off
struct OpenRow { const char* name; QString program; QStringList arguments; bool commandLine = false; };
// clang-format on

// The settings windows edit the settings model at once; the model, not a widget, is what the
// next check reads. What a save writes, and a save that fails, are tst_settings' concern; the
// account window is driven through the main window in tst_mainformcheck.
class TestSettingsWindows : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestProgramFolder> m_folder;
    std::unique_ptr<SettingsModel> m_settings;

    // One history line and its saved copy; the copy's path.
    QString historyWithCopy()
    {
        const HistoryEntry entry{{QDate(2024, 5, 6), QTime(7, 8, 9)}, false, {}, -1, "spam", "Spammer <x@spam.example>", "buy"};
        QString copy;
        if (DeletionHistory::append({entry}).isEmpty())
            SavedCopies::store(entry.time, 1, "From: Spammer <x@spam.example>\r\nSubject: buy\r\n\r\nbody\r\n", &copy);
        return copy;
    }

private Q_SLOTS:
    void init()
    {
        MessageBox::reset();
        m_folder = std::make_unique<TestProgramFolder>();
        m_settings = std::make_unique<SettingsModel>();
    }

    // One model, one truth: what is set in a window is in the model at once, and the next check reads
    // the model (tst_mailcheck). A switch added to 「その他の設定」 is stored at once; the interval is
    // stored when the window closes, unless it is zero.
    void generalWindowsShareTheModel()
    {
        m_settings->loadGeneral();
        FormSlot<SetForm> setForm{[this] { return new SetForm(*m_settings); }};
        SetForm* form = setForm.show(); // with no file, its load stores the zero interval at once
        QTest::mouseClick(form->Check1, Qt::LeftButton);
        form->Check2->click();
        form->Option2->click();
        form->Text2->setText("1.5");
        const GeneralSettings& now = m_settings->general();
        QVERIFY(now.hangUpWhenEmpty && now.autoCloseNotice && now.newMailAction == NewMailAction::MailProgram &&
                now.interval == u"1.5");
        QTest::mouseClick(form->Command3, Qt::LeftButton);
        MoreOptionsForm* more = form->moreOptionsForm().loaded();
        for (QCheckBox* box : {more->Check1, more->Check2, more->Check3, more->Check4})
            box->click();
        const QByteArray added = "[Mossvale]\r\nKeepDeleted=1\r\nTrialMode=1\r\nLooseMatch=1\r\nAnnounceNewOnly=1\r\n";
        QCOMPARE(m_folder->read(GeneralFile), "[EXEINI]\r\nNUMBER2=0\r\n" + added);
        form->close();
        QCOMPARE(m_folder->read(GeneralFile), "[EXEINI]\r\nNUMBER2=1.5\r\nNUMBER=1\r\nNUMBER4=1\r\nNUMBER5=2\r\n" + added);
        QCOMPARE(m_settings->general().interval, u"1.5"_qs); // kept as typed, not read back as 1
    }

    void serverWindowEditsTheModel()
    {
        m_folder->writeServer("pop");
        m_settings->loadServer();
        FormSlot<OptionForm> optionForm{[this] { return new OptionForm(*m_settings); }};
        OptionForm* server = optionForm.show();
        QTest::keyClicks(server->MailText, "caf");
        server->MailText->insert(QStringLiteral("é")); // as typed or pasted: the settings file could not hold it
        QCOMPARE(server->MailText->text(), QStringLiteral("caf"));
        QVERIFY(MessageBox::shown().size() == 1 && MessageBox::shown().first().text.startsWith(u"「é」"_qs));
        const QString longSmtp = QString(150, u's'); // the box has no cap; the file's reader cuts at 100
        QTest::keyClicks(server->SmtpText, longSmtp);
        server->Pop3Text->setText(QStringLiteral("other"));
        server->ApopCheck->setChecked(true);
        QTest::keyClick(server->OkCommand, Qt::Key_Return);
        QVERIFY(!optionForm.isLoaded());
        const AccountSettings& now = m_settings->account();
        QCOMPARE(now.Pop3Server + now.MailAddress + QString::number(now.UseApop), QStringLiteral("othercaf1"));
        QCOMPARE(m_folder->read(ServerFile), "SMTP=" + longSmtp.toLatin1() + "\r\nPOP3=other\r\nMAIL=caf\r\nAPOP=1\r\n");
    }

    // 「開く」 hands the copy's path to the chosen mail program as one argument of its own.
    void openCopy_data()
    {
        const auto add = addRow<OpenRow>();
        add({"program file, spaces around it", QStringLiteral("  %1 "), {QStringLiteral("%2")}});
        add({"command line", QStringLiteral("\"%1\" --open"), {QStringLiteral("--open"), QStringLiteral("%2")}, true});
    }
    void openCopy()
    {
        QFETCH(OpenRow, row);
        const QString script = m_folder->file(QStringLiteral("my \"mail\" prog")), out = m_folder->file("args");
        m_folder->write(QStringLiteral("my \"mail\" prog"), "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + out.toUtf8() + "'\n");
        QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString copy = historyWithCopy();
        QVERIFY(!copy.isEmpty());
        m_settings->setMailProgram(row.program.arg(row.commandLine ? QString(script).replace(u'"', "\"\"\"") : script));
        HistoryForm history(*m_settings);
        history.show();
        history.Command1_Click();
        QTRY_VERIFY(QFileInfo(out).size() > 0);
        QCOMPARE(QString::fromUtf8(m_folder->read("args")), row.arguments.join(u'\n').arg(copy) + u'\n');
        QVERIFY2(MessageBox::shown().isEmpty(), qPrintable(MessageBox::shown().value(0).text));
    }

    // A sender is allowed only after 「はい」; the list's tab shows it, and takes it off again only
    // after 「はい」.
    void allowAsksFirst()
    {
        historyWithCopy();
        HistoryForm history(*m_settings);
        history.show();
        QListWidget* list = history.AllowView->List1;
        // Each step: allowing (or revoking), the answer, and the allow list's file after it.
        const std::tuple<bool, MessageBox::Button, QByteArray> steps[] = {{true, MessageBox::No, ""},
            {true, MessageBox::Yes, "x@spam.example\n"}, {false, MessageBox::No, "x@spam.example\n"}, {false, MessageBox::Yes, ""}};
        for (const auto& [allow, answer, file] : steps) {
            MessageBox::reset();
            MessageBox::setNextAnswer(answer);
            list->setCurrentRow(0);
            allow ? history.Command2_Click() : history.AllowView->Command1_Click();
            QTRY_COMPARE(MessageBox::shown().size(), 1);
            QCOMPARE(MessageBox::shown().first().buttons, MessageBox::YesNo);
            QTest::qWait(50);
            QCOMPARE(m_folder->read("★MailData/allow.txt"), file);
            QCOMPARE(list->count(), file.isEmpty() ? 0 : 1);
            QVERIFY(file.isEmpty() || list->item(0)->text() == u"x@spam.example");
        }
    }
};

QTEST_MAIN(TestSettingsWindows)
#include "tst_settingswindows.moc"
