#include "platform/FormSlot.h"
#include "platform/MessageBox.h"
#include "platform/WindowPlacement.h"
#include "settings/OptionForm.h"
#include "settings/SettingsFiles.h"
#include "tests/support/TestProgramFolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {
const QString ServerFile = QStringLiteral("tolvex.ini");

QByteArray serverBytes(const QString& smtp, const QString& pop3, const QString& mail, const QString& apop)
{
    return cp932(QStringLiteral("SMTP=%1\r\nPOP3=%2\r\nMAIL=%3\r\nAPOP=%4\r\n").arg(smtp, pop3, mail, apop));
}

OptionForm* showActive(FormSlot<OptionForm>& slot)
{
    OptionForm* form = slot.show();
    QApplication::setActiveWindow(form);
    if (!QTest::qWaitForWindowActive(form))
        qWarning("window did not become active");
    return form;
}

// Replaces a text box's text by typing, as the user would.
void retype(QLineEdit* box, const QString& text)
{
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    // Key events carry ASCII only; other characters come in as an input method commits them.
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii)
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

    void showsStoredValues_data();
    void showsStoredValues();
    void topmostLayoutAndFocus();
    void setStoresAsTyped_data();
    void setStoresAsTyped();
    void cancelChangesNothing_data();
    void cancelChangesNothing();
    void enterInTextBoxDoesNothing_data();
    void enterInTextBoxDoesNothing();
    void failedWriteIsReported_data();
    void failedWriteIsReported();
    void grab();
};

void TestOptionForm::showsStoredValues_data()
{
    QTest::addColumn<QByteArray>("file"); // empty: no server settings file
    QTest::addColumn<QString>("smtp");
    QTest::addColumn<QString>("pop3");
    QTest::addColumn<QString>("mail");
    QTest::addColumn<bool>("apop");

    QTest::newRow("no file") << QByteArray() << QString() << QString() << QString() << false;
    QTest::newRow("APOP off") << serverBytes("smtp.example.jp", "pop.example.jp", "taro@example.jp", "0")
                              << "smtp.example.jp"
                              << "pop.example.jp"
                              << "taro@example.jp" << false;
    QTest::newRow("APOP on") << serverBytes("s", "pop3s://pop.example.jp", "山田@例.jp", "1") << "s"
                             << "pop3s://pop.example.jp"
                             << "山田@例.jp" << true;
    // Any non-zero value logs in with APOP, so the box shows it ticked.
    QTest::newRow("APOP 2") << serverBytes("", "p", "", "2") << QString() << "p" << QString() << true;
    QTest::newRow("APOP -1") << serverBytes("", "p", "", "-1") << QString() << "p" << QString() << true;
    QTest::newRow("APOP letters") << serverBytes("", "p", "", "yes") << QString() << "p" << QString() << false;
}

void TestOptionForm::showsStoredValues()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, smtp);
    QFETCH(QString, pop3);
    QFETCH(QString, mail);
    QFETCH(bool, apop);
    TestProgramFolder folder;
    if (!file.isEmpty())
        folder.write(ServerFile, file);
    LoadServerSettings(); // as the main window does at start

    FormSlot<OptionForm> slot;
    OptionForm* form = slot.show();
    QCOMPARE(form->SmtpText->text(), smtp);
    QCOMPARE(form->Pop3Text->text(), pop3);
    QCOMPARE(form->MailText->text(), mail);
    QCOMPARE(form->ApopCheck->isChecked(), apop);
}

