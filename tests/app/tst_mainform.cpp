#include "TestProgramFolder.h"
#include "app/HELPForm.h"
#include "app/MainForm.h"
#include "keywords/GekitaiForm.h"
#include "platform/ExternalBrowser.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "platform/PageView.h"
#include "platform/WindowPlacement.h"
#include "settings/IdPassForm.h"
#include "settings/OptionForm.h"
#include "settings/ProgramFolder.h"
#include "settings/SetForm.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSet>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <memory>

// The main window on the offscreen platform: start-up, shutdown, the settings it owns, every command.
namespace {
struct StartRow
{
    QByteArray general; // lines of "[EXEINI]"; empty: no file
    bool server;        // a POP3 server is configured
    QString text7;
};

struct ChoiceRow
{
    QString chosen; // empty: the dialog is cancelled
    bool yes;
    QString path; // in use afterwards and stored at exit
    QString title;
    QString refused; // a character the settings file cannot hold: refused, naming it
};
} // namespace

class TestMainForm : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestProgramFolder> m_folder;

    std::unique_ptr<MainForm> start()
    {
        auto form = std::make_unique<MainForm>();
        form->show();
        return form;
    }

private Q_SLOTS:
    void cleanup() { setBrowserOpener({}); }

    void init()
    {
        MessageBox::reset();
        m_folder = std::make_unique<TestProgramFolder>(true, true);
    }

    void startUp_data()
    {
        QTest::addColumn<StartRow>("row");
        QTest::newRow("no files: settings window shown") << StartRow{{}, false, "0"};
        QTest::newRow("interval 5, hang-up on") << StartRow{"NUMBER=1\r\nNUMBER2=5\r\n", true, "5"};
        QTest::newRow("negative interval shown, not armed") << StartRow{"NUMBER2=-3\r\n", true, "-3"};
    }

    void startUp()
    {
        QFETCH(StartRow, row);
        if (!row.general.isEmpty())
            m_folder->write(GeneralFile, "[EXEINI]\r\n" + row.general);
        if (row.server)
            m_folder->writeServer("pop.example.jp", 1);
        auto form = start();
        QCOMPARE(form->settings().account().UseApop, qint16(row.server));
        QVERIFY(form->setForm().isLoaded() && form->setForm().loaded()->isVisible() == !row.server);
        QCOMPARE(form->setForm().loaded()->Check1->isChecked(), row.general.contains("NUMBER=1"));
        const bool armed = row.text7.toInt() > 0;
        QVERIFY(form->Check1->isChecked() == armed && form->Timer3->isActive() == armed);
        QCOMPARE(form->Text7->text(), row.text7);
        // The event scene rests and the interval poll runs.
        QVERIFY(form->Command5->isEnabled() && !form->Command12->isEnabled() && !form->Timer1->isActive());
        QCOMPARE(form->WebBrowser1->address(), Paths::fileAddress(Paths::restingPage()));
        QVERIFY(form->Timer4->isActive());
        QCOMPARE(form->size(), QSize(433, 307 + form->menuBar()->height()));
    }

    void firstStartStoresAtExit()
    {
        m_folder = std::make_unique<TestProgramFolder>(false, true); // not even the data folder
        auto form = start();
        QCOMPARE(form->Text1->text(), QStringLiteral("未設定"));
        form->close();
        QCOMPARE(m_folder->read(GeneralFile), QByteArray("[EXEINI]\r\nNUMBER2=0\r\nNAME=\x96\xA2\x90\xDD\x92\xE8\r\n"));
    }

    void settingsWindowDrivesTheMainWindow()
    {
        m_folder->writeServer("pop.example.jp");
        m_folder->write(GeneralFile, "[EXEINI]\r\nNUMBER2=5\r\n");
        auto form = start();
        for (int tick = 0; tick < 3 * 61; ++tick) // three minutes on the way to five
            form->Timer3_Timer();
        // Typed key by key: the values passed through on the way start no check.
        SetForm* settings = form->setForm().show();
        settings->Text2->selectAll();
        const std::tuple<int, bool, const char*> steps[] = {
            {Qt::Key_Backspace, 0, "0"}, {Qt::Key_1, 1, "01"}, {Qt::Key_0, 1, "010"}};
        for (const auto& [key, on, shown] : steps) {
            QTest::keyClick(settings->Text2, Qt::Key(key));
            form->Timer4_Timer();
            QCOMPARE(form->lastCheck().kind, CheckOutcome::Kind::NotRun);
            QVERIFY(form->Check1->isChecked() == on && form->Timer3->isActive() == on);
            QCOMPARE(form->Text7->text(), QString(shown));
        }
        // Its buttons open the account and server windows, which edit the same settings.
        QTest::mouseClick(settings->Command1, Qt::LeftButton);
        QVERIFY(form->idPassForm().isLoaded() && form->idPassForm().loaded()->isVisible());
        QTest::mouseClick(settings->Command2, Qt::LeftButton);
        OptionForm* server = form->optionForm().loaded();
        QVERIFY(server && server->isVisible());
        server->Pop3Text->setText("other.example.jp");
        server->OkCommand->click();
        QCOMPARE(form->settings().account().Pop3Server, QStringLiteral("other.example.jp"));
    }

    void endings_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("stored");
        for (const char* how : {"button", "menu"}) // "終了" ends at once
            QTest::newRow(how) << QString(how) << QStringLiteral("/usr/bin/old");
        for (const char* how : {"close box", "tray pop-up"}) // the shutdown stores the mail program
            QTest::newRow(how) << QString(how) << QStringLiteral("/home/メーラー①");
    }

    void endings()
    {
        QFETCH(QString, how);
        QFETCH(QString, stored);
        m_folder->write(GeneralFile, "[EXEINI]\r\nNAME=/usr/bin/old\r\n");
        auto form = start();
        form->Text1->setText(QStringLiteral("/home/メーラー①"));
        if (how == u"button")
            QTest::mouseClick(form->Command2, Qt::LeftButton);
        else if (how == u"menu")
            form->mend->trigger();
        else if (how == u"close box")
            form->close();
        else
            form->mnuPopup->actions().at(2)->trigger();
        SettingsModel next;
        next.loadGeneral();
        QCOMPARE(next.general().mailProgram, stored);
    }

    void mailProgramChoice_data()
    {
        QTest::addColumn<ChoiceRow>("row");
        QTest::newRow("first use cancelled") << ChoiceRow{"", true, "", "", ""};
        QTest::newRow("chosen") << ChoiceRow{"/opt/my mail/起動.sh", true, "/opt/my mail/起動.sh", "起動.sh", ""};
        QTest::newRow("answered No keeps the old one") << ChoiceRow{"/usr/bin/new", false, "/usr/bin/old", "", ""};
        QTest::newRow("no cp932 form: refused") << ChoiceRow{"/opt/café/mail", true, "/usr/bin/old", "", "é"};
    }

    void mailProgramChoice()
    {
        QFETCH(ChoiceRow, row);
        m_folder->write(GeneralFile, "[EXEINI]\r\nNAME=/usr/bin/old\r\n");
        auto form = start();
        FileDialog::setNextFileName(row.chosen);
        MessageBox::setNextAnswer(row.yes ? MessageBox::Yes : MessageBox::No);
        QTest::mouseClick(form->Command7, Qt::LeftButton);
        QCOMPARE(MessageBox::shown().last().text.section(u'」', 0, 0),
                 row.refused.isEmpty() ? "『 " + QFileInfo(row.chosen).fileName() +
                                             "』 が起動するメーラーとして設定されました。これで良いですか？"
                                       : "「" + row.refused);
        QCOMPARE(form->Text2->text(), row.title);
        QCOMPARE(form->settings().general().mailProgram, row.path); // what the next check starts
        form->close();
        QCOMPARE(m_folder->read(GeneralFile), "[EXEINI]\r\nNAME=" + cp932(row.path) + "\r\nNUMBER2=0\r\n");
    }

    void windowsOpenOnceEach()
    {
        m_folder->writeServer("pop.example.jp");
        auto form = start();
        QTest::mouseClick(form->Command8, Qt::LeftButton);
        GekitaiForm* keywords = form->gekitaiForm().loaded();
        form->mspam->trigger();
        QVERIFY(keywords && keywords->isVisible() && form->gekitaiForm().loaded() == keywords);
        QVERIFY(!form->setForm().loaded()->isVisible());
        form->mset->trigger();
        SetForm* settings = form->setForm().loaded();
        QTest::mouseClick(form->Command9, Qt::LeftButton);
        QVERIFY(settings->isVisible() && form->setForm().loaded() == settings);
        QTest::mouseClick(form->Command11, Qt::LeftButton);
        HELPForm* help = form->helpForm().loaded();
        QVERIFY(help && help->isVisible());
        QCOMPARE(help->WebBrowser1->address(), Paths::fileAddress(Paths::helpPage()));
    }

    void webPagesOpenInBrowser()
    {
        auto form = start();
        QStringList opened;
        setBrowserOpener([&opened](const QUrl& url) { return QFile::exists((opened << url.toLocalFile()).last()); });
        QTest::mouseClick(form->Command3, Qt::LeftButton);
        QTest::mouseClick(form->Command10, Qt::LeftButton);
        QCOMPARE(opened, (QStringList{Paths::htmlFolder() + "/mailer.htm", Paths::htmlFolder() + "/oshibana.htm"}));
        QVERIFY(MessageBox::shown().isEmpty());
        setBrowserOpener([](const QUrl&) { return false; });
        QTest::mouseClick(form->Command3, Qt::LeftButton);
        QVERIFY(MessageBox::shown().size() == 1 && MessageBox::shown().first().text.contains("mailer.htm"));
    }

    void trayIconWhileHidden()
    {
        auto form = start();
        const QDate before = QDate::currentDate();
        form->mtask->trigger();
        const QDate after = QDate::currentDate(); // the tip may be dated either side of midnight
        const QString tip = form->TrayControl1()->toolTip();
        const auto date = [](QDate day) { return QLocale::system().toString(day, QLocale::ShortFormat); };
        QVERIFY2(tip.contains(date(before)) || tip.contains(date(after)), qPrintable(tip));
        if (!QSystemTrayIcon::isSystemTrayAvailable()) // without a tray the window must stay reachable
            QVERIFY(form->isVisible() && MessageBox::shown().first().text.contains(QStringLiteral("タスクトレイ")));
        QCOMPARE(form->TrayControl1()->contextMenu(), form->mnuPopup); // every tray host can show it
        form->hide();                                                  // as in the tray
        MessageBox::reset();
        form->TrayControl1_IconEvent(0);
        QCOMPARE(MessageBox::shown().size(), 1);
        QCOMPARE(MessageBox::shown().first().text, QStringLiteral("Clicked!"));
        // The pop-up's way back to the window is driven on real tray hosts (tests/e2e).
    }

    void topmostOnAndOff()
    {
        auto form = start();
        form->mzenmen->trigger();
        QVERIFY(isTopmost(form.get()));
        // Its own windows stay above it: the window system keeps them in front of their owner.
        for (QWidget* window : std::initializer_list<QWidget*>{form->setForm().show(), form->optionForm().show(),
                                                               form->idPassForm().show(), form->gekitaiForm().show()})
            QCOMPARE(window->windowHandle()->transientParent(), form->windowHandle());
        form->mkaijyo->trigger();
        QVERIFY(!isTopmost(form.get()) && form->isVisible());
    }
};

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
