#include "Prerequisite.h"
#include "TestProgramFolder.h"
#include "mailcheck/HistoryForm.h"
#include "platform/FormSlot.h"
#include "platform/MessageBox.h"
#include "settings/Autostart.h"
#include "settings/MoreOptionsForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {
// The entry as GLib reads it: Exec's program after string, quoting and field code rules, then two keys.
const char* const GLibReading = R"(import sys
from gi.repository import GLib
k = GLib.KeyFile(); k.load_from_file(sys.argv[1], GLib.KeyFileFlags.NONE)
g = 'Desktop Entry'
program = GLib.shell_parse_argv(k.get_string(g, 'Exec').replace('%%', '%'))[1][0]
print(program, k.get_string(g, 'X-GNOME-Autostart-enabled'), k.get_string(g, 'Icon'), sep='|'))";

// Standard output and error of a program that ran to its end.
QString output(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError()).trimmed();
}
} // namespace

// The settings windows edit the settings model at once; the model, not a widget, is what the
// next check reads. What a save writes, and a save that fails, are tst_settings' concern; the
// account window is driven through the main window in tst_mainformcheck.
class TestSettingsWindows : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestProgramFolder> m_folder;
    std::unique_ptr<SettingsModel> m_settings;
    QTemporaryDir m_config; // $XDG_CONFIG_HOME

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE(Prerequisite::missingPrograms({"desktop-file-validate"}).isEmpty(), "desktop-file-utils");
        MOSSVALE_REQUIRE(output("/usr/bin/python3", {"-c", "import gi"}).isEmpty(), "python3-gi");
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    }

    void init()
    {
        MessageBox::reset();
        m_folder = std::make_unique<TestProgramFolder>();
        m_settings = std::make_unique<SettingsModel>();
    }

    // One model, one truth: what is set in a window is in the model at once, and the next check reads
    // the model (tst_mailcheck). A switch added to 「その他の設定」 shows in 「削除履歴」 and back, and is
    // stored at once; the interval is stored when the window closes, unless it is zero.
    void generalWindowsShareTheModel()
    {
        m_settings->loadGeneral();
        HistoryForm history(*m_settings);
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
        const std::pair<QCheckBox*, QCheckBox*> boxes[] = {
            {more->Check1, history.Check1}, {more->Check2, history.Check2}, {more->Check3, history.Check3}};
        for (auto [box, mirror] : boxes) {
            box->click();
            QVERIFY(mirror->isChecked() && mirror->text() == box->text());
        }
        more->Check4->click();
        QByteArray added = "[Mossvale]\r\nKeepDeleted=1\r\nTrialMode=1\r\nLooseMatch=1\r\nAnnounceNewOnly=1\r\n";
        QCOMPARE(m_folder->read(GeneralFile), "[EXEINI]\r\nNUMBER2=0\r\n" + added);
        history.Check2->click();
        QVERIFY(!more->Check2->isChecked() && !m_settings->addedSwitch(SettingKey::TrialMode));
        form->close();
        QCOMPARE(m_folder->read(GeneralFile), "[EXEINI]\r\nNUMBER2=1.5\r\nNUMBER=1\r\nNUMBER4=1\r\nNUMBER5=2\r\n" +
                                                  added.replace("TrialMode=1", "TrialMode=0"));
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
        QTest::keyClick(server->Pop3Text, Qt::Key_Return); // there is no default button
        QVERIFY(optionForm.isLoaded() && m_settings->account().Pop3Server == u"pop");
        QTest::keyClick(server->OkCommand, Qt::Key_Return);
        QVERIFY(!optionForm.isLoaded());
        const AccountSettings& now = m_settings->account();
        QCOMPARE(now.Pop3Server + now.MailAddress + QString::number(now.UseApop), QStringLiteral("othercaf1"));
        QCOMPARE(m_folder->read(ServerFile), "SMTP=" + longSmtp.toLatin1() + "\r\nPOP3=other\r\nMAIL=caf\r\nAPOP=1\r\n");
        optionForm.show()->Pop3Text->setText(QStringLiteral("third")); // Esc changes nothing
        QTest::keyClick(optionForm.loaded()->Pop3Text, Qt::Key_Escape);
        QVERIFY(!optionForm.isLoaded() && m_settings->account().Pop3Server == u"other");
    }

    // The entry starts the program from where it is, however its path is written; the tick is the
    // entry's existence.
    void autostart()
    {
        const QString program = QStringLiteral("/tmp/My Apps/100% \"a\" $b\\c`d'e/メール/mossvale");
        QCOMPARE(Autostart::enable(program), QString());
        const QString entry = m_config.filePath(QStringLiteral("autostart/mossvale.desktop"));
        QCOMPARE(output(QStringLiteral("desktop-file-validate"), {entry}), QString());
        QCOMPARE(output(QStringLiteral("/usr/bin/python3"), {"-c", GLibReading, entry}), program + "|true|mossvale");
        MoreOptionsForm form(*m_settings);
        form.Check5->click();
        QVERIFY(!form.Check5->isChecked() && !QFile::exists(entry));
    }
};

QTEST_MAIN(TestSettingsWindows)
#include "tst_settingswindows.moc"
