#include "mailcheck/MailScan.h"

#include "mailcheck/MessageJudge.h"

#include <algorithm>

MailScan::MailScan(const SeenStore::Messages& previous, const QList<Listed>& listing, bool hasIds)
    : m_previous(hasIds ? previous : SeenStore::Messages()), m_listing(listing), m_hasIds(hasIds)
{
    for (int k = 1; k <= int(m_listing.size()); ++k) {
        const Listed& listed = m_listing.at(k - 1);
        const auto known = listed.id.isEmpty() ? m_previous.constEnd() : m_previous.constFind(listed.id);
        if (known != m_previous.constEnd() && (known->size < 0 || listed.size < 0 || known->size == listed.size)) {
            (known->cut ? m_toRead : m_known).append(k);
            continue;
        }
        if (m_hasIds)
            m_fresh.insert(k); // new, or another message under an old id
        m_toRead.append(k);
    }
}

QList<int> MailScan::recall(const MessageJudge* judge)
{
    QList<int> again;
    for (int k : std::as_const(m_known)) {
        const SeenStore::Message& known = *m_previous.constFind(idOf(k));
        if (judge && !judge->judge(known.subject, known.sender).isEmpty()) {
            again.append(k);
            continue;
        }
        m_seen.insert(idOf(k), known); // kept on what memory says: nothing is lost by it
        ++m_recalled;
    }
    m_known.clear();
    return again;
}

QString MailScan::read(int number, const SeenStore::Message& texts, const MessageJudge* judge)
{
    const QByteArray id = idOf(number);
    if (!id.isEmpty()) {
        if (const auto known = m_previous.constFind(id); known != m_previous.constEnd() && !sameTexts(*known, texts))
            m_fresh.insert(number);
        m_seen.insert(id, texts);
    }
    return judge ? judge->judge(texts.subject, texts.sender) : QString();
}

void MailScan::forget(const QList<int>& deleted)
{
    for (int number : deleted) {
        m_seen.remove(idOf(number));
        m_fresh.remove(number);
    }
}

QList<CheckOutcome::NewMessage> MailScan::newest(int most) const
{
    QList<int> fresh(m_fresh.begin(), m_fresh.end());
    std::sort(fresh.begin(), fresh.end(), std::greater<int>());
    QList<CheckOutcome::NewMessage> newest;
    for (int number : fresh.first(std::min<qsizetype>(fresh.size(), most))) {
        const SeenStore::Message texts = m_seen.value(idOf(number));
        newest.append({texts.sender, texts.subject});
    }
    return newest;
}

bool MailScan::sameTexts(const SeenStore::Message& remembered, const SeenStore::Message& fresh)
{
    const auto kept = [](QString text) {
        for (QChar& c : text) {
            if (c == u'\t' || c == u'\r' || c == u'\n' || c == QChar(0))
                c = u' ';
        }
        return text;
    };
    const auto same = [&](const QString& memory, const QString& now) {
        return remembered.cut ? kept(now).startsWith(memory) : kept(now) == memory;
    };
    const bool sameSize = remembered.size < 0 || fresh.size < 0 || remembered.size == fresh.size;
    return sameSize && same(remembered.subject, fresh.subject) && same(remembered.sender, fresh.sender);
}
