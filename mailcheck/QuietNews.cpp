#include "mailcheck/QuietNews.h"

void QuietNews::hold(int newMail, const CheckOutcome& outcome)
{
    m_any = true;
    m_lastNews = newMail;
    if (outcome.fresh >= 0)
        m_fresh += outcome.fresh;
    else
        m_freshKnown = false;
    // A later check's mail is newer than an earlier one's.
    m_newest = outcome.newest + m_newest;
    m_newest = m_newest.first(std::min<qsizetype>(m_newest.size(), CheckOutcome::NewestKept));
}

bool QuietNews::holding() const
{
    return m_any && (m_freshKnown ? m_fresh > 0 : m_lastNews > 0);
}

std::optional<QuietNews::Summary> QuietNews::release()
{
    std::optional<Summary> summary;
    if (holding())
        summary = Summary{m_freshKnown ? m_fresh : m_lastNews, m_newest};
    *this = QuietNews();
    return summary;
}
