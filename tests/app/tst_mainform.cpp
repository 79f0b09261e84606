#include "TestProgramFolder.h"
#include "app/EventScene.h"
#include "app/HELPForm.h"
#include "app/MainForm.h"
#include "keywords/GekitaiForm.h"
#include "platform/ExternalBrowser.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"
#include "platform/PageView.h"
#include "platform/WindowPlacement.h"
#include "settings/ProgramFolder.h"
#include "settings/SetForm.h"
#include "settings/SettingsFiles.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <memory>

// The main window on the offscreen platform: start-up, shutdown and every command.
class TestMainForm : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void firstStartWithoutFiles();
    void startWithServerSet();
    void hangUpSwitchFromFile_data();
    void hangUpSwitchFromFile();
    void intervalShownAndArmed();
    void endings_data();
    void endings();
    void mailProgramChoice();
    void mailProgramChoiceCancelledAfterEarlierChoice();
    void mailProgramChoiceAnsweredNo();
    void windowsOpenOnceEach();
    void webPagesOpenInBrowser();
    void trayWithoutTrayHostKeepsWindow();
    void trayIconCodesWhileHidden();
    void topmostOnAndOff();
    void screenshots();

private:
    std::unique_ptr<MainForm> start();
    std::unique_ptr<TestProgramFolder> m_folder;
};

void TestMainForm::init()
{
    MessageBox::reset();
    m_folder = std::make_unique<TestProgramFolder>(true, true);
    accountSettings() = AccountSettings{};
}

void TestMainForm::cleanup()
{
    setBrowserOpener({});
}

std::unique_ptr<MainForm> TestMainForm::start()
{
    auto form = std::make_unique<MainForm>();
    form->show();
    return form;
}

void TestMainForm::firstStartWithoutFiles()
{
    m_folder = std::make_unique<TestProgramFolder>(false, true); // not even the data folder
    auto form = start();
    QVERIFY(QDir(Paths::dataFolder()).exists());
    QCOMPARE(form->Text1->text(), QStringLiteral("未設定"));
    QVERIFY(form->setForm().isLoaded());
    QVERIFY(form->setForm().get()->isVisible()); // no server: the settings window opens
    // The event scene rests.
    QVERIFY(form->Command5->isEnabled());
    QVERIFY(!form->Command12->isEnabled());
    QVERIFY(!form->Timer1->isActive());
    QCOMPARE(form->WebBrowser1->address(), Paths::fileAddress(Paths::restingPage()));
    QVERIFY(!form->Timer3->isActive());
    QVERIFY(form->Timer4->isActive());
    QCOMPARE(form->Timer4->interval(), 20);
    QCOMPARE(form->size(), QSize(433, 307 + form->menuBar()->height()));
    form->close();
    QCOMPARE(ReadIniText(Paths::generalSettingsFile(), "NAME", "absent"), QStringLiteral("未設定"));
}

void TestMainForm::startWithServerSet()
{
    m_folder->write("tolvex.ini", "SMTP=s\r\nPOP3=pop.example.jp\r\nMAIL=m\r\nAPOP=1\r\n");
    auto form = start();
    QCOMPARE(accountSettings().Pop3Server, QStringLiteral("pop.example.jp"));
    QCOMPARE(accountSettings().UseApop, qint16(1));
    QVERIFY(form->setForm().isLoaded()); // loaded as the live store of the switches,
    QVERIFY(!form->setForm().get()->isVisible()); // but not shown
}

void TestMainForm::hangUpSwitchFromFile_data()
{
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<bool>("ticked");
    QTest::newRow("1 ticks") << QByteArray("1") << true;
    QTest::newRow("0 clears") << QByteArray("0") << false;
    QTest::newRow("2 leaves the window's own state") << QByteArray("2") << false;
}

void TestMainForm::hangUpSwitchFromFile()
{
    QFETCH(QByteArray, number);
    QFETCH(bool, ticked);
    m_folder->write("★MailData/ini.ini", "[EXEINI]\r\nNUMBER=" + number + "\r\n");
    auto form = start();
    QCOMPARE(form->setForm().get()->Check1->isChecked(), ticked);
}

void TestMainForm::intervalShownAndArmed()
{
    m_folder->write("★MailData/ini.ini", "[EXEINI]\r\nNUMBER2=5\r\n");
    auto form = start();
    QCOMPARE(form->Text7->text(), QStringLiteral("5"));
    QVERIFY(form->Check1->isChecked());
    QVERIFY(form->Timer3->isActive());
    QCOMPARE(form->Timer3->interval(), 1000);
    form->setForm().get()->Text2->setText("0");
    QVERIFY(!form->Timer3->isActive());
    QVERIFY(!form->Check1->isChecked());
}

