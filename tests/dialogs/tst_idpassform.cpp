#include "platform/FormSlot.h"
#include "platform/MessageBox.h"
#include "settings/IdPassForm.h"
#include "settings/ProgramFolder.h"
#include "settings/SettingsFiles.h"
#include "tests/support/TestProgramFolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

namespace {
const QString AccountFile = QStringLiteral("★MailData/iniIdPass.ini");

QByteArray accountBytes(const QString& name, const QString& password, const QString& saved)
{
    return cp932(QStringLiteral("[EXEINI]\r\nNAME=%1\r\nNAME2=%2\r\nNAME3=%3\r\n").arg(name, password, saved));
}

QString stored(const QString& key)
{
    return ReadIniText(Paths::accountFile(), key, QStringLiteral("<absent>"));
}

// Shows the window and makes it active, as the settings window's button does.
IdPassForm* showActive(FormSlot<IdPassForm>& slot)
{
    IdPassForm* form = slot.show();
    QApplication::setActiveWindow(form);
    if (!QTest::qWaitForWindowActive(form))
        qWarning("window did not become active");
    return form;
}
} // namespace

class TestIdPassForm : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        accountSettings() = AccountSettings{};
        MessageBox::reset();
    }

    void loadsStoredAccount_data();
    void loadsStoredAccount();
    void layoutAndFocus();
    void okStores_data();
    void okStores();
    void tickedThenUnticked();
    void cancelChangesNothing_data();
    void cancelChangesNothing();
    void enterPressesFocusedOrDefaultButton_data();
    void enterPressesFocusedOrDefaultButton();
    void accountFileIsOwnerOnly_data();
    void accountFileIsOwnerOnly();
    void failedWriteIsReported_data();
    void failedWriteIsReported();
    void grab();
};

void TestIdPassForm::loadsStoredAccount_data()
{
    QTest::addColumn<QByteArray>("file"); // empty: no account file
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("password");

    QTest::newRow("no account file") << QByteArray() << QString() << QString();
    QTest::newRow("stored account") << accountBytes("taro", "s3cret!", "1") << "taro"
                                    << "s3cret!";
    QTest::newRow("Japanese name") << accountBytes("山田①", "ﾊﾟｽ", "1") << "山田①"
                                   << "ﾊﾟｽ";
    QTest::newRow("saved flag plays no part") << accountBytes("taro", "pw", "0") << "taro"
                                              << "pw";
    QTest::newRow("name only") << cp932("[EXEINI]\r\nNAME=hanako\r\n") << "hanako" << QString();
}

void TestIdPassForm::loadsStoredAccount()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, id);
    QFETCH(QString, password);
    TestProgramFolder folder;
    if (!file.isEmpty())
        folder.write(AccountFile, file);

    FormSlot<IdPassForm> slot;
    IdPassForm* form = slot.get();
    // The mail check loads the window without showing it.
    QVERIFY(!form->isVisible());
    QCOMPARE(form->IdText->text(), id);
    QCOMPARE(form->PassText->text(), password);
    QVERIFY(!form->Check1->isChecked());
    QCOMPARE(form->PassText->displayText(), QString(password.size(), u'*'));
    QVERIFY(!form->PassText->displayText().contains(password) || password.isEmpty());
}

