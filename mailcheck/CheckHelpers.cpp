#include "mailcheck/CheckHelpers.h"

#include "platform/MillisecondClock.h"

#include <QCoreApplication>
#include <QThread>

void WaitMilliseconds(const qint32& ms)
{
    const quint32 start = MillisecondClock::now();
    const quint32 limit = ms < 0 ? 0 : quint32(ms);
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (MillisecondClock::elapsedSince(start) > limit)
            return;
        QThread::msleep(1); // events are still handled every millisecond, without burning a core
    }
}

QString TrimAtNul(const QString& text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}
