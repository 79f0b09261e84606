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
#include <memory>

// The main window on the offscreen platform: start-up, shutdown, the settings it owns, every command.
class TestMainForm : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup() { setBrowserOpener({}); }
    void startUp_data();
    void startUp();
    void firstStartStoresAtExit();
    void settingsWindowDrivesTheMainWindow();
    void endings_data();
    void endings();
    void mailProgramChoice_data();
    void mailProgramChoice();
    void windowsOpenOnceEach();
    void webPagesOpenInBrowser();
    void trayIconWhileHidden();
    void topmostOnAndOff();
    void windowsRender();

private:
    std::unique_ptr<MainForm> start();
    std::unique_ptr<TestProgramFolder> m_folder;
};

void TestMainForm::init()
{
    MessageBox::reset();
    m_folder = std::make_unique<TestProgramFolder>(true, true);
}

std::unique_ptr<MainForm> TestMainForm::start()
{
    auto form = std::make_unique<MainForm>();
    form->show();
    return form;
}

void TestMainForm::startUp_data()
{
    QTest::addColumn<QByteArray>("general");
    QTest::addColumn<bool>("server"); // a POP3 server is configured
    QTest::addColumn<bool>("intervalOn");
    QTest::addColumn<QString>("text7");
    QTest::newRow("no files: settings window shown") << QByteArray() << false << false << "0";
    QTest::newRow("interval 5") << QByteArray("NUMBER=1\r\nNUMBER2=5\r\n") << true << true << "5";
    QTest::newRow("negative interval shown, not armed") << QByteArray("NUMBER2=-3\r\n") << true << false << "-3";
}

void TestMainForm::startUp()
{
    QFETCH(QByteArray, general);
    QFETCH(bool, server);
    QFETCH(bool, intervalOn);
    QFETCH(QString, text7);
    if (!general.isEmpty())
        m_folder->write(GeneralFile, "[EXEINI]\r\n" + general);
    if (server)
        m_folder->writeServer("pop.example.jp", 1);
    auto form = start();
    QCOMPARE(form->settings().account().Pop3Server, QString(server ? "pop.example.jp" : ""));
    QVERIFY(form->setForm().isLoaded()); // loaded hidden in any case
    QCOMPARE(form->setForm().get()->isVisible(), !server);
    QCOMPARE(form->setForm().get()->Check1->isChecked(), general.contains("NUMBER=1"));
    QCOMPARE(form->Check1->isChecked(), intervalOn);
    QCOMPARE(form->Timer3->isActive(), intervalOn);
    QCOMPARE(form->Text7->text(), text7);
    // The event scene rests and the interval poll runs.
    QVERIFY(form->Command5->isEnabled() && !form->Command12->isEnabled() && !form->Timer1->isActive());
    QCOMPARE(form->WebBrowser1->address(), Paths::fileAddress(Paths::restingPage()));
    QVERIFY(form->Timer4->isActive());
    QCOMPARE(form->size(), QSize(433, 307 + form->menuBar()->height()));
}

void TestMainForm::firstStartStoresAtExit()
{
    m_folder = std::make_unique<TestProgramFolder>(false, true); // not even the data folder
    auto form = start();
    QCOMPARE(form->Text1->text(), QStringLiteral("未設定"));
    form->close();
    QCOMPARE(m_folder->read(GeneralFile), QByteArray("[EXEINI]\r\nNUMBER2=0\r\nNAME=\x96\xA2\x90\xDD\x92\xE8\r\n"));
}

