#pragma once

#include "mailcheck/CheckSchedule.h"

#include <QDateTime>
#include <memory>

// Two clocks a test moves by hand: the wall clock, and the monotonic one that stops while the
// machine sleeps. The schedule given clock() reads them as they are at each call.
struct ManualClock
{
    struct Now
    {
        QDateTime wall = QDateTime(QDate(2024, 5, 1), QTime(12, 0));
        qint64 monotonicMs = 1'000'000;
    };
    std::shared_ptr<Now> now = std::make_shared<Now>();

    WatchClock clock() const
    {
        return {[n = now] { return n->wall; }, [n = now] { return n->monotonicMs; }};
    }
    // Time that passes awake: both clocks move.
    void pass(qint64 ms) const
    {
        now->wall = now->wall.addMSecs(ms);
        now->monotonicMs += ms;
    }
    // Time asleep: only the wall clock moves.
    void sleep(qint64 ms) const { now->wall = now->wall.addMSecs(ms); }
};
