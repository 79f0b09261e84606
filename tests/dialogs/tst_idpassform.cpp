#include "platform/FormSlot.h"
#include "platform/MessageBox.h"
#include "settings/IdPassForm.h"
#include "settings/ProgramFolder.h"
#include "settings/SettingsFiles.h"
#include "tests/support/TestProgramFolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

namespace {
const QString AccountFile = QStringLiteral("★MailData/iniIdPass.ini");

QByteArray accountBytes(const QString& name, const QString& password, const QString& saved)
{
    return cp932(u"[EXEINI]\r\nNAME=%1\r\nNAME2=%2\r\nNAME3=%3\r\n"_qs.arg(name, password, saved));
}

// Shows the window active, as the settings window's button does, and fills it in.
IdPassForm* fillIn(FormSlot<IdPassForm>& slot, const QString& id, const QString& password, bool tick)
{
    IdPassForm* form = slot.show();
    QApplication::setActiveWindow(form);
    if (!QTest::qWaitForWindowActive(form))
        qWarning("window did not become active");
    form->IdText->setText(id);
    form->PassText->setText(password);
    form->Check1->setChecked(tick);
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
    void okStores_data();
    void okStores();
    void closes_data();
    void closes();
    void accountFileIsOwnerOnly_data();
    void accountFileIsOwnerOnly();
    void failedWriteIsReported_data();
    void failedWriteIsReported();
};

void TestIdPassForm::loadsStoredAccount_data()
{
    QTest::addColumn<QByteArray>("file"); // empty: no account file
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("password");
    QTest::newRow("no account file") << QByteArray() << QString() << QString();
    QTest::newRow("stored account") << accountBytes("taro", "s3cret!", "1") << u"taro"_qs << u"s3cret!"_qs;
    QTest::newRow("Japanese, saved flag 0") << accountBytes("山田①", "ﾊﾟｽ", "0") << u"山田①"_qs << u"ﾊﾟｽ"_qs;
    QTest::newRow("name only") << cp932("[EXEINI]\r\nNAME=hanako\r\n") << u"hanako"_qs << QString();
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
    IdPassForm* form = slot.get(); // the mail check loads the window without showing it
    QVERIFY(!form->isVisible());
    QCOMPARE(form->windowTitle(), u"ID,PASS"_qs);
    QCOMPARE(form->IdText->text(), id);
    QCOMPARE(form->PassText->text(), password);
    QCOMPARE(form->PassText->displayText(), QString(password.size(), u'*'));
    QVERIFY(!form->Check1->isChecked()); // saving is asked for anew every time
}

void TestIdPassForm::okStores_data()
{
    QTest::addColumn<QByteArray>("before"); // empty: no account file
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("tick");
    QTest::addColumn<QByteArray>("after");

    const QByteArray earlier = accountBytes("old", "oldpw", "1");
    QTest::newRow("ticked, no file") << QByteArray() << u"taro"_qs << u"pw 1"_qs << true
                                     << accountBytes("taro", "pw 1", "1");
    QTest::newRow("ticked, replaces earlier")
        << earlier << u"jiro"_qs << u"新しい"_qs << true << accountBytes("jiro", "新しい", "1");
    QTest::newRow("ticked, empty boxes") << earlier << QString() << QString() << true << accountBytes("", "", "1");
    QTest::newRow("unticked, earlier values stay")
        << earlier << u"jiro"_qs << u"pw2"_qs << false << accountBytes("old", "oldpw", "0");
    QTest::newRow("unticked, no file") << QByteArray() << u"taro"_qs << u"pw"_qs << false
                                       << cp932("[EXEINI]\r\nNAME3=0\r\n");
}

void TestIdPassForm::okStores()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, id);
    QFETCH(QString, password);
    QFETCH(bool, tick);
    QFETCH(QByteArray, after);
    TestProgramFolder folder;
    if (!before.isEmpty())
        folder.write(AccountFile, before);

    FormSlot<IdPassForm> slot;
    QTest::mouseClick(fillIn(slot, id, password, tick)->OKCommand, Qt::LeftButton);
    QVERIFY(!slot.isLoaded());
    QVERIFY(MessageBox::shown().isEmpty());
    QCOMPARE(accountSettings().UserId, id);
    QCOMPARE(accountSettings().Password, password);
    QCOMPARE(folder.read(AccountFile), after);
}

