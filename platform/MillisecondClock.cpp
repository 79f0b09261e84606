#include "platform/MillisecondClock.h"

#include <QElapsedTimer>

namespace {
std::function<quint32()>& source()
{
    static std::function<quint32()> override;
    return override;
}
} // namespace

quint32 MillisecondClock::now()
{
    if (source())
        return source()();
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return quint32(quint64(timer.elapsed()));
}

void MillisecondClock::setSource(std::function<quint32()> newSource)
{
    source() = std::move(newSource);
}