void TestOptionForm::topmostLayoutAndFocus()
{
    TestProgramFolder folder;
    FormSlot<OptionForm> slot;
    OptionForm* form = slot.get(); // loading alone shows it, on top
    QVERIFY(form->isVisible());
    QVERIFY(isTopmost(form));
    QCOMPARE(form->windowTitle(), QStringLiteral("サーバー設定"));
    for (QWidget* child : form->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        QVERIFY2(form->rect().contains(child->geometry()), qPrintable(child->objectName()));
    // How to ask for TLS is explained where the server name is typed.
    QVERIFY(form->Pop3Text->toolTip().contains(QStringLiteral("pop3s://")));
    QVERIFY(form->Pop3Text->toolTip().contains(QStringLiteral("STLS")));

    showActive(slot);
    QCOMPARE(QApplication::focusWidget(), form->MailText);
    const QList<QWidget*> order = {form->CancelCommand, form->OkCommand, form->ApopCheck,
                                   form->Pop3Text,      form->SmtpText,  form->MailText};
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    // The access keys of the labels lead to their boxes.
    QTest::keyClick(form, Qt::Key_P, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), form->Pop3Text);
    QTest::keyClick(form, Qt::Key_S, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), form->SmtpText);
}

void TestOptionForm::setStoresAsTyped_data()
{
    QTest::addColumn<QString>("smtp");
    QTest::addColumn<QString>("pop3");
    QTest::addColumn<QString>("mail");
    QTest::addColumn<bool>("apop");

    QTest::newRow("plain values") << "smtp.example.jp"
                                  << "pop.example.jp"
                                  << "taro@example.jp" << false;
    QTest::newRow("APOP on") << "smtp.example.jp"
                             << "pop.example.jp:1110"
                             << "taro@example.jp" << true;
    QTest::newRow("blanks kept") << " smtp.example.jp "
                                 << "  pop.example.jp"
                                 << "taro@example.jp  " << false;
    QTest::newRow("empty POP3 server") << "smtp.example.jp" << QString() << QString() << true;
    QTest::newRow("all empty") << QString() << QString() << QString() << false;
    QTest::newRow("Japanese and cp932 extensions") << "送信①"
                                                   << "pop3s://受信.jp"
                                                   << "山田～@例.jp" << true;
}

void TestOptionForm::setStoresAsTyped()
{
    QFETCH(QString, smtp);
    QFETCH(QString, pop3);
    QFETCH(QString, mail);
    QFETCH(bool, apop);
    TestProgramFolder folder;
    folder.write(ServerFile, serverBytes("old.smtp", "old.pop", "old@mail", "1"));
    LoadServerSettings();

    FormSlot<OptionForm> slot;
    OptionForm* form = showActive(slot);
    retype(form->SmtpText, smtp);
    retype(form->Pop3Text, pop3);
    retype(form->MailText, mail);
    if (form->ApopCheck->isChecked() != apop)
        QTest::mouseClick(form->ApopCheck, Qt::LeftButton);
    QTest::mouseClick(form->OkCommand, Qt::LeftButton);

    QVERIFY(!slot.isLoaded());
    QVERIFY(MessageBox::shown().isEmpty());
    QCOMPARE(accountSettings().SmtpServer, smtp);
    QCOMPARE(accountSettings().Pop3Server, pop3);
    QCOMPARE(accountSettings().MailAddress, mail);
    QCOMPARE(accountSettings().UseApop, qint16(apop ? 1 : 0));
    QCOMPARE(folder.read(ServerFile), serverBytes(smtp, pop3, mail, apop ? "1" : "0"));

    // The next start reads the same values back, and the window shows them.
    accountSettings() = AccountSettings{};
    LoadServerSettings();
    form = slot.show();
    QCOMPARE(form->SmtpText->text(), smtp);
    QCOMPARE(form->Pop3Text->text(), pop3);
    QCOMPARE(form->MailText->text(), mail);
    QCOMPARE(form->ApopCheck->isChecked(), apop);
}

void TestOptionForm::cancelChangesNothing_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("中止") << "cancel";
    QTest::newRow("Esc in a text box") << "esc-text";
    QTest::newRow("Esc on the check box") << "esc-check";
    QTest::newRow("close box") << "close";
}

