#pragma once

#include "mailcheck/CheckOutcome.h"
#include "mailcheck/IntervalTrigger.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <functional>
#include <optional>

// The two clocks the schedule reads: the wall clock, which goes on while the machine sleeps, and a
// monotonic one in milliseconds, which stops. Tests give their own.
struct WatchClock
{
    std::function<QDateTime()> wall;
    std::function<qint64()> monotonicMs;

    static WatchClock system();
};

// When timed checks run, around the interval trigger: none while the network is known to be down,
// and one soon after the network comes back or the machine wakes, when an interval has passed since
// the last check by the wall clock (a catch-up, after which the interval starts again). A wake is
// logind's word, or, without logind, the wall clock running ahead of the monotonic one by more than
// the interval. Without NetworkManager a wake waits ResumeWithoutNetworkMs for the network to come.
// With neither service, and the network never reported down, it decides exactly as the trigger does.
class CheckSchedule
{
public:
    enum class Decision {
        Wait,    // nothing to do now
        Check,   // start a timed check
        Offline, // a check is due, but there is no network: tell it, do not connect
    };

    // A catch-up waits this long after the network is back, for routes and names to settle.
    static constexpr qint64 SettleMs = 3000;
    // Without NetworkManager to say when the network is back after a wake.
    static constexpr qint64 ResumeWithoutNetworkMs = 10000;

    explicit CheckSchedule(WatchClock clock = WatchClock::system());

    // The interval as typed (minutes); 0 or less turns timed checks and catch-ups off.
    void setInterval(const QString& text);
    // Whether NetworkManager and logind answer on the system bus.
    void setNetworkKnown(bool known);
    void setSleepKnown(bool known) { m_sleepKnown = known; }
    // NetworkManager's word: no network at all (asleep or disconnected).
    void setOffline(bool offline);
    bool offline() const { return m_networkKnown && m_offline; }
    // logind's PrepareForSleep(false).
    void resumed();

    // The one-second tick: the trigger's count, and the clocks compared.
    void tick();
    // Asked often (every 20 ms): what to do now. checking: a check is running.
    Decision poll(bool checking);
    // A check ended (timed: it came from the schedule); the wall clock of the last check is now.
    void checkEnded(bool timed);
    // The interval's count starts again (the interval was changed).
    void restart() { m_trigger.restart(); }
    // The server asked for fewer logins: no timed check for seconds (one interval when 0).
    void holdOff(int seconds);

    const IntervalTrigger& trigger() const { return m_trigger; }
    // The wall clock the schedule reads.
    QDateTime now() const { return m_clock.wall(); }
    // A catch-up is waiting (for the network, or for its moment).
    bool catchUpPending() const { return m_catchUpAt.has_value(); }

private:
    bool intervalPassedByWall() const;

    WatchClock m_clock;
    IntervalTrigger m_trigger;
    QString m_interval = QStringLiteral("0");
    bool m_networkKnown = false;
    bool m_sleepKnown = false;
    bool m_offline = false;
    QDateTime m_lastCheck;             // wall clock: the last check's end, or the start
    std::optional<qint64> m_catchUpAt; // monotonic ms from when a catch-up may start, once online
    qint64 m_heldUntil = 0;            // monotonic ms before which no timed check starts
    QDateTime m_lastTickWall;          // the clocks at the previous tick, to see a sleep in
    qint64 m_lastTickMono = 0;
};

// Which failures of timed checks were told in a box, per account: the same kind again tells nothing
// new, until a check of that account succeeds or the user checks by hand.
class RepeatedFailures
{
public:
    // Whether a failed check of account, of kind, raises its box. A manual check always does.
    bool tell(const QString& account, CheckOutcome::Kind kind, bool timed);
    // A check succeeded, or the user checks by hand: the next failure is told again.
    void forget(const QString& account) { m_told.remove(account); }

private:
    QHash<QString, CheckOutcome::Kind> m_told;
};
