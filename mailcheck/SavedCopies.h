#pragma once

#include "mailcheck/DeletionHistory.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Whole copies of the messages a check deleted, in "★MailData/Deleted", one file each named
// "<yyyymmdd-hhmmss>-<message number>.eml" after the check's time: the bytes the server sent,
// CR LF line ends. Kept MaxAgeDays and at most MaxTotalBytes together.
namespace SavedCopies {
inline constexpr int MaxAgeDays = 30;
inline constexpr qint64 MaxTotalBytes = 50 * 1024 * 1024;

QString folder();
QString path(const QDateTime& time, int number);
// Writes the copy atomically and synced (a full disk leaves no part of it). Empty text on success,
// else the reason.
QString store(const QDateTime& time, int number, const QByteArray& bytes);
// Removes the copies whose files are older than MaxAgeDays before now, then the oldest until the
// rest are at most MaxTotalBytes.
void prune(const QDateTime& now);
// The saved copy of entry: a copy of its check whose subject and sender are the entry's; empty when
// there is none.
QString find(const HistoryEntry& entry);
} // namespace SavedCopies
