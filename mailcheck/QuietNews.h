#pragma once

#include "mailcheck/CheckOutcome.h"

#include <QList>
#include <optional>

// News that checks held back during quiet hours, told as one summary when they end. What arrived
// is counted by the new mail of each check where the server tells new from old; elsewhere the last
// check's count stands for it.
class QuietNews
{
public:
    struct Summary
    {
        int count = 0;
        QList<CheckOutcome::NewMessage> newest; // newest first, at most CheckOutcome::NewestKept
    };

    // A check during quiet hours that would have announced newMail, with its outcome.
    void hold(int newMail, const CheckOutcome& outcome);
    // Something arrived during the hours: the summary has news to tell.
    bool holding() const;
    // What the summary tells, when something arrived; nothing is held afterwards.
    std::optional<Summary> release();

private:
    bool m_any = false;
    bool m_freshKnown = true; // every check held told new from old
    int m_fresh = 0;
    int m_lastNews = 0;
    QList<CheckOutcome::NewMessage> m_newest;
};