void TestMainForm::settingsWindowDrivesTheMainWindow()
{
    m_folder->writeServer("pop.example.jp");
    auto form = start();
    SetForm* settings = form->setForm().show();
    const struct
    {
        const char* typed;
        bool on;
        const char* shown;
    } steps[] = {{"5", true, "5"}, {"-3", true, "5"}, {"0", false, "0"}, {"2", true, "2"}};
    for (const auto& step : steps) {
        settings->Text2->setText(step.typed);
        QCOMPARE(form->Check1->isChecked(), step.on);
        QCOMPARE(form->Timer3->isActive(), step.on);
        QCOMPARE(form->Text7->text(), QString(step.shown));
    }
    // Its buttons open the account and server windows, which edit the same settings.
    QTest::mouseClick(settings->Command1, Qt::LeftButton);
    QVERIFY(form->idPassForm().isLoaded() && form->idPassForm().get()->isVisible());
    QTest::mouseClick(settings->Command2, Qt::LeftButton);
    OptionForm* server = form->optionForm().loaded();
    QVERIFY(server && server->isVisible());
    server->Pop3Text->setText("other.example.jp");
    server->OkCommand->click();
    QCOMPARE(form->settings().account().Pop3Server, QStringLiteral("other.example.jp"));
}

void TestMainForm::endings_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("stored");
    QTest::newRow("終了 button ends at once") << "button"
                                              << "/usr/bin/old";
    QTest::newRow("終了 menu item ends at once") << "menu"
                                                 << "/usr/bin/old";
    QTest::newRow("close box stores") << "close"
                                      << "/home/メーラー①";
    QTest::newRow("tray pop-up 終了 stores") << "tray"
                                             << "/home/メーラー①";
}

void TestMainForm::endings()
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
    else if (how == u"close")
        form->close();
    else
        form->mnuPopup->actions().at(2)->trigger();
    SettingsModel next;
    next.loadGeneral();
    QCOMPARE(next.general().mailProgram, stored);
}

void TestMainForm::mailProgramChoice_data()
{
    QTest::addColumn<QString>("chosen"); // empty: the dialog is cancelled
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");
    QTest::newRow("first use cancelled") << "" << true << ""
                                         << "";
    QTest::newRow("chosen") << "/opt/my mail/起動.sh" << true << "/opt/my mail/起動.sh"
                            << "起動.sh";
    QTest::newRow("answered No keeps the old one") << "/usr/bin/new" << false << "/usr/bin/old"
                                                   << "";
}

void TestMainForm::mailProgramChoice()
{
    QFETCH(QString, chosen);
    QFETCH(bool, yes);
    QFETCH(QString, path);
    QFETCH(QString, title);
    m_folder->write(GeneralFile, "[EXEINI]\r\nNAME=/usr/bin/old\r\n");
    auto form = start();
    FileDialog::setNextFileName(chosen);
    MessageBox::setNextAnswer(yes ? MessageBox::Yes : MessageBox::No);
    QTest::mouseClick(form->Command7, Qt::LeftButton);
    const MessageBox::Shown question = MessageBox::shown().last();
    QCOMPARE(question.text,
             "『 " + QFileInfo(chosen).fileName() + "』 が起動するメーラーとして設定されました。これで良いですか？");
    QCOMPARE(question.buttons, MessageBox::YesNo);
    QCOMPARE(form->Text2->text(), title);
    QCOMPARE(form->settings().general().mailProgram, path); // what the next check starts
    form->close();
    QCOMPARE(m_folder->read(GeneralFile), "[EXEINI]\r\nNAME=" + cp932(path) + "\r\nNUMBER2=0\r\n");
}

void TestMainForm::windowsOpenOnceEach()
{
    m_folder->writeServer("pop.example.jp");
    auto form = start();
    QTest::mouseClick(form->Command8, Qt::LeftButton);
    GekitaiForm* keywords = form->gekitaiForm().loaded();
    QVERIFY(keywords && keywords->isVisible());
    form->mspam->trigger();
    QCOMPARE(form->gekitaiForm().loaded(), keywords);
    QVERIFY(!form->setForm().get()->isVisible());
    form->mset->trigger();
    SetForm* settings = form->setForm().loaded();
    QVERIFY(settings->isVisible());
    QTest::mouseClick(form->Command9, Qt::LeftButton);
    QCOMPARE(form->setForm().loaded(), settings);
    QTest::mouseClick(form->Command11, Qt::LeftButton);
    HELPForm* help = form->helpForm().loaded();
    QVERIFY(help && help->isVisible());
    QCOMPARE(help->WebBrowser1->address(), Paths::fileAddress(Paths::helpPage()));
}

