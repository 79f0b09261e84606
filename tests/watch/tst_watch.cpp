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
struct ParseRow
{
    const char* name;
    QString text;
    bool valid;
    QString stored; // the stored form of a valid text
};

struct HoursRow
{
    const char* name;
    QString hours;
    QTime time;
    QDateTime end; // invalid: the time is outside the hours
};

// A schedule's life as steps, each a word and a number:
//   tick N        N one-second ticks, awake           pass MS / sleep MS   awake / asleep time
//   net 0|1       NetworkManager known                logind 0|1          logind known
//   offline 0|1   NetworkManager's word               resume              logind's resume
//   ended 0|1     a check ended (1: a timed one)      poll C / busy C     poll (busy: a check runs), expect
//                                                                         C: w(ait), c(heck), o(ffline)
struct ScheduleRow
{
    const char* name;
    QString interval;
    QStringList steps;
};

struct FailureRow
{
    const char* name;
    QStringList checks; // "t|m account kind": a timed or manual failure, "ok account": a success
    QString told;       // for each failure, 1 when its box is shown
};

struct NoticeRow
{
    const char* name;
    QStringList capabilities;
    QList<NoticeLine> lines;
    bool mailProgram;
    QString body;
    QStringList actions;
};

const QDate Day(2024, 5, 1);
const QDateTime At(int day, int hour, int minute)
{
    return QDateTime(Day.addDays(day), QTime(hour, minute));
}
} // namespace
Q_DECLARE_METATYPE(ParseRow)
Q_DECLARE_METATYPE(HoursRow)
Q_DECLARE_METATYPE(ScheduleRow)
Q_DECLARE_METATYPE(FailureRow)
Q_DECLARE_METATYPE(NoticeRow)

