#include "platform/FormSlot.h"
#include "platform/MessageBox.h"
#include "platform/WindowPlacement.h"
#include "settings/OptionForm.h"
#include "settings/SettingsFiles.h"
#include "tests/support/TestProgramFolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {
const QString ServerFile = QStringLiteral("tolvex.ini");

QByteArray serverBytes(const QString& smtp, const QString& pop3, const QString& mail, const QString& apop)
{
    return cp932(u"SMTP=%1\r\nPOP3=%2\r\nMAIL=%3\r\nAPOP=%4\r\n"_qs.arg(smtp, pop3, mail, apop));
}

// Loads the settings as the main window does at start and opens the window active.
OptionForm* open(FormSlot<OptionForm>& slot)
{
    LoadServerSettings();
    OptionForm* form = slot.show();
    QApplication::setActiveWindow(form);
    if (!QTest::qWaitForWindowActive(form))
        qWarning("window did not become active");
    return form;
}

void checkShows(OptionForm* form, const QString& smtp, const QString& pop3, const QString& mail, bool apop)
{
    QCOMPARE(form->SmtpText->text(), smtp);
    QCOMPARE(form->Pop3Text->text(), pop3);
    QCOMPARE(form->MailText->text(), mail);
    QCOMPARE(form->ApopCheck->isChecked(), apop);
}

// Replaces a text box's text by typing, as the user would; an input method brings non-ASCII text.
void retype(QLineEdit* box, const QString& text)
{
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    if (std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; }))
        QTest::keyClicks(box, text);
    else
        box->insert(text);
}
} // namespace

class TestOptionForm : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        accountSettings() = AccountSettings{};
        MessageBox::reset();
    }

    void showsStoredValuesOnTop_data();
    void showsStoredValuesOnTop();
    void setStoresAsTyped_data();
    void setStoresAsTyped();
    void keysAndButtons_data();
    void keysAndButtons();
    void failedWriteIsReported_data();
    void failedWriteIsReported();
};

void TestOptionForm::showsStoredValuesOnTop_data()
{
    QTest::addColumn<QByteArray>("file"); // empty: no server settings file
    QTest::addColumn<QString>("pop3");
    QTest::addColumn<bool>("apop");
    QTest::newRow("no file") << QByteArray() << QString() << false;
    QTest::newRow("APOP 0") << serverBytes("s", "pop.example.jp", "山田@例.jp", "0") << u"pop.example.jp"_qs << false;
    QTest::newRow("APOP 1") << serverBytes("s", "pop3s://pop.example.jp", "山田@例.jp", "1")
                            << u"pop3s://pop.example.jp"_qs << true;
    // Any non-zero value logs in with APOP, so the box shows it ticked.
    QTest::newRow("APOP 2") << serverBytes("s", "p", "山田@例.jp", "2") << u"p"_qs << true;
    QTest::newRow("APOP -1") << serverBytes("s", "p", "山田@例.jp", "-1") << u"p"_qs << true;
    QTest::newRow("APOP letters") << serverBytes("s", "p", "山田@例.jp", "yes") << u"p"_qs << false;
}

void TestOptionForm::showsStoredValuesOnTop()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, pop3);
    QFETCH(bool, apop);
    TestProgramFolder folder;
    if (!file.isEmpty())
        folder.write(ServerFile, file);
    LoadServerSettings();

    FormSlot<OptionForm> slot;
    OptionForm* form = slot.get(); // loading alone shows it, on top
    QVERIFY(form->isVisible());
    QVERIFY(isTopmost(form));
    QCOMPARE(form->windowTitle(), u"サーバー設定"_qs);
    const bool none = file.isEmpty();
    checkShows(form, none ? QString() : u"s"_qs, pop3, none ? QString() : u"山田@例.jp"_qs, apop);
}

void TestOptionForm::setStoresAsTyped_data()
{
    QTest::addColumn<QStringList>("values"); // SMTP, POP3, mail address
    QTest::addColumn<bool>("apop");
    QTest::newRow("plain values") << QStringList{"smtp.example.jp", "pop.example.jp", "taro@example.jp"} << false;
    QTest::newRow("APOP on, port") << QStringList{"smtp.example.jp", "pop.example.jp:1110", "taro@example.jp"} << true;
    QTest::newRow("blanks kept") << QStringList{" smtp.example.jp ", "  pop.example.jp", "taro@example.jp  "} << false;
    QTest::newRow("empty POP3 server") << QStringList{"smtp.example.jp", "", ""} << true;
    QTest::newRow("all empty") << QStringList{"", "", ""} << false;
    QTest::newRow("Japanese and cp932 extensions") << QStringList{"送信①", "pop3s://受信.jp", "山田～@例.jp"} << true;
}

