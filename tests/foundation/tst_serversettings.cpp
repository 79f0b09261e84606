#include "TestProgramFolder.h"
#include "settings/ProgramFolder.h"
#include "settings/SettingsFiles.h"

#include <QTest>

// The server settings file: four prefixed lines, written whole and read leniently.
class TestServerSettings : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void roundTrip_data();
    void roundTrip();
    void readsLeniently();
    void missingFileLeavesFields();
    void apopValues_data();
    void apopValues();
    void failedWriteNamesTheFile();
};

void TestServerSettings::roundTrip_data()
{
    QTest::addColumn<QString>("smtp");
    QTest::addColumn<QString>("pop3");
    QTest::addColumn<QString>("mail");
    QTest::addColumn<int>("apop");
    QTest::newRow("plain") << "smtp.example.jp" << "pop.example.jp" << "taro@example.jp" << 1;
    QTest::newRow("empty values") << "" << "" << "" << 0;
    QTest::newRow("blanks and Japanese kept") << " smtp " << "pop3s://pop.example.jp:995 " << "髙橋①@例え.jp" << 0;
}

void TestServerSettings::roundTrip()
{
    QFETCH(QString, smtp);
    QFETCH(QString, pop3);
    QFETCH(QString, mail);
    QFETCH(int, apop);
    TestProgramFolder folder;
    AccountSettings saved{pop3, smtp, mail, qint16(apop), {}, {}};
    QVERIFY(SaveServerSettings(saved).isEmpty());
    QCOMPARE(folder.read("tolvex.ini"), cp932("SMTP=" + smtp + "\r\nPOP3=" + pop3 + "\r\nMAIL=" + mail +
                                              "\r\nAPOP=" + QString::number(apop) + "\r\n"));
    AccountSettings loaded;
    LoadServerSettings(loaded);
    QCOMPARE(loaded.SmtpServer, smtp);
    QCOMPARE(loaded.Pop3Server, pop3);
    QCOMPARE(loaded.MailAddress, mail);
    QCOMPARE(loaded.UseApop, qint16(apop));
}

void TestServerSettings::readsLeniently()
{
    TestProgramFolder folder;
    folder.write("tolvex.ini", cp932("SMTP=" + QString(150, u'あ') + "\r\n"
                                     "pop3=lower.case.ignored\r\n"
                                     "\r\n"
                                     "POP3=first\r\n"
                                     "XYZ1=other\r\n"
                                     "POP3=second\r\n"
                                     "MAIL=\r\n"
                                     "APOP"));
    AccountSettings loaded;
    loaded.MailAddress = QStringLiteral("replaced by the empty line");
    loaded.UseApop = 1;
    LoadServerSettings(loaded);
    QCOMPARE(loaded.SmtpServer, QString(100, u'あ'));
    QCOMPARE(loaded.Pop3Server, QStringLiteral("second"));
    QCOMPARE(loaded.MailAddress, QString());
    QCOMPARE(loaded.UseApop, qint16(1)); // a line without "APOP=" leaves the field alone
}

void TestServerSettings::missingFileLeavesFields()
{
    TestProgramFolder folder;
    AccountSettings loaded{"pop", "smtp", "mail", 1, {}, {}};
    LoadServerSettings(loaded);
    QCOMPARE(loaded.Pop3Server, QStringLiteral("pop"));
    QCOMPARE(loaded.UseApop, qint16(1));
}

void TestServerSettings::apopValues_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::newRow("one") << "1" << 1;
    QTest::newRow("blank and sign") << "  -1" << -1;
    QTest::newRow("half to even down") << "2.5" << 2;
    QTest::newRow("half to even up") << "1.5" << 2;
    QTest::newRow("letters") << "yes" << 0;
    QTest::newRow("beyond 16 bits is on") << "70000" << 1;
    QTest::newRow("far below is on") << "-40000" << 1;
}

void TestServerSettings::apopValues()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    TestProgramFolder folder;
    folder.write("tolvex.ini", cp932("APOP=" + text + "\r\n"));
    AccountSettings loaded;
    LoadServerSettings(loaded);
    QCOMPARE(int(loaded.UseApop), expected);
}

void TestServerSettings::failedWriteNamesTheFile()
{
    TestProgramFolder folder;
    QDir(folder.path()).mkdir("tolvex.ini"); // a folder where the file should be
    const QString error = SaveServerSettings(AccountSettings{});
    QVERIFY(error.contains(QStringLiteral("tolvex.ini")));
}

QTEST_GUILESS_MAIN(TestServerSettings)
#include "tst_serversettings.moc"