void TestMainForm::webPagesOpenInBrowser()
{
    auto form = start();
    QStringList opened;
    setBrowserOpener([&opened](const QUrl& url) {
        opened << url.toLocalFile();
        return QFile::exists(url.toLocalFile());
    });
    QTest::mouseClick(form->Command3, Qt::LeftButton);
    QTest::mouseClick(form->Command10, Qt::LeftButton);
    QCOMPARE(opened, (QStringList{Paths::htmlFolder() + "/mailer.htm", Paths::htmlFolder() + "/oshibana.htm"}));
    QVERIFY(MessageBox::shown().isEmpty());
    setBrowserOpener([](const QUrl&) { return false; });
    QTest::mouseClick(form->Command3, Qt::LeftButton);
    QCOMPARE(MessageBox::shown().size(), 1);
    QVERIFY(MessageBox::shown().first().text.contains("mailer.htm"));
}

void TestMainForm::trayIconWhileHidden()
{
    auto form = start();
    const QDate before = QDate::currentDate();
    form->mtask->trigger();
    const QDate after = QDate::currentDate(); // the tip may be dated either side of midnight
    const QString tip = form->TrayControl1()->toolTip();
    const auto shortDate = [](QDate date) { return QLocale::system().toString(date, QLocale::ShortFormat); };
    QVERIFY2(tip.contains(shortDate(before)) || tip.contains(shortDate(after)), qPrintable(tip));
    if (!QSystemTrayIcon::isSystemTrayAvailable()) { // without a tray the window must stay reachable
        QVERIFY(form->isVisible());
        QVERIFY(MessageBox::shown().first().text.contains(QStringLiteral("タスクトレイ")));
    }
    form->hide(); // as in the tray
    MessageBox::reset();
    form->TrayControl1_IconEvent(0);
    QCOMPARE(MessageBox::shown().size(), 1);
    QCOMPARE(MessageBox::shown().first().text, QStringLiteral("Clicked!"));
    QCOMPARE(MessageBox::shown().first().icon, MessageBox::Exclamation);
    form->TrayControl1_IconEvent(1);
    QTRY_VERIFY(form->mnuPopup->isVisible());
    const QList<QAction*> items = form->mnuPopup->actions();
    QCOMPARE(items.size(), 3);
    QCOMPARE(items[0]->text(), QStringLiteral("メイン画面を表示"));
    QVERIFY(items[1]->isSeparator());
    items[0]->trigger();
    QVERIFY(form->isVisible());
}

void TestMainForm::topmostOnAndOff()
{
    auto form = start();
    form->mzenmen->trigger();
    QVERIFY(isTopmost(form.get()));
    form->mkaijyo->trigger();
    QVERIFY(!isTopmost(form.get()));
    QVERIFY(form->isVisible());
}

void TestMainForm::windowsRender()
{
    m_folder->write(GeneralFile, "[EXEINI]\r\nNUMBER2=10\r\nNUMBER5=1\r\n");
    auto form = start();
    const QImage main = form->grab().toImage();
    const QImage settings = form->setForm().show()->grab().toImage();
    QCOMPARE(main.size(), form->size() * main.devicePixelRatio());
    QCOMPARE(settings.size(), form->setForm().loaded()->size() * settings.devicePixelRatio());
    // The green ground below the scene, and real drawing: text and buttons, not one flat colour.
    QCOMPARE(main.pixelColor(main.width() - 4, main.height() - 3), QColor(0, 192, 0));
    for (const QImage& image : {main, settings}) {
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 2)
            for (int x = 0; x < image.width(); x += 2)
                colours.insert(image.pixel(x, y));
        QVERIFY2(colours.size() > 20, qPrintable(QString::number(colours.size())));
    }
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
