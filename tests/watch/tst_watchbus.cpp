#include "../mailcheck/MailFixtures.h"
#include "WatchFixtures.h"
#include "app/MainForm.h"
#include "mailcheck/MsgForm.h"
#include "platform/MessageBox.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {
constexpr uint Disconnected = 20, ConnectedGlobal = 70; // NetworkManager's NMState
const QString Offline = QStringLiteral("オフライン");
using Kind = CheckOutcome::Kind;
} // namespace

// The whole program watching as on a laptop, time compressed: the stand-ins of python3-dbusmock
// for NetworkManager and logind on a private bus taken for the system bus, its notification
// daemon on the same bus taken for the session bus, and a real Dovecot. The test is the clock:
// the one-second timer's handler runs once per simulated second, and the wall and monotonic clocks
// the schedule reads move with it (or only the wall clock, asleep). Every decision of the program
// reads those clocks and that count, so 90 ticks are the program's 90 seconds; the event loop runs
// meanwhile, so that any connection the program would make reaches the server.
class TestWatchBus : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_bus, m_mocks[3];
    std::unique_ptr<DovecotServer> m_server;
    std::unique_ptr<TestProgramFolder> m_folder;
    std::unique_ptr<MainForm> m_form;
    ManualClock m_time;
    int m_users = 0;

    // A method of the Mock interface of a stand-in on the system bus; it must answer without error.
    void mock(const QString& service, const QString& method, const QVariantList& args)
    {
        const QString path = "/" + QString(service).replace(u'.', u'/');
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Mock", method);
        call.setArguments(args);
        QCOMPARE(QDBusConnection::systemBus().call(call, QDBus::Block, 5000).errorMessage(), QString());
    }
    void setNetwork(uint state) { mock("org.freedesktop.NetworkManager", "SetGlobalConnectionState", {state}); }
    void prepareForSleep(bool start)
    {
        const QVariantList args{QVariant::fromValue(QDBusVariant(start))};
        mock("org.freedesktop.login1", "EmitSignal", {"org.freedesktop.login1.Manager", "PrepareForSleep", "b", args});
    }
    int logins(const QString& user) const { return int(m_server->log().count("Login: user=<" + user + ">")); }
    // The Notify calls the daemon recorded, each as its replaced id and the rest of the line; a call
    // is logged from its time stamp on, and a body of several lines spans as many.
    QList<std::pair<uint, QString>> notifications() const
    {
        QFile file(m_dir.filePath("notices.log"));
        static const QRegularExpression Notify(
            QStringLiteral("(?:^|\n)[0-9.]+ Notify \"[^\"]*\" (\\d+) (.*?)(?=\n[0-9.]+ |$)"),
            QRegularExpression::DotMatchesEverythingOption);
        QList<std::pair<uint, QString>> calls;
        for (const QRegularExpressionMatch& match :
             Notify.globalMatch(QString::fromUtf8(file.open(QIODevice::ReadOnly) ? file.readAll() : "")))
            calls.append({match.captured(1).toUInt(), match.captured(2)});
        return calls;
    }
    // A mailbox of messages (subject, name, address), and the program watching it every minute.
    QString watch(const QList<QStringList>& messages, const QByteArray& added, const QString& password = "secret")
    {
        const QString user = QStringLiteral("watch%1").arg(++m_users);
        if (!fillMailbox(*m_server, user, "secret", messages))
            return {};
        m_folder->writeAccount(user, password);
        m_folder->write(GeneralFile, "[EXEINI]\r\nNUMBER2=1\r\nNUMBER5=1\r\n[Mossvale]\r\n" + added);
        *m_time.now = ManualClock::Now(); // each test starts at noon
        m_form = std::make_unique<MainForm>();
        m_form->setMailOptions(checkOptions());
        m_form->Timer3->stop(); // the test's ticks stand for it
        m_form->schedule() = CheckSchedule(m_time.clock());
        m_form->schedule().setInterval(m_form->settings().general().interval);
        return user;
    }
    void tick(int seconds)
    {
        for (; seconds > 0; --seconds) {
            m_time.pass(1000);
            m_form->Timer3_Timer();
            QTest::qWait(15); // Timer4 polls meanwhile
        }
    }
    // Ticks until a timed check ran and ended as kind.
    // One interval's ticks, then a check that ends after them (not the one before) as kind.
    bool tickAndCheck(Kind kind)
    {
        const QDateTime before = m_form->lastCheck().finished;
        tick(61);
        return QTest::qWaitFor([&] { return m_form->lastCheck().finished != before && !m_form->isChecking(); }, 15000) &&
               m_form->lastCheck().kind == kind;
    }
    bool offline() const { return m_form->statusLine() == Offline && m_form->StatusLabel->text() == Offline; }

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE_DOVECOT();
        MOSSVALE_REQUIRE(Prerequisite::missingPrograms({"dbus-daemon"}).isEmpty(), "dbus-daemon");
        MOSSVALE_REQUIRE(QProcess::execute("/usr/bin/python3", {"-c", "import dbusmock"}) == 0, "python3-dbusmock");
        m_bus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        QVERIFY(QTest::qWaitFor([this] { return m_bus.canReadLine() || (m_bus.waitForReadyRead(100), false); }, 10000));
        // Before the first use of either bus, which then is this one.
        const QByteArray address = m_bus.readLine().trimmed();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        const QList<std::pair<QString, QStringList>> mocks{
            {"org.freedesktop.NetworkManager", {"--system", "--template", "networkmanager"}},
            {"org.freedesktop.login1", {"--system", "--template", "logind"}},
            {"org.freedesktop.Notifications",
             {"--template", "notification_daemon", "-l", m_dir.filePath("notices.log")}}};
        for (int i = 0; i < 3; ++i) {
            m_mocks[i].setProcessChannelMode(QProcess::ForwardedErrorChannel);
            m_mocks[i].setStandardOutputFile(QProcess::nullDevice()); // an unread pipe would stall it
            m_mocks[i].start("/usr/bin/python3", QStringList{"-m", "dbusmock"} + mocks[i].second);
            QVERIFY(QTest::qWaitFor(
                [&] { return QDBusConnection::sessionBus().interface()->isServiceRegistered(mocks[i].first).value(); },
                10000));
        }
        QString error;
        m_server = startTrustedDovecot(&error);
        QVERIFY2(m_server, qPrintable(error));
    }
    void cleanupTestCase()
    {
        m_form.reset();
        m_server.reset();
        for (QProcess* process : {&m_mocks[2], &m_mocks[1], &m_mocks[0], &m_bus})
            process->terminate(), process->waitForFinished(5000);
    }
    void init()
    {
        MessageBox::reset();
        m_folder = std::make_unique<TestProgramFolder>(true, true);
        m_folder->writeServer(m_server->plainServer());
        setNetwork(ConnectedGlobal);
    }
    void cleanup() { m_form.reset(); }

    // Offline for 90 s with a 1-minute interval: no connection, 「オフライン」 where the user looks
    // (the status line, and the text the tray's tip is made of). Back online, a check logs in at once.
    // Then, woken after longer than the interval while the network is away again: the check waits for
    // the network, then one runs, and no second follows it.
    void offlineAndResumeWaitForTheNetwork()
    {
        setNetwork(Disconnected);
        const QString user = watch({{"hello", "Bob", "bob@example.jp"}}, "");
        QTRY_VERIFY_WITH_TIMEOUT(offline(), 5000);
        tick(90);
        QCOMPARE(logins(user), 0);
        QVERIFY2(MessageBox::shown().isEmpty() && !m_form->isChecking() && offline(), "offline raised a box");
        setNetwork(ConnectedGlobal);
        QTRY_COMPARE_WITH_TIMEOUT(logins(user), 1, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(m_form->lastCheck().kind == Kind::Checked && !m_form->isChecking(), 15000);

        m_form->schedule().setInterval(QStringLiteral("10"));
        setNetwork(Disconnected);
        QTRY_VERIFY_WITH_TIMEOUT(offline(), 5000);
        prepareForSleep(true);
        m_time.sleep(11 * 60 * 1000);
        prepareForSleep(false);
        QTRY_VERIFY_WITH_TIMEOUT(m_form->schedule().catchUpPending(), 5000);
        tick(5);
        QCOMPARE(logins(user), 1);
        setNetwork(ConnectedGlobal);
        QTRY_VERIFY_WITH_TIMEOUT(!offline(), 5000);
        tick(3);
        QTRY_COMPARE_WITH_TIMEOUT(logins(user), 2, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_form->isChecking(), 15000);
        tick(5);
        QCOMPARE(logins(user), 2);
    }

    // Three new messages: one notification, naming a sender, with no markup of a hostile subject;
    // the next check's replaces it.
    void notificationNamesTheSender()
    {
        watch({{"first", "Alice", "alice@example.jp"},
               {"second", "Bob", "bob@example.jp"},
               {"<b>bold</b><a href=\"http://evil.example\">click</a>", "Mallory", "m@x.jp"}},
              "DesktopNotification=1\r\n");
        const qsizetype before = notifications().size();
        QVERIFY(tickAndCheck(Kind::Checked));
        QTRY_COMPARE_WITH_TIMEOUT(notifications().size(), before + 1, 5000);
        const auto [replaced, text] = notifications().last();
        QCOMPARE(replaced, 0u);
        QVERIFY2(text.contains(QStringLiteral("新着メール 3 通")) && text.contains("Mallory") &&
                     text.contains("Alice") && text.contains("desktop-entry"),
                 qPrintable(text));
        QVERIFY2(!text.contains("<b>") && !text.contains("<a ") && text.contains("&lt;b&gt;"), qPrintable(text));
        tick(61);
        QTRY_COMPARE_WITH_TIMEOUT(notifications().size(), before + 2, 15000);
        // The daemon's ids count from 1, and the first was the run's first notification.
        QCOMPARE(notifications().last().first, 1u);
    }

    // Quiet hours covering now: the spam goes, nothing is announced; when they end, one summary.
    void quietHoursHoldTheNews()
    {
        const QString user = watch({{"hello", "Bob", "bob@example.jp"}, {"casino night", "Spam", "s@example.jp"}},
                                   "DesktopNotification=1\r\nQuietHours=11:00-12:02\r\n");
        m_folder->write(QStringLiteral("★MailData/Tlxdata50.data"), keywordFileBytes({"casino"}));
        const qsizetype before = notifications().size();
        QVERIFY(tickAndCheck(Kind::Checked));
        QCOMPARE(m_form->lastCheck().deleted, 1);
        QCOMPARE(m_server->messages(user).size(), 1);
        QTest::qWait(300);
        QCOMPARE(notifications().size(), before);
        const auto boardUp = [this] { return m_form->msgForm().isLoaded() && m_form->msgForm().get()->isVisible(); };
        QVERIFY2(!boardUp(), "the board came");
        tick(60); // 12:02:01: the hours are over
        QTRY_COMPARE_WITH_TIMEOUT(notifications().size(), before + 1, 5000);
        QVERIFY2(notifications().last().second.contains(QStringLiteral("通知しない時間帯の新着メール 1 通")),
                 qPrintable(notifications().last().second));
        QVERIFY(boardUp());
        QTest::qWait(300); // Timer4 runs on: the summary is told once
        QCOMPARE(notifications().size(), before + 1);
    }

    // A server that refuses the login: three timed checks give one box, and the status line shows each.
    // (The user's own check shows its box again: tst_watch's failuresTold.)
    void repeatedFailureToldOnce()
    {
        watch({{"hello", "Bob", "bob@example.jp"}}, "", QStringLiteral("wrong"));
        for (int check = 1; check <= 3; ++check) {
            QVERIFY(tickAndCheck(Kind::LoginRefused));
            QVERIFY(m_form->StatusLabel->text().contains(QStringLiteral("ログインできません")));
            QTRY_COMPARE_WITH_TIMEOUT(m_server->log().count("auth failed"), check, 5000);
        }
        QCOMPARE(MessageBox::shown().size(), 1);
    }
};

QTEST_MAIN(TestWatchBus)
#include "tst_watchbus.moc"
