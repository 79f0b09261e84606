// The tray as a desktop's panel meets it: the program's StatusNotifierItem and its dbusmenu, driven
// over a private session bus by a panel of the test's own (a StatusNotifierWatcher with a host), and
// the tip's texts in both kinds of tray.
#include "../mailcheck/MailFixtures.h"
#include "TableRows.h"
#include "app/DBusMenu.h"
#include "app/MainForm.h"
#include "app/StatusNotifierItem.h"
#include "mailcheck/HistoryForm.h"
#include "platform/MessageBox.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTest>
#include <memory>

// The program's own readers of the protocol's structures.
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& tip);

namespace {
const QString MenuInterface = QStringLiteral("com.canonical.dbusmenu");

// What a panel serves: a watcher that has a host and notes every item that registers.
class Panel : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hasHost)
public:
    QStringList items;
    QList<uint> revisions; // of every LayoutUpdated seen
    bool hasHost() const { return true; }
public Q_SLOTS:
    Q_SCRIPTABLE void RegisterStatusNotifierItem(const QString& service) { items.append(service); }
    void layoutUpdated(uint revision, int) { revisions.append(revision); }
};

// The status line, and so the tip, for one way a check ended.
struct WordingRow
{
    const char* name;
    CheckOutcome::Kind kind;
    int messages, deleted, fresh, trial;
    QString notice, expected;
};
} // namespace

class TestTray : public QObject
{
    Q_OBJECT
    QProcess m_bus;
    QDBusConnection m_panelBus{QString()};
    std::unique_ptr<Panel> m_panel;
    std::unique_ptr<TestProgramFolder> m_folder;
    QTcpServer m_silent; // a server that never greets: a check against it runs until its reply time-out