void TestIdPassForm::layoutAndFocus()
{
    TestProgramFolder folder;
    FormSlot<IdPassForm> slot;
    IdPassForm* form = showActive(slot);
    QCOMPARE(form->windowTitle(), QStringLiteral("ID,PASS"));

    const QList<QLabel*> label2 = form->findChildren<QLabel*>(QStringLiteral("Label2"));
    QCOMPARE(label2.size(), 2);
    QCOMPARE(form->Label2[0]->text(), QStringLiteral("Password"));
    QCOMPARE(form->Label2[1]->text(), QStringLiteral("IDパスワードを保存する"));
    // Every control lies inside the client area.
    for (QWidget* child : form->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        QVERIFY2(form->rect().contains(child->geometry()), qPrintable(child->objectName()));

    // The check box has the focus; Tab runs Cancel, OK, password, name and back.
    QCOMPARE(QApplication::focusWidget(), form->Check1);
    const QList<QWidget*> order = {form->CancelCommand, form->OKCommand, form->PassText, form->IdText, form->Check1};
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
}

void TestIdPassForm::okStores_data()
{
    QTest::addColumn<QByteArray>("before"); // empty: no account file
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("tick");
    QTest::addColumn<QString>("storedId");
    QTest::addColumn<QString>("storedPassword");
    QTest::addColumn<QString>("storedFlag");

    const QByteArray earlier = accountBytes("old", "oldpw", "1");
    QTest::newRow("ticked, no file") << QByteArray() << "taro"
                                     << "pw 1" << true << "taro"
                                     << "pw 1"
                                     << "1";
    QTest::newRow("ticked, replaces earlier") << earlier << "jiro"
                                              << "新しい" << true << "jiro"
                                              << "新しい"
                                              << "1";
    QTest::newRow("ticked, empty boxes") << earlier << QString() << QString() << true << "<absent>"
                                         << "<absent>"
                                         << "1";
    QTest::newRow("unticked keeps earlier") << earlier << "jiro"
                                            << "pw2" << false << "old"
                                            << "oldpw"
                                            << "0";
    QTest::newRow("unticked, no file") << QByteArray() << "taro"
                                       << "pw" << false << "<absent>"
                                       << "<absent>"
                                       << "0";
}

void TestIdPassForm::okStores()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, id);
    QFETCH(QString, password);
    QFETCH(bool, tick);
    QFETCH(QString, storedId);
    QFETCH(QString, storedPassword);
    QFETCH(QString, storedFlag);
    TestProgramFolder folder;
    if (!before.isEmpty())
        folder.write(AccountFile, before);

    FormSlot<IdPassForm> slot;
    IdPassForm* form = showActive(slot);
    QTest::keyClicks(form->IdText, QString()); // focus moves as a user's would
    form->IdText->setText(id);
    form->PassText->setText(password);
    form->Check1->setChecked(tick);
    QTest::mouseClick(form->OKCommand, Qt::LeftButton);

    QVERIFY(!slot.isLoaded());
    QVERIFY(MessageBox::shown().isEmpty());
    QCOMPARE(accountSettings().UserId, id);
    QCOMPARE(accountSettings().Password, password);
    QCOMPARE(stored(QStringLiteral("NAME")), storedId);
    QCOMPARE(stored(QStringLiteral("NAME2")), storedPassword);
    QCOMPARE(stored(QStringLiteral("NAME3")), storedFlag);
    if (tick && id.isEmpty()) // stored as empty values, not left out
        QVERIFY(folder.read(AccountFile).contains("NAME=\r\nNAME2=\r\n"));
}

void TestIdPassForm::tickedThenUnticked()
{
    TestProgramFolder folder;
    FormSlot<IdPassForm> slot;

    IdPassForm* form = showActive(slot);
    form->IdText->setText(QStringLiteral("taro"));
    form->PassText->setText(QStringLiteral("first"));
    form->Check1->setChecked(true);
    form->OKCommand->click();
    QVERIFY(!slot.isLoaded());

    // Opening again shows the stored values and an unticked box.
    form = showActive(slot);
    QCOMPARE(form->IdText->text(), QStringLiteral("taro"));
    QCOMPARE(form->PassText->text(), QStringLiteral("first"));
    QVERIFY(!form->Check1->isChecked());
    form->IdText->setText(QStringLiteral("hanako"));
    form->PassText->setText(QStringLiteral("second"));
    form->OKCommand->click();

    QCOMPARE(accountSettings().UserId, QStringLiteral("hanako"));
    QCOMPARE(accountSettings().Password, QStringLiteral("second"));
    QCOMPARE(folder.read(AccountFile), cp932("[EXEINI]\r\nNAME=taro\r\nNAME2=first\r\nNAME3=0\r\n"));
}

void TestIdPassForm::cancelChangesNothing_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel button") << "cancel";
    QTest::newRow("Esc in the name box") << "esc-id";
    QTest::newRow("Esc on the check box") << "esc-check";
    QTest::newRow("close box") << "close";
}

void TestIdPassForm::cancelChangesNothing()
{
    QFETCH(QString, how);
    TestProgramFolder folder;
    const QByteArray before = accountBytes("taro", "pw", "1");
    folder.write(AccountFile, before);
    accountSettings().UserId = QStringLiteral("inmemory");
    accountSettings().Password = QStringLiteral("inmemorypw");

    FormSlot<IdPassForm> slot;
    IdPassForm* form = showActive(slot);
    QTest::keyClicks(form->IdText, QStringLiteral("-edited"));
    QTest::keyClicks(form->PassText, QStringLiteral("x"));
    form->Check1->setChecked(true);
    if (how == u"cancel")
        QTest::mouseClick(form->CancelCommand, Qt::LeftButton);
    else if (how == u"esc-id")
        QTest::keyClick(form->IdText, Qt::Key_Escape);
    else if (how == u"esc-check")
        QTest::keyClick(form->Check1, Qt::Key_Escape);
    else
        form->close();

    QVERIFY(!slot.isLoaded());
    QCOMPARE(accountSettings().UserId, QStringLiteral("inmemory"));
    QCOMPARE(accountSettings().Password, QStringLiteral("inmemorypw"));
    QCOMPARE(folder.read(AccountFile), before);
}

