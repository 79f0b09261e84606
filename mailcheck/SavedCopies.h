#pragma once

#include "mailcheck/DeletionHistory.h"

#include <QByteArray>
#include <QDateTime>
#include <QSet>
#include <QString>

// Whole copies of the messages a check deleted, in "★MailData/Deleted" for the first account and
// "★MailData/Deleted/<id>" for each other (the bounds hold for each folder alone), one file each named
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

// The first account's folder; another account's copies live in a numbered folder inside it.
QString folder();
// The first name tried for a copy in the folder where.
QString path(const QDateTime& time, int number, const QString& where = folder());
// Whether a copy of this size can be kept at all; a larger message stays on the server.
constexpr bool fits(qint64 bytes)
{
    return bytes <= MaxTotalBytes;
}
// Writes the copy into the folder where under a name no other copy has, synced (a full disk leaves no
// part of it), never replacing a file. Empty text on success, *storedPath (when given) then being its
// path; else the reason.
QString store(const QDateTime& time, int number, const QByteArray& bytes, QString* storedPath = nullptr,
              const QString& where = folder());
// Removes the copies in the folder where (never those in a folder inside it) whose files are older than
// MaxAgeDays before now, then the oldest until the rest are at most MaxTotalBytes and MaxCopies, but
// never a path in keep (the running check's copies, as store gave them). Empty text when every removal
// succeeded, else the reason of the first that failed.
QString prune(const QDateTime& now, const QSet<QString>& keep = {}, const QString& where = folder());
// The saved copy of entry: a copy of its check whose subject and sender are the entry's, looked for in
// folder() and in each numbered folder inside it (an account's name may have changed since); empty
// when there is none.
QString find(const HistoryEntry& entry);
} // namespace SavedCopies
