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
        asked ? void(++m_awaited) : fail(message.number, QStringLiteral("サーバーにメールを要求できませんでした。"));
    }
    if (m_awaited == 0)
        QTimer::singleShot(0, &m_session, [done = m_done] { done(); });
}

void CopyBeforeDelete::onCopy(JudgedMessage& judged, const std::optional<QByteArray>& bytes)
{
    const QString error = bytes ? keep(judged, *bytes) : QStringLiteral("サーバーからメールを受け取れませんでした。");
    if (error.isEmpty())
        m_remove(judged.number);
    else
        fail(judged.number, error);
    if (--m_awaited == 0)
        m_done();
}

QString CopyBeforeDelete::keep(JudgedMessage& judged, const QByteArray& bytes) const
{
    if (!wholeBySize(bytes, m_session.messageSize(judged.number)))
        return QStringLiteral("サーバーから受け取ったメールが一覧の大きさと合わないため、控えにしませんでした。");
    const MessageHeaders headers = HeaderDecoder::decode(bytes.left(bytes.indexOf("\r\n\r\n") + 2));
    if (headers.subject != judged.subject || headers.sender != judged.sender || headers.messageId != judged.messageId)
        return QStringLiteral("サーバーから受け取ったメールが判定したメールと異なるため、控えにしませんでした。");
    if (!SavedCopies::fits(bytes.size()))
        return QStringLiteral("控えを保存できる上限（%1 MB）を超えるメールのため、保存しませんでした。")
            .arg(SavedCopies::MaxTotalBytes / (1024 * 1024));
    return SavedCopies::store(m_time, judged.number, bytes, &judged.copy, m_folder);
}

void CopyBeforeDelete::fail(int number, const QString& error)
{
    m_unsaved.append(number);
    if (m_error.isEmpty())
        m_error = error;
}

QString CopyBeforeDelete::notice() const
{
    if (m_unsaved.isEmpty())
        return {};
    return QStringLiteral("%1 通のメールは控えを保存できなかったため、削除せずにサーバーに残しました。\n%2")
        .arg(m_unsaved.size())
        .arg(m_error);
}

bool CopyBeforeDelete::wholeBySize(const QByteArray& bytes, qint64 listed)
{
    if (listed < 0)
        return true;
    const qint64 dots = bytes.count("\r\n.") + (bytes.startsWith('.') ? 1 : 0);
    return listed >= bytes.size() - 2 && listed <= bytes.size() + dots;
}