void TestMainForm::endings_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("stored");
    QTest::newRow("終了 button ends at once") << "button" << "/usr/bin/old";
    QTest::newRow("終了 menu item ends at once") << "menu" << "/usr/bin/old";
    QTest::newRow("close box stores") << "close" << "/home/髙橋/メーラー①";
    QTest::newRow("tray pop-up 終了 stores") << "tray" << "/home/髙橋/メーラー①";
}

void TestMainForm::endings()
{
    QFETCH(QString, how);
    QFETCH(QString, stored);
    m_folder->write("★MailData/ini.ini", "[EXEINI]\r\nNAME=/usr/bin/old\r\n");
    auto form = start();
    form->Text1->setText(QStringLiteral("/home/髙橋/メーラー①"));
    if (how == u"button")
        QTest::mouseClick(form->Command2, Qt::LeftButton);
    else if (how == u"menu")
        form->mend->trigger();
    else if (how == u"close")
        form->close();
    else
        form->mnuPopup->actions().at(2)->trigger();
    QCOMPARE(ReadIniText(Paths::generalSettingsFile(), "NAME", ""), stored);
}

void TestMainForm::mailProgramChoice()
{
    auto form = start();
    FileDialog::setNextFileName(QString()); // first use, cancelled
    MessageBox::setNextAnswer(MessageBox::Yes);
    QTest::mouseClick(form->Command7, Qt::LeftButton);
    QCOMPARE(form->Text1->text(), QString());
    QCOMPARE(form->Text2->text(), QString());
    const MessageBox::Shown question = MessageBox::shown().last();
    QCOMPARE(question.text, QStringLiteral("『 』 が起動するメーラーとして設定されました。これで良いですか？"));
    QCOMPARE(question.caption, QStringLiteral("確認"));
    QCOMPARE(question.buttons, MessageBox::YesNo);
    QCOMPARE(question.icon, MessageBox::Question);
    form->close();
    QVERIFY(m_folder->read("★MailData/ini.ini").contains("NAME=\r\n"));
    auto next = start();
    QCOMPARE(next->Text1->text(), QStringLiteral("未設定"));
}

void TestMainForm::mailProgramChoiceCancelledAfterEarlierChoice()
{
    auto form = start();
    FileDialog::setNextFileName(QStringLiteral("/opt/my mail/起動.sh"));
    MessageBox::setNextAnswer(MessageBox::Yes);
    form->Command7_Click();
    QCOMPARE(form->Text1->text(), QStringLiteral("/opt/my mail/起動.sh"));
    QCOMPARE(form->Text2->text(), QStringLiteral("起動.sh"));
    form->Text1->setText("changed meanwhile");
    FileDialog::setNextFileName(QString());
    MessageBox::setNextAnswer(MessageBox::Yes);
    form->Command7_Click();
    QCOMPARE(form->Text1->text(), QStringLiteral("/opt/my mail/起動.sh")); // the dialog remembers its file
    QCOMPARE(MessageBox::shown().last().text,
             QStringLiteral("『 起動.sh』 が起動するメーラーとして設定されました。これで良いですか？"));
}

void TestMainForm::mailProgramChoiceAnsweredNo()
{
    m_folder->write("★MailData/ini.ini", "[EXEINI]\r\nNAME=/usr/bin/old\r\n");
    auto form = start();
    FileDialog::setNextFileName(QStringLiteral("/usr/bin/new"));
    MessageBox::setNextAnswer(MessageBox::No);
    form->Command7_Click();
    QCOMPARE(form->Text1->text(), QStringLiteral("/usr/bin/old"));
    QCOMPARE(form->Text2->text(), QString());
    form->close();
    QCOMPARE(ReadIniText(Paths::generalSettingsFile(), "NAME", ""), QStringLiteral("/usr/bin/old"));
}

void TestMainForm::windowsOpenOnceEach()
{
    m_folder->write("tolvex.ini", "POP3=pop.example.jp\r\n");
    auto form = start();
    QTest::mouseClick(form->Command8, Qt::LeftButton);
    GekitaiForm* keywords = form->gekitaiForm().loaded();
    QVERIFY(keywords && keywords->isVisible());
    form->mspam->trigger();
    QCOMPARE(form->gekitaiForm().loaded(), keywords);
    QTest::mouseClick(form->Command9, Qt::LeftButton);
    QVERIFY(form->setForm().get()->isVisible());
    form->mset->trigger();
    QTest::mouseClick(form->Command11, Qt::LeftButton);
    HELPForm* help = form->helpForm().loaded();
    QVERIFY(help && help->isVisible());
    QCOMPARE(help->WebBrowser1->address(), Paths::fileAddress(Paths::helpPage()));
    help->close();
    QTest::mouseClick(form->Command11, Qt::LeftButton);
    QVERIFY(form->helpForm().loaded() != nullptr);
    QVERIFY(form->helpForm().loaded()->isVisible());
}

