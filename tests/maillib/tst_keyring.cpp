#include "Prerequisite.h"
#include "TestProgramFolder.h"
#include "settings/PasswordStore.h"
#include "settings/Settings.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The password in a real Secret Service keyring (gnome-keyring-daemon) on a private session bus of
// the test's own: nothing of the user's desktop is touched.
class TestKeyring : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_keyring;

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE(Prerequisite::missingPrograms({"dbus-daemon", "gnome-keyring-daemon"}).isEmpty(),
                         "dbus-daemon and gnome-keyring-daemon");
        // A bus without service files, so that nothing starts a keyring behind the test's back.
        QFile config(m_dir.filePath("bus.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("<busconfig><type>session</type><listen>unix:dir=" + m_dir.path().toUtf8() +
                     "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                     "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
        config.close();
        m_bus.start("dbus-daemon", {"--nofork", "--print-address=1", "--config-file=" + config.fileName()});
        QVERIFY(QTest::qWaitFor([this] { return m_bus.canReadLine() || (m_bus.waitForReadyRead(100), false); }, 10000));
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
    }
    void cleanupTestCase()
    {
        for (QProcess* process : {&m_keyring, &m_bus}) {
            process->terminate(); // by its own PID
            process->waitForFinished(5000);
        }
    }

    // Without a keyring the file keeps the password as it always has, and says so once; with one,
    // "NAME2" stays empty and the account loaded before each check has the keyring's password.
    void passwordGoesToTheKeyring()
    {
        TestProgramFolder folder;
        SettingsModel settings;
        settings.setServer({}, "pop.example.jp", {}, 0);
        settings.setAccount("kr", "pw in keyring");
        for (const bool keyring : {false, true}) {
            if (keyring) {
                QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
                env.insert("HOME", m_dir.path());
                m_keyring.setProcessEnvironment(env);
                m_keyring.start("gnome-keyring-daemon", {"--foreground", "--unlock", "--components=secrets"});
                QVERIFY(m_keyring.waitForStarted());
                m_keyring.write("unlock");
                m_keyring.closeWriteChannel();
                QTRY_VERIFY(PasswordStore::write("probe", "probe", "x", 1000).ok);
            }
            QString notice;
            QCOMPARE(settings.saveAccount(true, &notice), QString());
            QCOMPARE(notice.contains("iniIdPass.ini"), !keyring);
            QCOMPARE(folder.read(AccountFile).contains("NAME2=pw in keyring\r\n"), !keyring);
            settings.setAccount({}, {});
            QCOMPARE(settings.loadAccount(5000), QString());
            QCOMPARE(settings.account().UserId + u'|' + settings.account().Password, u"kr|pw in keyring"_qs);
        }
        QVERIFY(folder.read(AccountFile).contains("NAME=kr\r\nNAME2=\r\nNAME3=1\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestKeyring)
#include "tst_keyring.moc"
