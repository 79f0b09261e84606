#pragma once

#include <QtGlobal>
#include <functional>

// A 32-bit millisecond clock that only moves forward and wraps every 2^32 ms, like the
// multimedia timer the program has always used. Tests replace its source.
class MillisecondClock
{
public:
    static quint32 now();
    // Milliseconds from start to now, correct across one wrap of the clock.
    static quint32 elapsedSince(quint32 start) { return now() - start; }
    // Test seam: the clock reads from source until reset with an empty function.
    static void setSource(std::function<quint32()> source);
};
