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
    const double interval = leadingNumber(intervalText);
    if (!(interval > 0))
        return false;
    // An interval below half a minute rounds to 0, which would start checks without pause.
    const double minutes = std::max(1.0, roundHalfEven(std::min(interval, 1e9)));
    return m_minutes >= minutes;
}
