#include "AccountSteps.h"
#include "Prerequisite.h"
#include "TableRows.h"
#include "TestProgramFolder.h"
#include "settings/PasswordStore.h"
#include "settings/Settings.h"
#include "tests/oauth/TokenServer.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <optional>
#include <qt6keychain/keychain.h>
#include <signal.h>

namespace {
// The keyring's own view of an entry, past the program's naming: its text, "" when it has none, else
// why it failed. With set, first stores that text there (as an earlier version did).
QString entry(const QString& key, const QString& set = {})
{
    auto* reader = set.isEmpty() ? new QKeychain::ReadPasswordJob("Mossvale") : nullptr;
    auto* writer = reader ? nullptr : new QKeychain::WritePasswordJob("Mossvale");
    QKeychain::Job* job = reader ? static_cast<QKeychain::Job*>(reader) : writer;
    job->setKey(key);
    if (writer)
        writer->setTextData(set);
    QObject context; // the answer counts only while it is awaited
    std::optional<QString> text;
    QObject::connect(job, &QKeychain::Job::finished, &context, [&text, reader](QKeychain::Job* done) {
        text = done->error() == QKeychain::EntryNotFound ? QString()
               : done->error()                           ? done->errorString() + u'!'
                                                         : (reader ? reader->textData() : QString());
    });
    job->start();
    return QTest::qWaitFor([&text] { return text.has_value(); }, 5000) ? *text : QStringLiteral("no answer");
}

struct FollowRow
{
    const char* name;
    const char* legacy;  // the server text version 1.1 named the password's entry after; null: none
    const char* saved;   // the server text when this version saved it; null: not saved
    const char* now;     // the server text when it is read
    const char* deny;    // a method of the Secret Service the keyring's bus refuses meanwhile, or ""
    bool emptied;        // then saved empty with the box ticked
    QString read;        // the password the read finds
    QString moved;       // what the entry of the host and user holds afterwards
    QString old;         // what the legacy entry holds afterwards
    bool keyring = true; // false: no Secret Service on the bus yet
};
} // namespace

