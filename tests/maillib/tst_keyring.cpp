#include "AccountSteps.h"
#include "Prerequisite.h"
#include "TestProgramFolder.h"
#include "settings/PasswordStore.h"
#include "settings/Settings.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <optional>

namespace {
// Owns the keyring's name and path on the bus and never answers anything.
class SilentService : public QDBusVirtualObject
{
public:
    int asked = 0;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override
    {
        message.setDelayedReply(true); // and no reply ever
        ++asked;
        return true;
    }
};

// Whether the keyring stores an entry now.
bool keyringTakes()
{
    QObject context;
    std::optional<bool> ok;
    PasswordStore::write("probe", "probe", "x", 1000, &context, [&ok](const PasswordStore::Result& r) { ok = r.ok; });
    if (!QTest::qWaitFor([&ok] { return ok.has_value(); }, 3000))
        return false;
    return ok.value_or(false);
}
} // namespace

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

    // A keyring that never answers ends the read at its bound with a message that says so; the
    // thread goes on meanwhile.
    void silentKeyringEndsAtItsBound()
    {
        SilentService silent;
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(bus.registerService("org.freedesktop.secrets"));
        QVERIFY(bus.registerVirtualObject("/org/freedesktop/secrets", &silent, QDBusConnection::SubPath));
        TestProgramFolder folder;
        folder.write(AccountFile, "[EXEINI]\r\nNAME=kr\r\nNAME2=\r\n");
        SettingsModel settings;
        int ticks = 0;
        QTimer ticker;
        ticker.callOnTimeout([&ticks] { ++ticks; });
        ticker.start(50);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(AccountSteps::load(settings, 1000), u"キーリングが1秒以内に応答しませんでした。"_qs);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(ticks >= 10);
        QVERIFY(silent.asked > 0); // the keyring was asked, not passed over
        bus.unregisterObject("/org/freedesktop/secrets", QDBusConnection::UnregisterTree);
        QVERIFY(bus.unregisterService("org.freedesktop.secrets"));
    }

    // Without a keyring the file keeps the password as it always has, and says so; with one,
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
                QTRY_VERIFY(keyringTakes());
            }
            QString notice;
            QCOMPARE(AccountSteps::save(settings, true, &notice), QString());
            QCOMPARE(notice.contains("iniIdPass.ini"), !keyring);
            QCOMPARE(folder.read(AccountFile).contains("NAME2=pw in keyring\r\n"), !keyring);
            settings.setAccount({}, {});
            QCOMPARE(AccountSteps::load(settings), QString());
            QCOMPARE(settings.account().UserId + u'|' + settings.account().Password, u"kr|pw in keyring"_qs);
        }
        QVERIFY(folder.read(AccountFile).contains("NAME=kr\r\nNAME2=\r\nNAME3=1\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestKeyring)
#include "tst_keyring.moc"
