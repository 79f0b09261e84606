#pragma once

#include <QString>

// Counts the minutes between timed checks. The one-second tick advances a seconds counter
// that rolls over into the minute counter every 61 ticks; the poll says when the minute
// counter has reached the interval, which the user types in minutes.
class IntervalTrigger
{
public:
    // One tick of the one-second timer.
    void tick();
    // True when a timed check is due for the interval text: its value is above 0 and the minute
    // counter has reached or passed it, rounded to a whole number of at least one minute (so a
    // fractional or lowered interval is still met).
    bool isDue(const QString& intervalText) const;
    // The interval in whole minutes as isDue() counts them; 0 when timed checks are off.
    static qint64 minutesOf(const QString& intervalText);
    // After a timed check: the minutes start again from 0.
    void checkDone() { m_minutes = 0; }
    // The interval changed: the count starts again from this moment, so that the values passed
    // through while a new interval is typed ("1" on the way to "10") start no check.
    void restart()
    {
        m_minutes = 0;
        m_seconds = 0;
    }

    int minutes() const { return m_minutes; }
    int seconds() const { return m_seconds; }

private:
    int m_minutes = 0;
    int m_seconds = 0;
};
