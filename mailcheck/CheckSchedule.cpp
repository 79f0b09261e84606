#include "mailcheck/CheckSchedule.h"

#include <QElapsedTimer>
#include <memory>

WatchClock WatchClock::system()
{
    // QElapsedTimer reads the monotonic clock, which does not count the time the machine sleeps.
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return {[] { return QDateTime::currentDateTime(); }, [timer] { return timer->elapsed(); }};
}

CheckSchedule::CheckSchedule(WatchClock clock) : m_clock(std::move(clock))
{
    m_lastCheck = m_lastTickWall = m_clock.wall();
    m_lastTickMono = m_clock.monotonicMs();
}

void CheckSchedule::setInterval(const QString& text)
{
    m_interval = text;
}

void CheckSchedule::setNetworkKnown(bool known)
{
    const bool wasOffline = offline();
    m_networkKnown = known;
    // NetworkManager gone while it said offline: nothing says so any more, as without it.
    if (wasOffline && !offline())
        m_catchUpAt = m_clock.monotonicMs() + SettleMs;
}

void CheckSchedule::setOffline(bool down)
{
    const bool wasOffline = offline();
    m_offline = down;
    if (wasOffline && !offline())
        m_catchUpAt = m_clock.monotonicMs() + SettleMs;
}

// A wake asks for a catch-up; whether one runs is decided when it is due, by the wall clock then.
void CheckSchedule::resumed()
{
    m_catchUpAt = m_clock.monotonicMs() + (m_networkKnown ? SettleMs : ResumeWithoutNetworkMs);
}

void CheckSchedule::tick()
{
    m_trigger.tick();
    const QDateTime wall = m_clock.wall();
    const qint64 mono = m_clock.monotonicMs();
    const qint64 ahead = m_lastTickWall.msecsTo(wall) - (mono - m_lastTickMono);
    m_lastTickWall = wall;
    m_lastTickMono = mono;
    const qint64 intervalMs = IntervalTrigger::minutesOf(m_interval) * 60000;
    if (!m_sleepKnown && intervalMs > 0 && ahead > intervalMs)
        resumed();
}

CheckSchedule::Decision CheckSchedule::poll(bool checking)
{
    if (checking || m_clock.monotonicMs() < m_heldUntil)
        return Decision::Wait;
    if (m_catchUpAt && m_clock.monotonicMs() >= *m_catchUpAt && !offline()) {
        m_catchUpAt.reset();
        if (intervalPassedByWall())
            return Decision::Check;
    }
    if (!m_trigger.isDue(m_interval))
        return Decision::Wait;
    return offline() ? Decision::Offline : Decision::Check;
}

void CheckSchedule::checkEnded(bool timed)
{
    m_lastCheck = m_clock.wall();
    m_catchUpAt.reset();
    // The next timed check is a whole interval away, however long this one took.
    if (timed)
        m_trigger.restart();
}

void CheckSchedule::holdOff(int seconds)
{
    const qint64 wait = seconds > 0 ? qint64(seconds) * 1000 : IntervalTrigger::minutesOf(m_interval) * 60000;
    m_heldUntil = m_clock.monotonicMs() + wait;
}

bool CheckSchedule::intervalPassedByWall() const
{
    const qint64 intervalMs = IntervalTrigger::minutesOf(m_interval) * 60000;
    return intervalMs > 0 && m_lastCheck.msecsTo(m_clock.wall()) >= intervalMs;
}

bool RepeatedFailures::tell(const QString& account, CheckOutcome::Kind kind, bool timed)
{
    if (!timed) {
        m_told.remove(account);
        return true;
    }
    if (const auto told = m_told.constFind(account); told != m_told.constEnd() && *told == kind)
        return false;
    m_told.insert(account, kind);
    return true;
}
