#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <optional>

// One message a check deleted, or in trial mode would have deleted.
struct HistoryEntry
{
    QDateTime time;
    bool trial = false;
    QByteArray uid;   // UIDL (1 to 70 characters from '!' to '~'); empty when the server gave none
    qint64 size = -1; // from LIST; -1 when unknown
    QString keyword;  // the keyword that matched, as stored
    QString sender;   // decoded From
    QString subject;  // decoded Subject
    // The deletion was sent but the session broke before the server confirmed it: the mail may be
    // gone or not, until settle() looks at the server again.
    bool unconfirmed = false;
    // The name of the account the mail was in; empty for the first account of a user who has no other.
    QString account = {};

    // One line of "deleted.tsv": time (ISO 8601 with offset, whole seconds), status ("deleted",
    // "trial" or "unconfirmed"), uid, size, keyword, sender, subject and, only when there is one, the
    // account, separated by tabs and ended by LF; tabs, CR and LF in a field become spaces, a uid that
    // is not one is left out. Without an account the line is the one earlier versions write.
    QByteArray line() const;
    // The entry of one line (without its LF); nothing for a line that is not one of ours (a status
    // it does not know, a bad time or uid). What line() writes of the entry, parse reads back equal.
    static std::optional<HistoryEntry> parse(const QByteArray& line);
    bool operator==(const HistoryEntry&) const = default;
};

// "★MailData/deleted.tsv", UTF-8, appended a line at a time. Past MaxFileBytes it becomes
// "deleted.1.tsv" (replacing the older one) and a new file begins, so the history never holds much
// more than twice that.
namespace DeletionHistory {
inline constexpr qint64 MaxFileBytes = 1024 * 1024;
// settle() reads the whole file: far more than MaxFileBytes and one check's lines.
inline constexpr qint64 MaxSettleBytes = 64 * 1024 * 1024;

QString file();
QString previousFile();
// Appends entries (rotating first when the file is past MaxFileBytes). Empty text on success,
// else a message for the user that names the file.
QString append(const QList<HistoryEntry>& entries);
// Settles the "unconfirmed" lines of file() that belong to the account checked, by the ids on its
// server now: one whose uid is no longer there becomes "deleted", one whose mail is still there goes
// (it was not deleted). A line belongs to the check when its account is account, or when it names no
// account and firstAccount is true; the lines of every other account stay as they are. Without ids
// (idsKnown false), and for lines without a uid, nothing can be told: they stay. Every other byte
// stays; the file is replaced atomically. Call it before this check's append(), which may turn the
// file over. Empty text on success, else a message for the user that names the file.
QString settle(const QSet<QByteArray>& idsOnServer, bool idsKnown, const QString& account = {},
               bool firstAccount = true);
// Marks as "deleted" the "unconfirmed" lines that append() wrote of entries (given as they were then,
// unconfirmed or not), once the server confirmed the end of the session. Only a line of the entry's own
// account matches it. A line not found is left: the next settle() decides it. Empty text on success, else a message for
// the user that names the file.
QString confirm(const QList<HistoryEntry>& entries);
// The entries of both files, newest first, at most maxEntries; of each file only its last
// 2 * MaxFileBytes are read. Lines that are not ours are skipped.
QList<HistoryEntry> read(int maxEntries = 20000);
// A field as a line holds it: tabs, CR, LF and NUL turned into spaces.
QString cleanField(const QString& text);
} // namespace DeletionHistory