// The logic of watching: quiet hours, when timed checks run around the network and sleep, which
// failures are told, what a notification says; and the window that sets them.
class TestWatch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void quietHoursParse_data()
    {
        const auto row = addRow<ParseRow>();
        row({"empty is none", "", true, ""});
        row({"blanks are none", "  ", true, ""});
        row({"across midnight", "22:00-07:00", true, "22:00-07:00"});
        row({"one-digit hour, blanks", " 9:05 - 17:30 ", true, "09:05-17:30"});
        row({"full-width as typed in Japanese", "２２：００－０７：００", true, "22:00-07:00"});
        row({"start equal to end is none", "12:00-12:00", true, ""});
        row({"hour 24", "24:00-07:00", false, ""});
        row({"minute 60", "22:60-07:00", false, ""});
        row({"hours without minutes", "22-07", false, ""});
        row({"words", "夜", false, ""});
        row({"trailing text", "22:00-07:00x", false, ""});
        row({"one time only", "22:00", false, ""});
    }
    void quietHoursParse()
    {
        QFETCH(ParseRow, row);
        const std::optional<QuietHours> hours = QuietHours::parse(row.text);
        QCOMPARE(hours.has_value(), row.valid);
        if (hours)
            QCOMPARE(hours->text(), row.stored);
    }

    void quietHoursContain_data()
    {
        const auto row = addRow<HoursRow>();
        row({"late evening, ends tomorrow", "22:00-07:00", QTime(23, 30), At(1, 7, 0)});
        row({"early morning, ends today", "22:00-07:00", QTime(6, 59), At(0, 7, 0)});
        row({"the end is outside", "22:00-07:00", QTime(7, 0), QDateTime()});
        row({"just before the start", "22:00-07:00", QTime(21, 59), QDateTime()});
        row({"the start is inside", "09:00-17:00", QTime(9, 0), At(0, 17, 0)});
        row({"day hours, evening", "09:00-17:00", QTime(17, 0), QDateTime()});
        row({"none", "", QTime(12, 0), QDateTime()});
    }
    void quietHoursContain()
    {
        QFETCH(HoursRow, row);
        const QuietHours hours = *QuietHours::parse(row.hours);
        const QDateTime moment(Day, row.time);
        QCOMPARE(hours.contains(moment), row.end.isValid());
        QCOMPARE(hours.endOf(moment), row.end);
    }

    void schedule_data()
    {
        const auto row = addRow<ScheduleRow>();
        row({"without either service, as the trigger", "1", {"tick 60", "poll w", "tick 1", "poll c"}});
        row({"a running check starts none", "1", {"tick 61", "busy w"}});
        row({"a timed check starts the count again", "1", {"tick 61", "poll c", "ended 1", "tick 60", "poll w"}});
        row({"offline holds a due check, online brings it",
             "1",
             {"net 1", "offline 1", "tick 90", "poll o", "offline 0", "poll c"}});
        row({"back after an interval by the wall clock",
             "10",
             {"net 1", "offline 1", "sleep 660000", "offline 0", "poll w", "pass 3000", "poll c", "poll w"}});
        row({"back within an interval: nothing extra",
             "10",
             {"net 1", "offline 1", "pass 60000", "offline 0", "pass 3000", "poll w"}});
        row({"NetworkManager gone while offline: as without it",
             "1",
             {"net 1", "offline 1", "tick 61", "poll o", "net 0", "poll c"}});
        row({"logind's wake after an interval",
             "10",
             {"net 1", "logind 1", "sleep 700000", "resume", "poll w", "pass 3000", "poll c", "ended 1", "pass 3000",
              "poll w"}});
        row({"logind's wake within an interval",
             "10",
             {"net 1", "logind 1", "sleep 300000", "resume", "pass 3000", "poll w"}});
        row({"a wake without NetworkManager waits 10 s",
             "10",
             {"logind 1", "sleep 700000", "resume", "pass 9999", "poll w", "pass 1", "poll c"}});
        row({"a wake while offline waits for the network",
             "10",
             {"net 1", "logind 1", "offline 1", "sleep 700000", "resume", "pass 5000", "poll w", "offline 0",
              "pass 2999", "poll w", "pass 1", "poll c"}});
        row({"a manual check meanwhile spares the catch-up",
             "10",
             {"net 1", "logind 1", "sleep 700000", "resume", "ended 0", "pass 3000", "poll w"}});
        row({"without logind the wall clock's jump is a wake",
             "1",
             {"sleep 120000", "tick 1", "pass 9000", "poll w", "pass 1000", "poll c"}});
        row({"with logind a jump is left to it", "1", {"logind 1", "sleep 120000", "tick 1", "pass 10000", "poll w"}});
        row({"a jump shorter than the interval", "5", {"sleep 120000", "tick 1", "pass 10000", "poll w"}});
        row({"timed checks off: no catch-up",
             "0",
             {"net 1", "offline 1", "sleep 999999", "offline 0", "pass 3000", "poll w"}});
    }
    void schedule()
    {
        QFETCH(ScheduleRow, row);
        const ManualClock time;
        CheckSchedule schedule(time.clock());
        schedule.setInterval(row.interval);
        const QHash<QString, CheckSchedule::Decision> decisions{{"w", CheckSchedule::Decision::Wait},
                                                                {"c", CheckSchedule::Decision::Check},
                                                                {"o", CheckSchedule::Decision::Offline}};
        for (const QString& step : std::as_const(row.steps)) {
            const QString word = step.section(u' ', 0, 0), value = step.section(u' ', 1);
            const qint64 number = value.toLongLong();
            if (word == "tick")
                for (qint64 i = 0; i < number; ++i)
                    time.pass(1000), schedule.tick();
            else if (word == "pass")
                time.pass(number);
            else if (word == "sleep")
                time.sleep(number);
            else if (word == "net")
                schedule.setNetworkKnown(number == 1);
            else if (word == "logind")
                schedule.setSleepKnown(number == 1);
            else if (word == "offline")
                schedule.setOffline(number == 1);
            else if (word == "resume")
                schedule.resumed();
            else if (word == "ended")
                schedule.checkEnded(number == 1);
            else if (word == "poll" || word == "busy")
                QVERIFY2(schedule.poll(word == "busy") == decisions.value(value), qPrintable(step));
            else
                QFAIL(qPrintable("unknown step " + step));
        }
    }

    void failuresTold_data()
    {
        const auto row = addRow<FailureRow>();
        row({"three timed refusals, one box", {"t a refused", "t a refused", "t a refused"}, "100"});
        row({"another kind is told", {"t a refused", "t a unreachable", "t a refused"}, "111"});
        row({"a success tells the next again", {"t a refused", "ok a", "t a refused"}, "11"});
        row({"a manual check always tells, and the next timed one again",
             {"t a refused", "m a refused", "m a refused", "t a refused", "t a refused"},
             "11110"});
        row({"each account on its own", {"t a refused", "t b refused", "t a refused", "t b refused"}, "1100"});
    }
    void failuresTold()
    {
        QFETCH(FailureRow, row);
        const QHash<QString, CheckOutcome::Kind> kinds{{"refused", CheckOutcome::Kind::LoginRefused},
                                                       {"unreachable", CheckOutcome::Kind::NoConnection}};
        RepeatedFailures failures;
        QString told;
        for (const QString& check : std::as_const(row.checks)) {
            const QStringList parts = check.split(u' ');
            if (parts[0] == "ok")
                failures.forget(parts[1]);
            else
                told += failures.tell(parts[1], kinds.value(parts[2]), parts[0] == "t") ? u'1' : u'0';
        }
        QCOMPARE(told, row.told);
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
        QVERIFY(summary);
        QCOMPARE(summary->count, 4);
        QStringList subjects;
        for (const CheckOutcome::NewMessage& message : summary->newest)
            subjects << message.subject;
        QCOMPARE(subjects, QStringList({"d2", "d1", "b2"}));
        QVERIFY2(!news.release(), "told twice");
        news.hold(3, outcome(-1, {})); // a server without unique ids: the last count stands
        QCOMPARE(news.release()->count, 3);
    }

    void notificationText_data()
    {
        const auto row = addRow<NoticeRow>();
        const NoticeLine hostile{"Eve <eve@example.jp>", "<b>now</b> & <a href=\"x\">here</a>"};
        const QStringList markup{"body", "body-markup"};
        row({"markup escaped",
             markup,
             {hostile},
             false,
             "Eve &lt;eve@example.jp&gt;: &lt;b&gt;now&lt;/b&gt; &amp; &lt;a href=&quot;x&quot;&gt;here&lt;/a&gt;",
             {}});
        row({"plain where there is no markup",
             {"body"},
             {hostile},
             false,
             "Eve <eve@example.jp>: <b>now</b> & <a href=\"x\">here</a>",
             {}});
        row({"no body where the server shows none",
             {"actions"},
             {hostile},
             true,
             "",
             {"default", "メイン画面を表示", "mail-program", "メーラーを起動"}});
        row({"lines of their own, control characters gone",
             {"body"},
             {{"山田\n太郎", "件名\r\nX-Spoof: 1\u202Eevil"}, {"b", "s"}},
             false,
             "山田 太郎: 件名 X-Spoof: 1 evil\nb: s",
             {}});
        row({"long texts cut",
             {"body"},
             {{QString(70, u'a'), QString(120, u'あ')}},
             false,
             QString(59, u'a') + u'…' + ": " + QString(99, u'あ') + u'…',
             {}});
        row({"actions without a mail program", {"body", "actions"}, {}, false, "", {"default", "メイン画面を表示"}});
    }
    void notificationText()
    {
        QFETCH(NoticeRow, row);
        const DesktopNotification notification =
            composeNotification(QStringLiteral("新着メール 1 通"), row.lines, row.capabilities, row.mailProgram);
        QCOMPARE(notification.summary, QStringLiteral("新着メール 1 通"));
        QCOMPARE(notification.body, row.body);
        QCOMPARE(notification.actions, row.actions);
    }

    // 「その他の設定」 stores what it takes at once, and refuses text that is not a time, keeping the
    // hours that were set.
    void moreOptionsWindow()
    {
        TestProgramFolder folder;
        MessageBox::reset();
        SettingsModel settings;
        MoreOptionsForm form(settings);
        form.Check6->click();
        QVERIFY(settings.general().desktopNotification);
        const auto typeHours = [&form](const QString& text) {
            form.Text1->setText(text);
            Q_EMIT form.Text1->editingFinished();
        };
        typeHours(QStringLiteral("２３：００－６：３０"));
        QCOMPARE(form.Text1->text(), QStringLiteral("23:00-06:30"));
        typeHours(QStringLiteral("夜の間"));
        QCOMPARE(MessageBox::shown().size(), 1);
        QCOMPARE(form.Text1->text(), QStringLiteral("23:00-06:30"));
        QCOMPARE(settings.general().quietHours.text(), QStringLiteral("23:00-06:30"));
        const QByteArray stored = folder.read(GeneralFile);
        QVERIFY2(stored.contains("[Mossvale]") && stored.contains("QuietHours=23:00-06:30") &&
                     stored.contains("DesktopNotification=1"),
                 stored.constData());
        QVERIFY2(!stored.contains("EXEINI"), "a key of 1.0's section was written");
        SettingsModel reread;
        QCOMPARE(reread.loadGeneral(), QString());
        QCOMPARE(reread.general().quietHours, settings.general().quietHours);
        QVERIFY(reread.general().desktopNotification);
    }
};

QTEST_MAIN(TestWatch)
#include "tst_watch.moc"