// The password in a real Secret Service keyring (gnome-keyring-daemon) on a private session bus of
// the test's own: nothing of the user's desktop is touched.
class TestKeyring : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_keyring;
    int m_rows = 0;

    // A bus without service files, so that nothing starts a keyring behind the test's back; calls of
    // the Secret Service method deny ("Interface.Member") are refused. A running bus takes it at once.
    bool busPolicy(const QByteArray& deny = {})
    {
        const QList<QByteArray> method = deny.split('.');
        QFile config(m_dir.filePath("bus.conf"));
        const bool written =
            config.open(QIODevice::WriteOnly) &&
            config.write("<busconfig><type>session</type><listen>unix:dir=" + m_dir.path().toUtf8() +
                         "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                         "<allow eavesdrop=\"true\"/><allow own=\"*\"/>" +
                         (deny.isEmpty() ? QByteArray()
                                         : "<deny send_interface=\"org.freedesktop.Secret." + method[0] +
                                               "\" send_member=\"" + method.value(1) + "\"/>") +
                         "</policy></busconfig>") > 0;
        config.close();
        const auto reload = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                           "org.freedesktop.DBus", "ReloadConfig");
        return written && (m_bus.state() != QProcess::Running ||
                           QDBusConnection::sessionBus().call(reload).type() == QDBusMessage::ReplyMessage);
    }
    bool startKeyring()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_dir.path());
        m_keyring.setProcessEnvironment(env);
        m_keyring.start("gnome-keyring-daemon", {"--foreground", "--unlock", "--components=secrets"});
        if (!m_keyring.waitForStarted())
            return false;
        m_keyring.write("unlock");
        m_keyring.closeWriteChannel();
        return QTest::qWaitFor([] { return entry("probe", "x").isEmpty(); }, 10000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE(Prerequisite::missingPrograms({"dbus-daemon", "gnome-keyring-daemon"}).isEmpty(),
                         "dbus-daemon and gnome-keyring-daemon");
        QVERIFY(busPolicy());
        m_bus.start("dbus-daemon", {"--nofork", "--print-address=1", "--config-file=" + m_dir.filePath("bus.conf")});
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

    // Without a keyring the file keeps the password as it always has, and says so; with one, the file's
    // "NAME2" stays empty. The password is found after the server text is
    // respelt, also when version 1.1 stored it under the exact text: it is moved to the host's entry,
    // never lost on the way. An empty password saved with the box ticked takes it away everywhere, or
    // is refused with nothing changed. Each row has a user of its own, so that no entry is left over.
    void passwordFollowsTheAccount_data()
    {
        const auto add = addRow<FollowRow>();
        const char* tls = "pop3s://pop.example.jp:995";
        // clang-format off
        add({"no keyring: the file", nullptr, "pop.example.jp", "pop.example.jp", "", false, "new", {}, {}, false});
        add({"1.1's entry moves", "pop.example.jp", nullptr, tls, "", false, "old", "old", ""});
        add({"failed move keeps it", "pop.example.jp", nullptr, tls, "Collection.CreateItem", false, "old", "", "old"});
        add({"saved, then respelt", nullptr, "pop.example.jp", " POP.Example.JP:110 ", "", false, "new", "new", ""});
        add({"emptied", "pop.example.jp", "pop.example.jp", tls, "", true, "", "", ""});
        add({"emptying refused", nullptr, "pop.example.jp", tls, "Item.Delete", true, "new", "new", ""});
        // clang-format on
    }
    void passwordFollowsTheAccount()
    {
        QFETCH(FollowRow, row);
        if (row.keyring && m_keyring.state() != QProcess::Running)
            QVERIFY(startKeyring());
        const QString user = QStringLiteral("kr%1").arg(++m_rows);
        const QByteArray stored =
            "NAME=" + user.toUtf8() + "\r\nNAME2=" + (row.keyring ? "" : "new") + "\r\nNAME3=1\r\n";
        TestProgramFolder folder;
        folder.write(AccountFile, "[EXEINI]\r\nNAME=" + user.toUtf8() + "\r\nNAME2=\r\nNAME3=0\r\n");
        const QString legacy = "pop3://" + user + "@pop.example.jp";
        SettingsModel settings;
        settings.setServer({}, row.saved ? row.saved : row.now, {}, 0);
        settings.setAccount(user, "new");
        QString notice;
        if (row.saved) {
            QCOMPARE(AccountSteps::save(settings, true, &notice), QString());
            QVERIFY(folder.read(AccountFile).contains(stored) && notice.contains("iniIdPass.ini") != row.keyring);
        }
        if (row.legacy)
            QCOMPARE(entry(legacy, "old"), QString());
        QVERIFY(busPolicy(row.deny));
        if (row.emptied) {
            settings.setAccount(user, {});
            QCOMPARE(AccountSteps::save(settings, true).isEmpty(), !*row.deny);
            QVERIFY(folder.read(AccountFile).contains(stored));
        }
        settings.setServer({}, row.now, {}, 0);
        settings.setAccount({}, {});
        QCOMPARE(AccountSteps::load(settings), QString());
        QVERIFY(busPolicy());
        QCOMPARE(settings.account().Password, row.read);
        if (row.keyring)
            QCOMPARE(entry(PasswordStore::entryKey(row.now, user)) + u'|' + entry(legacy), row.moved + u'|' + row.old);
    }

    // The refresh token of a sign-in goes to the keyring alone: no file of the program's, nor of the
    // keyring's own, holds its bytes. A keyring that then stops answering ends a read at its bound.
    void refreshTokenOnlyInTheKeyring()
    {
        if (m_keyring.state() != QProcess::Running)
            QVERIFY(startKeyring());
        TokenServer provider;
        std::optional<TokenResult> result;
        OAuthTokens tokens;
        tokens.signIn(u"pop.example.jp"_qs, u"bob"_qs, [&result](const TokenResult& r) { result = r; });
        QVERIFY(QTest::qWaitFor([&result] { return result.has_value(); }, 20000));
        QVERIFY2(result->status == TokenResult::Status::Ok && result->notice.isEmpty(), qPrintable(result->error));
        const QByteArray token = provider.granted.values().value(0);
        const QString key = PasswordStore::entryKey(u"pop.example.jp"_qs, u"bob"_qs, PasswordStore::Kind::RefreshToken);
        QCOMPARE(entry(key), QString::fromLatin1(token));
        QProcess grep; // exit status 1: found nowhere; 2: a file that could not be read
        grep.start("grep",
                   {"-rlF", "-D", "skip", "--", QString::fromLatin1(token), provider.folder.path(), m_dir.path()});
        QVERIFY(grep.waitForFinished());
        QCOMPARE(grep.readAll() + ' ' + QByteArray::number(grep.exitCode()), " 1");
        const auto signOut = [](QObject* context, auto done) { // 「サインアウト」: the entry goes
            OAuthTokens::signOut(u"pop.example.jp"_qs, u"bob"_qs, context, done);
        };
        QCOMPARE(AccountSteps::run(20000, signOut), QString());
        QCOMPARE(entry(key), QString());
        ::kill(m_keyring.processId(), SIGSTOP); // by its own PID; it answers nothing until SIGCONT
        SettingsModel settings;
        QCOMPARE(AccountSteps::load(settings, 1000), u"キーリングが1秒以内に応答しませんでした。"_qs);
        ::kill(m_keyring.processId(), SIGCONT);
    }
};

QTEST_GUILESS_MAIN(TestKeyring)
#include "tst_keyring.moc"
