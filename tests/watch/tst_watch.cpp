#include "TableRows.h"
#include "TestProgramFolder.h"
#include "WatchFixtures.h"
#include "mailcheck/CheckSchedule.h"
#include "mailcheck/QuietNews.h"
#include "platform/DesktopNotice.h"
#include "platform/MessageBox.h"
#include "settings/MoreOptionsForm.h"
#include "settings/QuietHours.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

namespace {
// A row of the tables below: what is given, in one or two texts, and what comes of it, in one or two.
struct Row
{
    const char* name;
    QString given, more;
    QString expected = {}, end = {};
};

// A schedule's life (a Row's "more") as steps, each a letter and a number:
//   tN  N one-second ticks, awake      pMS / sMS  awake / asleep time
//   nB  NetworkManager known           lB         logind known
//   oB  NetworkManager says offline    r          logind's resume
//   eB  a check ended (1: a timed one) ?C / !C    poll (!: while a check runs), expecting C:
//   hN  the server asked N seconds between logins (0: none named)
//                                                 w(ait), c(heck), o(ffline)

struct NoticeRow
{
    const char* name;
    QStringList capabilities;
    QList<NoticeLine> lines;
    bool mailProgram;
    QString body;
    QStringList actions;
};

} // namespace
Q_DECLARE_METATYPE(Row)
Q_DECLARE_METATYPE(NoticeRow)