void TestIdPassForm::enterPressesFocusedOrDefaultButton_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<bool>("saves");
    QTest::newRow("Enter in the name box") << "IdText" << true;
    QTest::newRow("Enter in the password box") << "PassText" << true;
    QTest::newRow("Enter on the check box") << "Check1" << true;
    QTest::newRow("Enter on OK") << "OKCommand" << true;
    // A focused button answers Enter itself.
    QTest::newRow("Enter on Cancel") << "CancelCommand" << false;
}

void TestIdPassForm::enterPressesFocusedOrDefaultButton()
{
    QFETCH(QString, focus);
    QFETCH(bool, saves);
    TestProgramFolder folder;
    FormSlot<IdPassForm> slot;
    IdPassForm* form = showActive(slot);
    form->IdText->setText(QStringLiteral("taro"));
    form->PassText->setText(QStringLiteral("pw"));
    form->Check1->setChecked(true);
    auto* target = form->findChild<QWidget*>(focus);
    QVERIFY(target);
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Return);

    QVERIFY(!slot.isLoaded());
    QCOMPARE(accountSettings().UserId, saves ? QStringLiteral("taro") : QString());
    QCOMPARE(stored(QStringLiteral("NAME")), saves ? QStringLiteral("taro") : QStringLiteral("<absent>"));
}

void TestIdPassForm::accountFileIsOwnerOnly_data()
{
    QTest::addColumn<bool>("existedOpen"); // an older file readable by everyone
    QTest::addColumn<bool>("tick");
    QTest::newRow("new file, ticked") << false << true;
    QTest::newRow("new file, unticked") << false << false;
    QTest::newRow("world-readable file, ticked") << true << true;
    QTest::newRow("world-readable file, unticked") << true << false;
}

void TestIdPassForm::accountFileIsOwnerOnly()
{
    QFETCH(bool, existedOpen);
    QFETCH(bool, tick);
    TestProgramFolder folder;
    if (existedOpen) {
        folder.write(AccountFile, accountBytes("old", "oldpw", "1"));
        QVERIFY(QFile::setPermissions(folder.file(AccountFile), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                    QFileDevice::ReadGroup | QFileDevice::ReadOther));
    }
    FormSlot<IdPassForm> slot;
    IdPassForm* form = slot.show();
    form->IdText->setText(QStringLiteral("taro"));
    form->PassText->setText(QStringLiteral("pw"));
    form->Check1->setChecked(tick);
    form->OKCommand->click();

    struct stat info
    {
    };
    QCOMPARE(::stat(QFile::encodeName(folder.file(AccountFile)).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0600));
}

void TestIdPassForm::failedWriteIsReported_data()
{
    QTest::addColumn<bool>("tick");
    QTest::addColumn<QString>("id");
    QTest::newRow("ticked, file cannot be written") << true << "taro";
    QTest::newRow("unticked, file cannot be written") << false << "taro";
    QTest::newRow("ticked, name has no cp932 form") << true << "taro😀";
}

void TestIdPassForm::failedWriteIsReported()
{
    QFETCH(bool, tick);
    QFETCH(QString, id);
    TestProgramFolder folder;
    const bool blocked = !id.contains(u"😀");
    if (blocked) // a folder where the file should be: even root cannot write it
        QVERIFY(QDir().mkpath(folder.file(AccountFile)));
    FormSlot<IdPassForm> slot;
    IdPassForm* form = slot.show();
    form->IdText->setText(id);
    form->PassText->setText(QStringLiteral("pw"));
    form->Check1->setChecked(tick);
    form->OKCommand->click();

    QCOMPARE(MessageBox::shown().size(), 1); // one message, not one per key
    QVERIFY2(MessageBox::shown().first().text.contains(QStringLiteral("iniIdPass.ini")),
             qPrintable(MessageBox::shown().first().text));
    // Nothing is lost: the values are in effect and the window stays open for another try.
    QCOMPARE(accountSettings().UserId, id);
    QVERIFY(slot.isLoaded());
    QVERIFY(form->isVisible());
    if (!blocked)
        QVERIFY(!folder.exists(AccountFile));
}

void TestIdPassForm::grab()
{
    const QString dir = qEnvironmentVariable("MOSSVALE_GRAB_DIR");
    if (dir.isEmpty())
        QSKIP("set MOSSVALE_GRAB_DIR to save a picture of the window");
    TestProgramFolder folder;
    folder.write(AccountFile, accountBytes("taro", "secret", "1"));
    FormSlot<IdPassForm> slot;
    IdPassForm* form = slot.show();
    QVERIFY(form->grab().save(dir + QStringLiteral("/IdPassForm.png")));
}

QTEST_MAIN(TestIdPassForm)
#include "tst_idpassform.moc"
