#include "TestProgramFolder.h"
#include "platform/MessageBox.h"
#include "settings/ProgramFolder.h"
#include "settings/SetForm.h"
#include "settings/SettingsFiles.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <memory>

// The settings window as the live store of the switches, and what it drives in the main window.
class TestSetForm : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void loadsDefaultsWithoutFile();
    void loadsStoredValues();
    void intervalRules_data();
    void intervalRules();
    void closeWritesFourKeys();
    void closeWithNeitherOptionWritesEmpty();
    void buttonsOpenTheirWindows();
    void failedWriteIsReported();

private:
    std::unique_ptr<SetForm> makeForm();
    QCheckBox m_mainCheck1;
    QLineEdit m_mainText7;
    int m_timer3 = -1;
    int m_idPassShown = 0;
    int m_optionShown = 0;
};

std::unique_ptr<SetForm> TestSetForm::makeForm()
{
    SetForm::MainWindowLink link;
    link.Check1 = &m_mainCheck1;
    link.Text7 = &m_mainText7;
    link.setTimer3Interval = [this](int ms) { m_timer3 = ms; };
    link.showIdPassForm = [this] { ++m_idPassShown; };
    link.showOptionForm = [this] { ++m_optionShown; };
    return std::make_unique<SetForm>(link);
}

void TestSetForm::init()
{
    m_mainCheck1.setChecked(false);
    m_mainText7.clear();
    m_timer3 = -1;
    m_idPassShown = m_optionShown = 0;
    MessageBox::reset();
}

void TestSetForm::loadsDefaultsWithoutFile()
{
    TestProgramFolder folder;
    auto form = makeForm();
    QVERIFY(!form->Check1->isChecked());
    QVERIFY(!form->Check2->isChecked());
    QVERIFY(!form->Option1->isChecked());
    QVERIFY(!form->Option2->isChecked());
    QCOMPARE(form->Text2->text(), QStringLiteral("0"));
    QVERIFY(!m_mainCheck1.isChecked());
    QCOMPARE(m_mainText7.text(), QStringLiteral("0"));
    QCOMPARE(m_timer3, 0);
}

void TestSetForm::loadsStoredValues()
{
    TestProgramFolder folder;
    folder.write("★MailData/ini.ini", "[EXEINI]\r\nNUMBER=1\r\nNUMBER2=5\r\nNUMBER4=1\r\nNUMBER5=2\r\n");
    auto form = makeForm();
    QVERIFY(form->Check1->isChecked());
    QVERIFY(form->Check2->isChecked());
    QVERIFY(form->Option2->isChecked());
    QVERIFY(!form->Option1->isChecked());
    QCOMPARE(form->Text2->text(), QStringLiteral("5"));
    QVERIFY(m_mainCheck1.isChecked());
    QCOMPARE(m_mainText7.text(), QStringLiteral("5"));
    QCOMPARE(m_timer3, 1000);

    folder.write("★MailData/ini.ini", "[EXEINI]\r\nNUMBER5=3\r\n");
    auto other = makeForm();
    QVERIFY(!other->Option1->isChecked() && !other->Option2->isChecked());
}

void TestSetForm::intervalRules_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("check1");
    QTest::addColumn<QString>("text7");
    QTest::addColumn<int>("timer3");
    QTest::addColumn<QString>("storedAtOnce"); // null: nothing written by the change itself
    QTest::newRow("five") << "5" << true << "5" << 1000 << QString();
    QTest::newRow("fraction") << "1.5" << true << "1.5" << 1000 << QString();
    QTest::newRow("emptied becomes 0") << "" << false << "0" << 0 << "0";
    QTest::newRow("letters count as 0") << "abc" << false << "abc" << 0 << "abc";
    QTest::newRow("negative changes nothing") << "-3" << true << "7" << 1000 << QString();
}

void TestSetForm::intervalRules()
{
    QFETCH(QString, typed);
    QFETCH(bool, check1);
    QFETCH(QString, text7);
    QFETCH(int, timer3);
    QFETCH(QString, storedAtOnce);
    TestProgramFolder folder;
    folder.write("★MailData/ini.ini", "[EXEINI]\r\nNUMBER2=7\r\n");
    auto form = makeForm();
    QCOMPARE(m_timer3, 1000);
    form->Text2->setText(typed);
    QCOMPARE(m_mainCheck1.isChecked(), check1);
    QCOMPARE(m_mainText7.text(), text7);
    QCOMPARE(m_timer3, timer3);
    const QString stored = ReadIniText(Paths::generalSettingsFile(), "NUMBER2", "");
    QCOMPARE(stored, storedAtOnce.isNull() ? QStringLiteral("7") : storedAtOnce);
}

void TestSetForm::closeWritesFourKeys()
{
    TestProgramFolder folder;
    auto form = makeForm();
    form->Check1->setChecked(true);
    form->Text2->setText("-3");
    form->Check2->setChecked(true);
    form->Option2->setChecked(true);
    form->close();
    QCOMPARE(folder.read("★MailData/ini.ini"),
             QByteArray("[EXEINI]\r\nNUMBER2=-3\r\nNUMBER=1\r\nNUMBER4=1\r\nNUMBER5=2\r\n"));
    auto again = makeForm();
    QVERIFY(again->Option2->isChecked());
    QCOMPARE(again->Text2->text(), QStringLiteral("-3"));
}

void TestSetForm::closeWithNeitherOptionWritesEmpty()
{
    TestProgramFolder folder;
    folder.write("★MailData/ini.ini", "[EXEINI]\r\nNUMBER=0\r\nNUMBER2=0\r\nNUMBER4=0\r\nNUMBER5=7\r\n");
    auto form = makeForm();
    form->close();
    QCOMPARE(ReadIniText(Paths::generalSettingsFile(), "NUMBER5", "default"), QStringLiteral("default"));
    QVERIFY(folder.read("★MailData/ini.ini").contains("NUMBER5=\r\n"));
}

void TestSetForm::buttonsOpenTheirWindows()
{
    TestProgramFolder folder;
    auto form = makeForm();
    QTest::mouseClick(form->Command1, Qt::LeftButton);
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    QCOMPARE(m_idPassShown, 1);
    QCOMPARE(m_optionShown, 2);
}

void TestSetForm::failedWriteIsReported()
{
    TestProgramFolder folder(false);
    folder.write("★MailData", "not a folder");
    MessageBox::setNextAnswer(MessageBox::Ok);
    auto form = makeForm(); // the zero interval is stored at load, and cannot be
    QCOMPARE(MessageBox::shown().size(), 1);
    form->Text2->setText("5");
    MessageBox::setNextAnswer(MessageBox::Ok);
    form->close();
    QCOMPARE(MessageBox::shown().size(), 2);
    QVERIFY(MessageBox::shown().last().text.contains(QStringLiteral("ini.ini")));
    QCOMPARE(form->Text2->text(), QStringLiteral("5")); // nothing is lost from memory
}

QTEST_MAIN(TestSetForm)
#include "tst_setform.moc"