void TestOptionForm::cancelChangesNothing()
{
    QFETCH(QString, how);
    TestProgramFolder folder;
    const QByteArray before = serverBytes("smtp.example.jp", "pop.example.jp", "taro@example.jp", "0");
    folder.write(ServerFile, before);
    LoadServerSettings();
    const AccountSettings loaded = accountSettings();

    FormSlot<OptionForm> slot;
    OptionForm* form = showActive(slot);
    QTest::keyClicks(form->MailText, QStringLiteral("x"));
    retype(form->Pop3Text, QStringLiteral("other.example.jp"));
    form->ApopCheck->setChecked(true);
    if (how == u"cancel")
        QTest::mouseClick(form->CancelCommand, Qt::LeftButton);
    else if (how == u"esc-text")
        QTest::keyClick(form->Pop3Text, Qt::Key_Escape);
    else if (how == u"esc-check")
        QTest::keyClick(form->ApopCheck, Qt::Key_Escape);
    else
        form->close();

    QVERIFY(!slot.isLoaded());
    QCOMPARE(accountSettings().SmtpServer, loaded.SmtpServer);
    QCOMPARE(accountSettings().Pop3Server, loaded.Pop3Server);
    QCOMPARE(accountSettings().MailAddress, loaded.MailAddress);
    QCOMPARE(accountSettings().UseApop, loaded.UseApop);
    QCOMPARE(folder.read(ServerFile), before);
}

void TestOptionForm::enterInTextBoxDoesNothing_data()
{
    QTest::addColumn<QString>("box");
    QTest::newRow("SMTP") << "SmtpText";
    QTest::newRow("POP3") << "Pop3Text";
    QTest::newRow("mail address") << "MailText";
    QTest::newRow("APOP box") << "ApopCheck";
}

void TestOptionForm::enterInTextBoxDoesNothing()
{
    QFETCH(QString, box);
    TestProgramFolder folder;
    FormSlot<OptionForm> slot;
    OptionForm* form = showActive(slot);
    QTest::keyClicks(form->Pop3Text, QStringLiteral("pop.example.jp"));
    auto* target = form->findChild<QWidget*>(box);
    QVERIFY(target);
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Return);
    QTest::keyClick(target, Qt::Key_Enter);

    QVERIFY(slot.isLoaded());
    QVERIFY(form->isVisible());
    QVERIFY(accountSettings().Pop3Server.isEmpty());
    QVERIFY(!folder.exists(ServerFile));

    // A focused button still answers Enter.
    form->OkCommand->setFocus();
    QTest::keyClick(form->OkCommand, Qt::Key_Return);
    QVERIFY(!slot.isLoaded());
    QCOMPARE(accountSettings().Pop3Server, QStringLiteral("pop.example.jp"));
}

void TestOptionForm::failedWriteIsReported_data()
{
    QTest::addColumn<bool>("blocked"); // a folder stands where the file should be
    QTest::addColumn<QString>("mail");
    QTest::newRow("file cannot be written") << true << "taro@example.jp";
    QTest::newRow("text has no cp932 form") << false << "taro😀@example.jp";
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
    form->Pop3Text->setText(QStringLiteral(" pop.example.jp"));
    form->MailText->setText(mail);
    form->OkCommand->click();

    QCOMPARE(MessageBox::shown().size(), 1);
    QVERIFY2(MessageBox::shown().first().text.contains(QStringLiteral("tolvex.ini")),
             qPrintable(MessageBox::shown().first().text));
    // The values stay in effect as typed, and the window stays open for another try.
    QCOMPARE(accountSettings().Pop3Server, QStringLiteral(" pop.example.jp"));
    QCOMPARE(accountSettings().MailAddress, mail);
    QVERIFY(slot.isLoaded());
    if (!blocked)
        QVERIFY(!folder.exists(ServerFile));
}

void TestOptionForm::grab()
{
    const QString dir = qEnvironmentVariable("MOSSVALE_GRAB_DIR");
    if (dir.isEmpty())
        QSKIP("set MOSSVALE_GRAB_DIR to save a picture of the window");
    TestProgramFolder folder;
    folder.write(ServerFile, serverBytes("smtp.example.jp", "pop3s://pop.example.jp", "山田@example.jp", "1"));
    LoadServerSettings();
    FormSlot<OptionForm> slot;
    QVERIFY(slot.show()->grab().save(dir + QStringLiteral("/OptionForm.png")));
}

QTEST_MAIN(TestOptionForm)
#include "tst_optionform.moc"
