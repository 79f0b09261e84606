#pragma once

#include "mailcheck/DeletionHistory.h"

#include <QByteArray>
#include <QDateTime>
#include <QSet>
#include <QString>

// Whole copies of the messages a check deleted, in "★MailData/Deleted", one file each named
// "<yyyymmdd-hhmmss>-<message number>.eml" after the check's time, or, when that name is taken (two
// checks in one second), "…-<message number>-2.eml" and so on: a copy never replaces another. The
// bytes the server sent, CR LF line ends, readable by the owner only. Kept MaxAgeDays, at most
// MaxTotalBytes and MaxCopies together, except the copies of the check that is running.
namespace SavedCopies {
inline constexpr int MaxAgeDays = 30;
inline constexpr qint64 MaxTotalBytes = 50 * 1024 * 1024;
inline constexpr int MaxCopies = 10000;
// Names tried for one message of one second: the plain one, then "-2" up to this.
inline constexpr int MaxSameName = 100;

QString folder();
// The first name tried for a copy.
QString path(const QDateTime& time, int number);
// Whether a copy of this size can be kept at all; a larger message stays on the server.
constexpr bool fits(qint64 bytes)
{
    return bytes <= MaxTotalBytes;
}
// Writes the copy under a name no other copy has, synced (a full disk leaves no part of it), never
// replacing a file. Empty text on success, *storedPath (when given) then being its path; else the reason.
QString store(const QDateTime& time, int number, const QByteArray& bytes, QString* storedPath = nullptr);
// Removes the copies whose files are older than MaxAgeDays before now, then the oldest until the
// rest are at most MaxTotalBytes and MaxCopies, but never a path in keep (the running check's copies,
// as store gave them). Empty text when every removal succeeded, else the reason of the first that failed.
QString prune(const QDateTime& now, const QSet<QString>& keep = {});
// The saved copy of entry: a copy of its check whose subject and sender are the entry's; empty when
// there is none.
QString find(const HistoryEntry& entry);
} // namespace SavedCopies