// The logic of watching: quiet hours, when timed checks run around the network and sleep, which
// failures are told, what a notification says; and the window that sets them.
class TestWatch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Quiet hours as typed: refused, or stored in a form of their own (empty: none); then whether a
    // time of 1 May is in them, and when they end (empty: it is not).
    void quietHours_data()
    {
        const auto row = addRow<Row>();
        row({"blanks are none", "  ", "", "12:00", ""});
        row({"across midnight, late evening", "22:00-07:00", "22:00-07:00", "23:30", "2024-05-02T07:00"});
        row({"across midnight, early morning", "22:00-07:00", "22:00-07:00", "06:59", "2024-05-01T07:00"});
        row({"across midnight, the end is outside", "22:00-07:00", "22:00-07:00", "07:00", ""});
        row({"one-digit hour, blanks, the start inside", " 9:05 - 17:30 ", "09:05-17:30", "09:05", "2024-05-01T17:30"});
        row({"start equal to end is none", "12:00-12:00", "", "12:00", ""});
        row({"hour 24", "24:00-07:00", "refused"});
        row({"trailing text", "22:00-07:00x", "refused"});
        row({"one time only", "22:00", "refused"});
    }
    void quietHours()
    {
        QFETCH(Row, row);
        const std::optional<QuietHours> hours = QuietHours::parse(row.given);
        QCOMPARE(hours ? hours->text() : QStringLiteral("refused"), row.more);
        if (!hours)
            return;
        const QDateTime moment(QDate(2024, 5, 1), QTime::fromString(row.expected));
        const QDateTime end = QDateTime::fromString(row.end, Qt::ISODate);
        QCOMPARE(hours->contains(moment), end.isValid());
        QCOMPARE(hours->endOf(moment), end);
    }

    void schedule_data()
    {
        const auto row = addRow<Row>();
        row({"without either service, as the trigger", "1", "t60 ?w t1 ?c"});
        row({"a running check starts none", "1", "t61 !w"});
        row({"a timed check starts the count again", "1", "t61 ?c e1 t60 ?w"});
        row({"offline holds a due check, online brings it", "1", "n1 o1 t90 ?o o0 ?c"});
        row({"back after an interval by the wall clock", "10", "n1 o1 s660000 o0 ?w p3000 ?c ?w"});
        row({"NetworkManager gone while offline: as without it", "1", "n1 o1 t61 ?o n0 ?c"});
        row({"logind's wake after an interval", "10", "n1 l1 s700000 r ?w p3000 ?c e1 p3000 ?w"});
        row({"a wake without NetworkManager waits 10 s", "10", "l1 s700000 r p9999 ?w p1 ?c"});
        row({"a wake while offline waits for the network", "10", "n1 l1 o1 s700000 r p5000 ?w o0 p2999 ?w p1 ?c"});
        row({"without logind the wall clock's jump is a wake", "1", "s120000 t1 p9000 ?w p1000 ?c"});
        row({"timed checks off: no catch-up", "0", "n1 o1 s999999 o0 p3000 ?w"});
        row({"a login delay holds its seconds, or an interval", "1", "t61 h90 ?w t89 ?w t1 ?c h0 ?w t59 ?w t1 ?c"});
    }
    void schedule()
    {
        QFETCH(Row, row);
        const ManualClock time;
        CheckSchedule schedule(time.clock());
        schedule.setInterval(row.given);
        const QHash<QChar, CheckSchedule::Decision> decisions{{u'w', CheckSchedule::Decision::Wait},
                                                              {u'c', CheckSchedule::Decision::Check},
                                                              {u'o', CheckSchedule::Decision::Offline}};
        for (const QString& step : row.more.split(u' ')) {
            const qint64 n = step.mid(1).toLongLong();
            const QHash<QChar, std::function<void()>> act{
                {u't',
                 [&] {
                     for (qint64 second = 0; second < n; ++second)
                         time.pass(1000), schedule.tick();
                 }},
                {u'p', [&] { time.pass(n); }},
                {u's', [&] { time.sleep(n); }},
                {u'n', [&] { schedule.setNetworkKnown(n == 1); }},
                {u'l', [&] { schedule.setSleepKnown(n == 1); }},
                {u'o', [&] { schedule.setOffline(n == 1); }},
                {u'r', [&] { schedule.resumed(); }},
                {u'e', [&] { schedule.checkEnded(n == 1); }},
                {u'h', [&] { schedule.holdOff(int(n)); }},
                {u'?', [&] { QVERIFY2(schedule.poll(false) == decisions.value(step[1]), qPrintable(step)); }},
                {u'!', [&] { QVERIFY2(schedule.poll(true) == decisions.value(step[1]), qPrintable(step)); }}};
            QVERIFY2(act.contains(step[0]), qPrintable("unknown step " + step));
            act[step[0]]();
            if (QTest::currentTestFailed())
                return;
        }
    }

    // Failures as "t|m account r|u" (timed or manual; refused or unreachable) or "ok account" (a success); for
    // each failure, 1 when its box is shown.
    void failuresTold_data()
    {
        const auto row = addRow<Row>();
        row({"three timed refusals, one box; a success tells again", "t a r, t a r, t a r, ok a, t a r", {}, "1001"});
        row({"another kind, each account on its own", "t a r, t b r, t a u, t b r, t a r", {}, "11101"});
        row({"manual checks tell, the next timed one again", "t a r, m a r, m a r, t a r, t a r", {}, "11110"});
    }
    void failuresTold()
    {
        QFETCH(Row, row);
        const QHash<QString, CheckOutcome::Kind> kinds{{"r", CheckOutcome::Kind::LoginRefused},
                                                       {"u", CheckOutcome::Kind::NoConnection}};
        RepeatedFailures failures;
        QString told;
        for (const QString& check : row.given.split(QStringLiteral(", "))) {
            const QStringList parts = check.split(u' ');
            if (parts[0] == "ok")
                failures.forget(parts[1]);
            else
                told += failures.tell(parts[1], kinds.value(parts[2]), parts[0] == "t") ? u'1' : u'0';
        }
        QCOMPARE(told, row.expected);
    }

    // What arrived during quiet hours is told once, counted by the new mail of each check, with the
    // newest messages first; mail that was there all along is no news.
    void quietNews()
    {
        const auto outcome = [](int fresh, const QStringList& subjects) {
            CheckOutcome checked;
            checked.fresh = fresh;
            for (const QString& subject : subjects)
                checked.newest.append({QStringLiteral("from"), subject});
            return checked;
        };
        QuietNews news;
        news.hold(5, outcome(0, {}));
        QVERIFY2(!news.release(), "old mail made a summary");
        news.hold(5, outcome(2, {"b2", "b1"}));
        news.hold(7, outcome(2, {"d2", "d1"}));
        news.hold(7, outcome(0, {}));
        QVERIFY(news.holding());
        const std::optional<QuietNews::Summary> summary = news.release();
        QVERIFY(summary && summary->count == 4 && summary->newest.size() == 3);
        QCOMPARE(summary->newest[0].subject + summary->newest[1].subject + summary->newest[2].subject, "d2d1b2");
        QVERIFY2(!news.release(), "told twice");
    }

    void notificationText_data()
    {
        const auto row = addRow<NoticeRow>();
        const QList<NoticeLine> hostile{{"Eve <eve@example.jp>", "<b>now</b> & <a href=\"x\">here</a>"},
                                        {"山田\n太郎", "件名\r\nX-Spoof: 1\u202Eevil"}};
        const QString escaped(
            "Eve &lt;eve@example.jp&gt;: &lt;b&gt;now&lt;/b&gt; &amp; &lt;a href=&quot;x&quot;&gt;here&lt;/a&gt;"
            "\n山田 太郎: 件名 X-Spoof: 1 evil");
        const QList<NoticeLine> longer{{QString(70, u'a'), QString(120, u'あ')}};
        const QString cut = QString(59, u'a') + u'…' + ": " + QString(99, u'あ') + u'…';
        const QStringList open{"default", "メイン画面を表示"}, mailer{"mail-program", "メーラーを起動"};
        row({"markup escaped, a line each, no controls", {"body", "body-markup"}, hostile, false, escaped, {}});
        row({"no body where the server shows none", {"actions"}, hostile, true, "", open + mailer});
        row({"long texts cut, no mail program to offer", {"body", "actions"}, longer, false, cut, open});
    }
    void notificationText()
    {
        QFETCH(NoticeRow, row);
        const DesktopNotification notification =
            composeNotification(QStringLiteral("新着メール 1 通"), row.lines, row.capabilities, row.mailProgram);
        QCOMPARE(notification.body, row.body);
        QCOMPARE(notification.actions, row.actions);
    }

    // X11 first (through Xwayland on a Wayland desktop), where only X11 keeps the board on top, unless
    // the user chose; the choice is forgotten for the programs the program starts.
    void platformChoice()
    {
        const QByteArray before = qgetenv("QT_QPA_PLATFORM");
        char program[] = "mossvale", option[] = "-platform", wayland[] = "wayland";
        char* argv[] = {program, option, wayland};
        qunsetenv("QT_QPA_PLATFORM");
        preferX11Platform(3, argv);
        QVERIFY2(!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"), "-platform overruled");
        preferX11Platform(1, argv);
        QCOMPARE(qgetenv("QT_QPA_PLATFORM"), QByteArray("xcb;wayland"));
        forgetPlatformChoice();
        QVERIFY2(!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"), "the choice is handed on");
        qputenv("QT_QPA_PLATFORM", "wayland");
        preferX11Platform(1, argv);
        forgetPlatformChoice();
        QCOMPARE(qgetenv("QT_QPA_PLATFORM"), QByteArray("wayland"));
        qputenv("QT_QPA_PLATFORM", before);
    }

    // 「その他の設定」 stores what it takes at once, and refuses text that is not a time, keeping the
    // hours that were set. (The program reading them back: tst_watchbus.)
    void moreOptionsWindow()
    {
        TestProgramFolder folder;
        MessageBox::reset();
        SettingsModel settings;
        MoreOptionsForm form(settings);
        form.Check6->click();
        for (const QString& typed : {QStringLiteral("２３：００－６：３０"), QStringLiteral("夜の間")}) {
            form.Text1->setText(typed);
            Q_EMIT form.Text1->editingFinished();
            QCOMPARE(form.Text1->text(), QStringLiteral("23:00-06:30"));
        }
        QCOMPARE(MessageBox::shown().size(), 1);
        const QByteArray stored = folder.read(GeneralFile);
        QVERIFY2(stored.contains("[Mossvale]") && stored.contains("QuietHours=23:00-06:30") &&
                     stored.contains("DesktopNotification=1") && !stored.contains("EXEINI"),
                 stored.constData());
    }
};

QTEST_MAIN(TestWatch)
#include "tst_watch.moc"
