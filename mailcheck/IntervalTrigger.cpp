#include "mailcheck/IntervalTrigger.h"

#include "platform/NumberText.h"

#include <algorithm>

void IntervalTrigger::tick()
{
    if (m_seconds >= 60) {
        m_seconds = 0;
        ++m_minutes;
    } else {
        ++m_seconds;
    }
}

bool IntervalTrigger::isDue(const QString& intervalText) const
{
    const qint64 minutes = minutesOf(intervalText);
    return minutes > 0 && m_minutes >= minutes;
}

qint64 IntervalTrigger::minutesOf(const QString& intervalText)
{
    const double interval = leadingNumber(intervalText);
    if (!(interval > 0))
        return 0;
    // An interval below half a minute rounds to 0, which would start checks without pause.
    return qint64(std::max(1.0, roundHalfEven(std::min(interval, 1e9))));
}