void TestIdPassForm::closes_data()
{
    QTest::addColumn<QString>("key"); // Return or Escape; empty: the control is clicked
    QTest::addColumn<QString>("control");
    QTest::addColumn<bool>("saves");
    QTest::newRow("Cancel button") << QString() << u"CancelCommand"_qs << false;
    QTest::newRow("close box") << QString() << QString() << false;
    QTest::newRow("Esc in the name box") << u"Escape"_qs << u"IdText"_qs << false;
    QTest::newRow("Esc on the check box") << u"Escape"_qs << u"Check1"_qs << false;
    QTest::newRow("Enter in the name box") << u"Return"_qs << u"IdText"_qs << true;
    QTest::newRow("Enter in the password box") << u"Return"_qs << u"PassText"_qs << true;
    QTest::newRow("Enter on the check box") << u"Return"_qs << u"Check1"_qs << true;
    QTest::newRow("Enter on OK") << u"Return"_qs << u"OKCommand"_qs << true;
    // A focused button answers Enter itself.
    QTest::newRow("Enter on Cancel") << u"Return"_qs << u"CancelCommand"_qs << false;
}

void TestIdPassForm::closes()
{
    QFETCH(QString, key);
    QFETCH(QString, control);
    QFETCH(bool, saves);
    TestProgramFolder folder;
    const QByteArray before = accountBytes("taro", "pw", "1");
    folder.write(AccountFile, before);
    accountSettings().UserId = u"inmemory"_qs;
    accountSettings().Password = u"inmemorypw"_qs;

    FormSlot<IdPassForm> slot;
    IdPassForm* form = fillIn(slot, u"hanako"_qs, u"new"_qs, true);
    auto* target = control.isEmpty() ? nullptr : form->findChild<QWidget*>(control);
    if (target && !key.isEmpty())
        target->setFocus();
    if (!target)
        form->close();
    else if (key.isEmpty())
        QTest::mouseClick(target, Qt::LeftButton);
    else
        QTest::keyClick(target, key == u"Return" ? Qt::Key_Return : Qt::Key_Escape);

    QVERIFY(!slot.isLoaded());
    QCOMPARE(accountSettings().UserId, saves ? u"hanako"_qs : u"inmemory"_qs);
    QCOMPARE(accountSettings().Password, saves ? u"new"_qs : u"inmemorypw"_qs);
    QCOMPARE(folder.read(AccountFile), saves ? accountBytes("hanako", "new", "1") : before);
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
        QVERIFY(::chmod(QFile::encodeName(folder.file(AccountFile)).constData(), 0644) == 0);
    }
    FormSlot<IdPassForm> slot;
    fillIn(slot, u"taro"_qs, u"pw"_qs, tick)->OKCommand->click();

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
    QTest::newRow("ticked, file cannot be written") << true << u"taro"_qs;
    QTest::newRow("unticked, file cannot be written") << false << u"taro"_qs;
    QTest::newRow("ticked, name has no cp932 form") << true << u"taro😀"_qs;
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
    IdPassForm* form = fillIn(slot, id, u"pw"_qs, tick);
    form->OKCommand->click();

    QCOMPARE(MessageBox::shown().size(), 1); // one message, not one per key
    QVERIFY2(MessageBox::shown().first().text.contains(u"iniIdPass.ini"_qs),
             qPrintable(MessageBox::shown().first().text));
    // Nothing is lost: the values are in effect and the window stays open for another try.
    QCOMPARE(accountSettings().UserId, id);
    QVERIFY(slot.isLoaded() && form->isVisible());
    QCOMPARE(folder.exists(AccountFile), blocked);
}

QTEST_MAIN(TestIdPassForm)
#include "tst_idpassform.moc"
