#include "mailcheck/CopyBeforeDelete.h"

#include "mailcheck/SavedCopies.h"
#include "maillib/HeaderDecoder.h"
#include "maillib/Pop3Session.h"

#include <QTimer>

CopyBeforeDelete::CopyBeforeDelete(Pop3Session& session, QString folder, QDateTime time)
    : m_session(session), m_folder(std::move(folder)), m_time(std::move(time))
{
}

void CopyBeforeDelete::start(QList<JudgedMessage>& judged, Remove remove, std::function<void()> done)
{
    m_remove = std::move(remove);
    m_done = std::move(done);
    m_awaited = 0;
    for (JudgedMessage& message : judged) {
        // A request the session cannot make has no answer to wait for: its message just stays.
        const bool asked = m_session.retrieve(message.number, [this, &message](int, const std::optional<QByteArray>& bytes) {
            onCopy(message, bytes);
        });
        asked ? void(++m_awaited) : fail(message.number, CopyProblem::NotRequested);
    }
    if (m_awaited == 0)
        QTimer::singleShot(0, &m_session, [done = m_done] { done(); });
}

void CopyBeforeDelete::onCopy(JudgedMessage& judged, const std::optional<QByteArray>& bytes)
{
    QString detail;
    const std::optional<CopyProblem> problem = bytes ? keep(judged, *bytes, &detail) : CopyProblem::NotReceived;
    if (!problem)
        m_remove(judged.number);
    else
        fail(judged.number, *problem, detail);
    if (--m_awaited == 0)
        m_done();
}

std::optional<CopyProblem> CopyBeforeDelete::keep(JudgedMessage& judged, const QByteArray& bytes, QString* detail) const
{
    if (!wholeBySize(bytes, m_session.messageSize(judged.number)))
        return CopyProblem::SizeMismatch;
    const MessageHeaders headers = HeaderDecoder::decode(bytes.left(bytes.indexOf("\r\n\r\n") + 2));
    if (headers.subject != judged.subject || headers.sender != judged.sender || headers.messageId != judged.messageId)
        return CopyProblem::NotTheJudged;
    if (!SavedCopies::fits(bytes.size()))
        return CopyProblem::TooLarge;
    *detail = SavedCopies::store(m_time, judged.number, bytes, &judged.copy, m_folder);
    return detail->isEmpty() ? std::nullopt : std::optional(CopyProblem::NotStored);
}

void CopyBeforeDelete::fail(int number, CopyProblem problem, const QString& detail)
{
    if (m_unsaved.isEmpty())
        m_detail = detail;
    m_unsaved.append(number);
    m_problems.append(problem);
}

QString CopyBeforeDelete::notice() const
{
    return m_unsaved.isEmpty() ? QString() : CheckTexts::copiesLeft(int(m_unsaved.size()), m_problems.first(), m_detail);
}

bool CopyBeforeDelete::wholeBySize(const QByteArray& bytes, qint64 listed)
{
    if (listed < 0)
        return true;
    const qint64 dots = bytes.count("\r\n.") + (bytes.startsWith('.') ? 1 : 0);
    return listed >= bytes.size() - 2 && listed <= bytes.size() + dots;
}
