#include "Prerequisite.h"
#include "TestProgramFolder.h"
#include "keywords/GekitaiForm.h"
#include "mailcheck/HistoryForm.h"
#include "mailcheck/MsgForm.h"
#include "mailcheck/SavedCopies.h"
#include "platform/FormSlot.h"
#include "platform/MessageBox.h"
#include "platform/WindowPlacement.h"
#include "settings/Autostart.h"
#include "settings/MoreOptionsForm.h"
#include "settings/OptionForm.h"
#include "settings/SetForm.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
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
    FormSlot<SetForm> m_setForm{[this] { return new SetForm(*m_settings); }};
    FormSlot<OptionForm> m_optionForm{[this] { return new OptionForm(*m_settings); }};
    QTemporaryDir m_config; // $XDG_CONFIG_HOME
    QUrl m_opened;

public Q_SLOTS:
    void openUrl(const QUrl& url) { m_opened = url; }

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE(Prerequisite::missingPrograms({"desktop-file-validate"}).isEmpty(), "desktop-file-utils");
        MOSSVALE_REQUIRE(output("/usr/bin/python3", {"-c", "import gi"}).isEmpty(), "python3-gi");
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

    void init()
    {
        m_setForm.unload();
        m_optionForm.unload();
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
        SetForm* form = m_setForm.show(); // with no file, its load stores the zero interval at once
        QTest::mouseClick(form->Check1, Qt::LeftButton);
        form->Check2->click();
        form->Option2->click();
        form->Text2->setText("1.5");
        const GeneralSettings& now = m_settings->general();
        QVERIFY(now.hangUpWhenEmpty && now.autoCloseNotice && now.newMailAction == NewMailAction::MailProgram);
        QCOMPARE(now.interval, QStringLiteral("1.5"));
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
    }

    void serverWindowEditsTheModel()
    {
        m_folder->writeServer("pop");
        m_settings->loadServer();
        OptionForm* server = m_optionForm.show();
        QTest::keyClicks(server->MailText, "caf");
        server->MailText->insert(QStringLiteral("é")); // as typed or pasted: the settings file could not hold it
        QCOMPARE(server->MailText->text(), QStringLiteral("caf"));
        QVERIFY(MessageBox::shown().size() == 1 && MessageBox::shown().first().text.startsWith(u"「é」"_qs));
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

    // The entry starts the program from where it is, however its path is written.
    void autostartEntry_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("plain") << QStringLiteral("/opt/mossvale/mossvale");
        QTest::newRow("space and percent") << QStringLiteral("/home/u/My Apps/100% mail/mossvale");
        QTest::newRow("quotes, dollar, backslash") << QStringLiteral("/tmp/\"a\" $b\\c`d'e/メール/mossvale");
    }

    void autostartEntry()
    {
        QFETCH(QString, program);
        QCOMPARE(Autostart::enable(program), QString());
        const QString entry = m_config.filePath(QStringLiteral("autostart/mossvale.desktop"));
        QCOMPARE(output(QStringLiteral("desktop-file-validate"), {entry}), QString());
        QCOMPARE(output(QStringLiteral("/usr/bin/python3"), {"-c", GLibReading, entry}), program + "|true|mossvale");
        QCOMPARE(Autostart::disable(), QString());
        QVERIFY(!QFile::exists(entry));
    }

    // The tick is the entry's existence; a failure is said, and the tick shows what is.
    void autostartSwitch()
    {
        MoreOptionsForm form(*m_settings);
        const QString entry = m_config.filePath(QStringLiteral("autostart/mossvale.desktop"));
        for (const bool on : {true, false}) {
            form.Check5->click();
            QVERIFY(form.Check5->isChecked() == on && QFile::exists(entry) == on);
        }
        QVERIFY(QDir(m_config.path()).rmdir(QStringLiteral("autostart")));
        QFile blocker(m_config.filePath(QStringLiteral("autostart"))); // a file where the folder goes
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        form.Check5->click();
        blocker.remove();
        QVERIFY(!form.Check5->isChecked() && MessageBox::shown().first().text.contains(entry));
    }

    // The notice board stands aside from a question, whichever came first, and comes back after it.
    void boardNeverHidesAQuestion_data()
    {
        QTest::addColumn<bool>("boardFirst");
        QTest::newRow("board, then question") << true;
        QTest::newRow("question, then board") << false;
    }

    void boardNeverHidesAQuestion()
    {
        QFETCH(bool, boardFirst);
        FormSlot<MsgForm> board;
        HistoryForm history(*m_settings);
        history.show();
        centreOnScreen(&history);
        QMessageBox question(QMessageBox::Question, MessageBox::programTitle(),
                             QStringLiteral("キーワード「spam」を削除しますか？"), QMessageBox::Yes | QMessageBox::No,
                             &history);
        if (boardFirst)
            board.show();
        question.open();
        const QRect centred = board.show()->frameGeometry();
        QVERIFY(centred.intersects(question.frameGeometry())); // where it would cover the question
        QTRY_VERIFY(!board.loaded()->frameGeometry().intersects(question.frameGeometry()));
        question.done(QMessageBox::No);
        QTRY_VERIFY(board.loaded()->frameGeometry().intersects(question.frameGeometry()));
    }

    void enterAfterConversionRegisters()
    {
        GekitaiForm form;
        QInputMethodEvent committed; // the conversion's end: its Enter went to the input method
        committed.setCommitString(QStringLiteral("迷惑"));
        QApplication::sendEvent(form.Text1, &committed);
        QTest::keyClick(form.Text1, Qt::Key_Return);
        QVERIFY(form.List1->count() == 1 && form.List1->item(0)->text().trimmed() == u"迷惑");
    }

    // On a 1366 x 768 screen at twice the scale: the window fits, and says what its list lacks.
    void historyWindow()
    {
        HistoryForm form(*m_settings);
        form.show();
        const QRect area = form.screen()->availableGeometry();
        QCOMPARE(area.size(), QSize(683, 384)); // the screen main() asked for
        QVERIFY(form.frameGeometry().width() <= area.width() && form.frameGeometry().height() <= area.height());
        QVERIFY(form.EmptyLabel->isVisible());
        form.Command3->click(); // nothing to remove: said, not ignored
        QCOMPARE(MessageBox::shown().size(), 1);

        const QDateTime time = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch());
        QVERIFY(SavedCopies::store(time, 1, "Subject: s\r\nFrom: f\r\n\r\nbody\r\n").isEmpty());
        const QString sender = QStringLiteral("長い差出人の名前 <long.sender.name@very-long-domain.example>");
        QVERIFY(DeletionHistory::append(
                    {{time, false, "", -1, "spam", "f", "s"}, {time, true, "", -1, "spam", sender.repeated(4), "s"}})
                    .isEmpty());
        form.refresh();
        QVERIFY(!form.EmptyLabel->isVisible());
        form.List1->setCurrentItem(form.List1->findItems(QStringLiteral("f"), Qt::MatchExactly, 1).first());
        form.Command4->click();
        QCOMPARE(m_opened, QUrl::fromLocalFile(SavedCopies::folder()));
        // Dates whole, also the trial's marked one.
        const QString trialDate = form.List1->findItems(sender.repeated(4), Qt::MatchExactly, 1).first()->text(0);
        QVERIFY(form.List1->columnWidth(0) >= form.List1->fontMetrics().horizontalAdvance(trialDate));
    }
};

// A 1366 x 768 screen shown at twice the scale, as on a small laptop set to 200 %.
int main(int argc, char* argv[])
{
    QTemporaryDir screens;
    QFile config(screens.filePath(QStringLiteral("screens.json")));
    if (!config.open(QIODevice::WriteOnly) ||
        config.write(R"({"screens": [{"name": "laptop", "x": 0, "y": 0, "width": 1366, "height": 768}]})") < 0)
        return 1;
    config.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toUtf8());
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    QApplication::setAttribute(Qt::AA_Use96Dpi);
    TestSettingsWindows test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_settingswindows.moc"