void TestOptionForm::setStoresAsTyped()
{
    QFETCH(QStringList, values);
    QFETCH(bool, apop);
    TestProgramFolder folder;
    folder.write(ServerFile, serverBytes("old.smtp", "old.pop", "old@mail", "1"));

    FormSlot<OptionForm> slot;
    OptionForm* form = open(slot);
    retype(form->SmtpText, values[0]);
    retype(form->Pop3Text, values[1]);
    retype(form->MailText, values[2]);
    if (form->ApopCheck->isChecked() != apop)
        QTest::mouseClick(form->ApopCheck, Qt::LeftButton);
    QTest::mouseClick(form->OkCommand, Qt::LeftButton);

    QVERIFY(!slot.isLoaded());
    QVERIFY(MessageBox::shown().isEmpty());
    const AccountSettings& now = accountSettings();
    QCOMPARE((QStringList{now.SmtpServer, now.Pop3Server, now.MailAddress}), values);
    QCOMPARE(now.UseApop, qint16(apop ? 1 : 0));
    QCOMPARE(folder.read(ServerFile), serverBytes(values[0], values[1], values[2], apop ? u"1"_qs : u"0"_qs));

    // The next start reads the same values back, and the window shows them.
    accountSettings() = AccountSettings{};
    checkShows(open(slot), values[0], values[1], values[2], apop);
}

void TestOptionForm::keysAndButtons_data()
{
    QTest::addColumn<QString>("control"); // empty: the close box
    QTest::addColumn<int>("key");         // 0: a click
    QTest::addColumn<bool>("closes");
    QTest::addColumn<bool>("saves");
    QTest::newRow("中止") << u"CancelCommand"_qs << 0 << true << false;
    QTest::newRow("close box") << QString() << 0 << true << false;
    QTest::newRow("Esc in a text box") << u"Pop3Text"_qs << int(Qt::Key_Escape) << true << false;
    QTest::newRow("Esc on the check box") << u"ApopCheck"_qs << int(Qt::Key_Escape) << true << false;
    // There is no default button: Enter elsewhere does nothing, a focused button answers it.
    for (const char* box : {"SmtpText", "Pop3Text", "MailText", "ApopCheck"}) {
        QTest::addRow("Return in %s", box) << QString(box) << int(Qt::Key_Return) << false << false;
        QTest::addRow("Enter in %s", box) << QString(box) << int(Qt::Key_Enter) << false << false;
    }
    QTest::newRow("Return on 設定") << u"OkCommand"_qs << int(Qt::Key_Return) << true << true;
}

void TestOptionForm::keysAndButtons()
{
    QFETCH(QString, control);
    QFETCH(int, key);
    QFETCH(bool, closes);
    QFETCH(bool, saves);
    TestProgramFolder folder;
    const QByteArray before = serverBytes("smtp.example.jp", "pop.example.jp", "taro@example.jp", "0");
    folder.write(ServerFile, before);

    FormSlot<OptionForm> slot;
    OptionForm* form = open(slot);
    retype(form->Pop3Text, u"other.example.jp"_qs);
    form->ApopCheck->setChecked(true);
    QWidget* target = control.isEmpty() ? nullptr : form->findChild<QWidget*>(control);
    if (!target) {
        form->close();
    } else if (key == 0) {
        QTest::mouseClick(target, Qt::LeftButton);
    } else {
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));
    }

    QCOMPARE(slot.isLoaded(), !closes);
    QCOMPARE(accountSettings().Pop3Server, saves ? u"other.example.jp"_qs : u"pop.example.jp"_qs);
    QCOMPARE(accountSettings().UseApop, qint16(saves ? 1 : 0));
    QCOMPARE(folder.read(ServerFile),
             saves ? serverBytes("smtp.example.jp", "other.example.jp", "taro@example.jp", "1") : before);
}

void TestOptionForm::failedWriteIsReported_data()
{
    QTest::addColumn<bool>("blocked"); // a folder stands where the file should be
    QTest::addColumn<QString>("mail");
    QTest::newRow("file cannot be written") << true << u"taro@example.jp"_qs;
    QTest::newRow("text has no cp932 form") << false << u"taro😀@example.jp"_qs;
}

void TestOptionForm::failedWriteIsReported()
{
    QFETCH(bool, blocked);
    QFETCH(QString, mail);
    TestProgramFolder folder;
    if (blocked)
        QVERIFY(QDir().mkpath(folder.file(ServerFile)));
    FormSlot<OptionForm> slot;
    OptionForm* form = slot.show();
    form->Pop3Text->setText(u" pop.example.jp"_qs);
    form->MailText->setText(mail);
    form->OkCommand->click();

    QCOMPARE(MessageBox::shown().size(), 1);
    QVERIFY2(MessageBox::shown().first().text.contains(u"tolvex.ini"_qs), qPrintable(MessageBox::shown().first().text));
    // The values stay in effect as typed, and the window stays open for another try.
    QCOMPARE(accountSettings().Pop3Server, u" pop.example.jp"_qs);
    QCOMPARE(accountSettings().MailAddress, mail);
    QVERIFY(slot.isLoaded());
    QCOMPARE(folder.exists(ServerFile), blocked);
}

QTEST_MAIN(TestOptionForm)
#include "tst_optionform.moc"
