#pragma once

#include "mailcheck/CheckTexts.h"
#include "mailcheck/MailScan.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

class Pop3Session;

// Keeps a copy of each judged message before it is deleted: the message is read whole (RETR), proved
// to be the one judged (its size as listed, its subject, sender and Message-ID as judged), stored in
// the account's folder, and only then is its deletion asked for. A message whose copy could not be
// kept stays on the server, and the first reason is told. All the copies come in one stream.
class CopyBeforeDelete
{
public:
    // remove asks for a message's deletion; done follows once every copy has been answered (or at
    // once when none could be asked for), never inside start().
    using Remove = std::function<void(int number)>;
    CopyBeforeDelete(Pop3Session& session, QString folder, QDateTime time);

    // judged must live until done; each stored copy's path goes to its copy field.
    void start(QList<JudgedMessage>& judged, Remove remove, std::function<void()> done);

    // The messages left on the server for want of a copy, why, and the user's notice about them.
    const QList<int>& unsaved() const { return m_unsaved; }
    const QList<CopyProblem>& problems() const { return m_problems; }
    QString notice() const;

    // Whether bytes can be the whole message LIST sized: the transfer itself only stuffs dots and may
    // end a last line.
    static bool wholeBySize(const QByteArray& bytes, qint64 listed);

private:
    void onCopy(JudgedMessage& judged, const std::optional<QByteArray>& bytes);
    // Nothing when the copy is kept; else why not, and the disk's reason for NotStored.
    std::optional<CopyProblem> keep(JudgedMessage& judged, const QByteArray& bytes, QString* detail) const;
    void fail(int number, CopyProblem problem, const QString& detail = {});

    Pop3Session& m_session;
    QString m_folder;
    QDateTime m_time;
    Remove m_remove;
    std::function<void()> m_done;
    int m_awaited = 0;
    QList<int> m_unsaved;
    QList<CopyProblem> m_problems; // for each of m_unsaved
    QString m_detail;              // the disk's reason, when the first problem was NotStored
};