void TestMainForm::webPagesOpenInBrowser()
{
    auto form = start();
    QList<QUrl> opened;
    setBrowserOpener([&opened](const QUrl& url) {
        opened << url;
        return true;
    });
    QTest::mouseClick(form->Command3, Qt::LeftButton);
    QTest::mouseClick(form->Command10, Qt::LeftButton);
    QCOMPARE(opened.size(), 2);
    QCOMPARE(opened[0].toLocalFile(), Paths::htmlFolder() + "/mailer.htm");
    QCOMPARE(opened[1].toLocalFile(), Paths::htmlFolder() + "/oshibana.htm");
    QVERIFY(QFile::exists(opened[0].toLocalFile()) && QFile::exists(opened[1].toLocalFile()));
    QVERIFY(MessageBox::shown().isEmpty());

    setBrowserOpener([](const QUrl&) { return false; });
    QTest::mouseClick(form->Command3, Qt::LeftButton);
    QCOMPARE(MessageBox::shown().size(), 1);
    QVERIFY(MessageBox::shown().first().text.contains("mailer.htm"));
}

void TestMainForm::trayWithoutTrayHostKeepsWindow()
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        QSKIP("a tray host is present; the tray itself is tested under Xvfb");
    auto form = start();
    QTest::mouseClick(form->Command4, Qt::LeftButton);
    QVERIFY(form->isVisible());
    QCOMPARE(MessageBox::shown().size(), 1);
    QVERIFY(MessageBox::shown().first().text.contains(QStringLiteral("タスクトレイ")));
}

void TestMainForm::trayIconCodesWhileHidden()
{
    auto form = start();
    form->mtask->trigger();
    const QString firstTip = form->TrayControl1()->toolTip();
    QVERIFY(firstTip.contains(QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat)));
    QTest::qWait(1100);
    form->Command4_Click();
    QVERIFY(form->TrayControl1()->toolTip() != firstTip); // the tip shows the second time
    form->hide();                                           // as in the tray
    MessageBox::reset();
    form->TrayControl1_IconEvent(0);
    QCOMPARE(MessageBox::shown().size(), 1);
    QCOMPARE(MessageBox::shown().first().text, QStringLiteral("Clicked!"));
    QCOMPARE(MessageBox::shown().first().caption, QStringLiteral("Mossvale"));
    QCOMPARE(MessageBox::shown().first().icon, MessageBox::Exclamation);
    QVERIFY(!form->isVisible());
    form->TrayControl1_IconEvent(7);
    QVERIFY(!form->isVisible());
    form->TrayControl1_IconEvent(1);
    QTRY_VERIFY(form->mnuPopup->isVisible());
    const QList<QAction*> items = form->mnuPopup->actions();
    QCOMPARE(items.size(), 3);
    QCOMPARE(items[0]->text(), QStringLiteral("メイン画面を表示"));
    QVERIFY(items[1]->isSeparator());
    QCOMPARE(items[2]->text(), QStringLiteral("終了"));
    items[0]->trigger();
    form->mnuPopup->hide();
    QVERIFY(form->isVisible());
}

void TestMainForm::topmostOnAndOff()
{
    auto form = start();
    form->mzenmen->trigger();
    QVERIFY(isTopmost(form.get()));
    form->mzenmen->trigger();
    QVERIFY(isTopmost(form.get()));
    QVERIFY(form->isVisible());
    form->mkaijyo->trigger();
    QVERIFY(!isTopmost(form.get()));
    QVERIFY(form->isVisible());
}

void TestMainForm::screenshots()
{
    const QString dir = qEnvironmentVariable("MOSSVALE_SCREENSHOTS");
    if (dir.isEmpty())
        QSKIP("set MOSSVALE_SCREENSHOTS to a folder to save pictures of the windows");
    m_folder->write("★MailData/ini.ini", "[EXEINI]\r\nNUMBER2=10\r\nNUMBER5=1\r\n");
    auto form = start();
    QTest::qWait(200);
    QVERIFY(form->grab().save(dir + "/mainform.png"));
    QVERIFY(form->setForm().show()->grab().save(dir + "/setform.png"));
    form->Command5_Click();
    QTest::qWait(200);
    QVERIFY(form->grab().save(dir + "/mainform-event.png"));
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
