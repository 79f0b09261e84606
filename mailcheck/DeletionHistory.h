#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

// One message a check deleted, or in trial mode would have deleted.
struct HistoryEntry
{
    QDateTime time;
    bool trial = false;
    QByteArray uid;   // UIDL; empty when the server gave none
    qint64 size = -1; // from LIST; -1 when unknown
    QString keyword;  // the keyword that matched, as stored
    QString sender;   // decoded From
    QString subject;  // decoded Subject

    // One line of "deleted.tsv": time (ISO 8601 with offset), "deleted" or "trial", uid, size,
    // keyword, sender, subject, separated by tabs and ended by LF; tabs, CR and LF in a field
    // become spaces.
    QByteArray line() const;
    // The entry of one line (without its LF); nothing for a line that is not one of ours.
    static std::optional<HistoryEntry> parse(const QByteArray& line);
};

// "★MailData/deleted.tsv", UTF-8, appended a line at a time. Past MaxFileBytes it becomes
// "deleted.1.tsv" (replacing the older one) and a new file begins, so the history never holds much
// more than twice that.
namespace DeletionHistory {
inline constexpr qint64 MaxFileBytes = 1024 * 1024;

QString file();
QString previousFile();
// Appends entries (rotating first when the file is past MaxFileBytes). Empty text on success,
// else a message for the user that names the file.
QString append(const QList<HistoryEntry>& entries);
// The entries of both files, newest first, at most maxEntries; of each file only its last
// 2 * MaxFileBytes are read. Lines that are not ours are skipped.
QList<HistoryEntry> read(int maxEntries = 20000);
// A field as a line holds it: tabs, CR and LF turned into spaces.
QString cleanField(const QString& text);
} // namespace DeletionHistory