    // The answer to a call from the panel, which the program's own thread has to serve meanwhile.
    QDBusMessage ask(const QString& method, const QVariantList& arguments, const QString& path = DBusMenu::path(),
                     const QString& interface = MenuInterface)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(m_panel->items.value(0), path, interface, method);
        call.setArguments(arguments);
        QDBusPendingCall pending = m_panelBus.asyncCall(call, 5000);
        if (!QTest::qWaitFor([&pending] { return pending.isFinished(); }, 10000))
            return {};
        return pending.reply();
    }
    // The menu's entries by label, with their properties.
    QMap<QString, DBusMenuLayoutItem> layout()
    {
        const QDBusMessage reply = ask(QStringLiteral("GetLayout"), {0, -1, QStringList()});
        DBusMenuLayoutItem root;
        if (reply.arguments().size() == 2)
            reply.arguments().at(1).value<QDBusArgument>() >> root;
        QMap<QString, DBusMenuLayoutItem> entries;
        for (const DBusMenuLayoutItem& child : std::as_const(root.children))
            entries.insert(child.properties.value(QStringLiteral("label")).toString(), child);
        return entries;
    }
    static bool enabled(const DBusMenuLayoutItem& entry)
    {
        return entry.properties.value(QStringLiteral("enabled"), true).toBool();
    }
    // A click on the entry id, as the panel sends it.
    QDBusMessage click(int id)
    {
        return ask(u"Event"_qs, {id, u"clicked"_qs, QVariant::fromValue(QDBusVariant(0)), uint(0)});
    }
    SniToolTip tip()
    {
        const QDBusMessage reply =
            ask(QStringLiteral("Get"), {QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("ToolTip")},
                QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.freedesktop.DBus.Properties"));
        SniToolTip tip;
        if (!reply.arguments().isEmpty())
            reply.arguments().at(0).value<QDBusVariant>().variant().value<QDBusArgument>() >> tip;
        return tip;
    }
    // The main window gone to the tray, its item registered with the panel and its menu followed.
    void toTray(MainForm& form)
    {
        form.show();
        form.Command4_Click();
        QTRY_COMPARE_WITH_TIMEOUT(m_panel->items.size(), 1, 10000);
        QVERIFY(m_panelBus.connect(m_panel->items.first(), DBusMenu::path(), MenuInterface,
                                   QStringLiteral("LayoutUpdated"), m_panel.get(), SLOT(layoutUpdated(uint, int))));
        QTRY_VERIFY(!form.isVisible());
    }

private Q_SLOTS:
    void initTestCase()
    {
        MOSSVALE_REQUIRE(Prerequisite::missingPrograms({"dbus-daemon"}).isEmpty(), "dbus-daemon");
        m_bus.startCommand(QStringLiteral("dbus-daemon --session --nofork --nopidfile --print-address=1"));
        QVERIFY(QTest::qWaitFor([this] { return m_bus.canReadLine() || (m_bus.waitForReadyRead(100), false); }, 10000));
        const QByteArray address = m_bus.readLine().trimmed();
        // Before the program's first use of the session bus, which then is this one.
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        m_panelBus = QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("panel"));
        QVERIFY(m_panelBus.isConnected());
        QVERIFY(m_silent.listen(QHostAddress::LocalHost));
    }
    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("panel"));
        m_bus.terminate();
        m_bus.waitForFinished(5000);
    }
    void init()
    {
        MessageBox::reset();
        m_folder = std::make_unique<TestProgramFolder>(true, true);
        m_folder->writeServer(QStringLiteral("127.0.0.1:%1").arg(m_silent.serverPort()));
        m_folder->writeAccount(QStringLiteral("user"), QStringLiteral("password"));
        m_panel = std::make_unique<Panel>();
        QVERIFY(m_panelBus.registerObject(QStringLiteral("/StatusNotifierWatcher"), m_panel.get(),
                                          QDBusConnection::ExportScriptableContents |
                                              QDBusConnection::ExportAllProperties));
        QVERIFY(m_panelBus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
        checkOptions().connectTimeoutMs = checkOptions().replyTimeoutMs = 4000;
    }
    void cleanup()
    {
        m_panelBus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        m_panelBus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
        while (QTcpSocket* socket = m_silent.nextPendingConnection())
            delete socket; // after the window: its check, if any, ended with it
    }

    // 「メールチェック」 in the panel's menu starts a check; it is off while the check runs, where a click on it
    // does nothing, and on again after it. Each change reaches the panel as LayoutUpdated with a new revision,
    // and the tip follows the check. The other entries do what they say; an id no entry has is refused.
    void menuFollowsTheCheck()
    {
        MainForm form;
        form.setMailOptions(checkOptions());
        toTray(form);
        const QString check = u"メールチェック"_qs;
        QVERIFY(enabled(layout().value(check)));
        const SniToolTip before = tip();
        QCOMPARE(before.title, u"Mossvale"_qs);
        QVERIFY2(!before.body.isEmpty() && !before.body.contains(u'\n'), qPrintable(before.body));
        QSignalSpy triggered(form.mtraycheck, &QAction::triggered);
        QSignalSpy connected(&m_silent, &QTcpServer::newConnection);
        QCOMPARE(click(layout().value(check).id).type(), QDBusMessage::ReplyMessage);
        QTRY_VERIFY(form.isChecking() && connected.size() == 1 && !m_panel->revisions.isEmpty());
        const QMap<QString, DBusMenuLayoutItem> during = layout();
        QVERIFY(!enabled(during.value(check)));
        QVERIFY(enabled(during.value(u"メイン画面を表示"_qs)) && enabled(during.value(u"終了"_qs)));
        QVERIFY2(tip().body.startsWith(before.body + u'\n'), qPrintable(tip().body));
        click(during.value(check).id);
        QTest::qWait(200); // room for a second check to connect, were one started
        QVERIFY(triggered.size() == 1 && connected.size() == 1 && !form.isVisible());

        const qsizetype seen = m_panel->revisions.size();
        QTRY_VERIFY_WITH_TIMEOUT(!form.isChecking(), 15000);
        QTRY_VERIFY(m_panel->revisions.size() > seen);
        const QList<uint>& revisions = m_panel->revisions; // each a new one
        QVERIFY(std::adjacent_find(revisions.begin(), revisions.end(), std::greater_equal<uint>()) == revisions.end());
        QVERIFY(enabled(layout().value(check)));
        QVERIFY2(tip().body.endsWith(u"接続できません"_qs), qPrintable(tip().body));
        QTRY_COMPARE(MessageBox::shown().size(), 1); // a manual check that could not connect says so
        QCOMPARE(click(9999).type(), QDBusMessage::ErrorMessage);
        click(layout().value(u"削除履歴"_qs).id);
        QTRY_VERIFY(form.historyForm().isLoaded() && form.historyForm().loaded()->isVisible());
        click(layout().value(u"メイン画面を表示"_qs).id);
        QTRY_VERIFY(form.isVisible());
        QCOMPARE(connected.size(), 1);
    }

    // Qt's own tray has one text: the program's title is its first line.
    void qtTrayTipCarriesTheTitle()
    {
        QMenu menu;
        TrayIcon* tray = TrayIcon::createQtTray(&menu, this);
        tray->setTip(QStringLiteral("Mossvale"), QStringLiteral("2025/01/02 09:05\n09:06 残り3（新着1）・削除0"));
        const auto* icon = tray->findChild<QSystemTrayIcon*>();
        QVERIFY(icon);
        QCOMPARE(icon->toolTip(), QStringLiteral("Mossvale\n2025/01/02 09:05\n09:06 残り3（新着1）・削除0"));
        delete tray;
    }

    void statusWording_data()
    {
        const auto add = addRow<WordingRow>();
        using K = CheckOutcome::Kind;
        // clang-format off
        add({"left and new", K::Checked, 17, 1, 1, 0, {}, u"09:05 残り16（新着1）・削除1"_qs});
        add({"old mail is not new", K::Checked, 16, 0, 0, 0, {}, u"09:05 残り16（新着0）・削除0"_qs});
        add({"no unique ids", K::Checked, 13, 1, -1, 0, {}, u"09:05 残り12・削除1"_qs});
        add({"trial", K::Checked, 5, 0, 2, 3, {}, u"09:05 残り5（新着2）・試用3"_qs});
        add({"with a notice", K::Checked, 0, 0, 0, 0, u"x"_qs, u"09:05 残り0（新着0）・削除0※"_qs});
        add({"unreachable", K::NoConnection, 0, 0, -1, 0, {}, u"09:05 接続できません"_qs});
        // clang-format on
    }
    // 「残り」 counts what stays on the server, 「新着」 only mail that was not there at the last check.
    void statusWording()
    {
        QFETCH(WordingRow, row);
        CheckOutcome outcome;
        outcome.kind = row.kind;
        outcome.finished = QDateTime(QDate(2025, 1, 2), QTime(9, 5));
        outcome.messages = row.messages;
        outcome.deleted = row.deleted;
        outcome.fresh = row.fresh;
        outcome.trialMatches = row.trial;
        outcome.notice = row.notice;
        QCOMPARE(outcome.summary(), row.expected);
        QCOMPARE(outcome.details().contains(u"新着"_qs), row.fresh >= 0);
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
