#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// What earlier checks read of each message, by the server's unique id (UIDL), so that a check
// asks only for the headers of mail that is new. Kept in "★MailData/seen.tsv": UTF-8, LF line
// ends, owner-only, written atomically. The first line names the server and user it belongs to:
// a file for another account (or one that cannot be read) counts as empty, so a changed account
// starts afresh. It ends with "pipelining" when the server offered PIPELINING over TLS at that
// check, so that the next one can send its login without waiting. Each further line is: id, size
// (LIST; -1 when unknown), subject, sender, by tabs, and "cut" as a fifth field when a text was cut
// to MaxTextChars (or left out to keep the file within MaxFileBytes); earlier versions take a file
// with such a line for a damaged one and read every header once.
// A remembered message is judged from these texts against the keywords as they are at the check;
// it is never deleted on the file's word alone: the check deletes by this session's id list.
class SeenStore
{
public:
    struct Message
    {
        qint64 size = -1;
        QString subject;
        QString sender;
        // A text is not whole: judging needs the message's headers read again.
        bool cut = false;
        bool operator==(const Message&) const = default;
    };
    using Messages = QHash<QByteArray, Message>;

    // Each text is kept to this many UTF-16 units, far more than the longest keyword (200 cp932 bytes).
    static constexpr qsizetype MaxTextChars = 1000;
    // The file is neither read nor written past this size: about 2,700 messages at the longest
    // texts, some 50,000 of ordinary ones; past that the longest lose their texts, at about 100
    // bytes a message.
    static constexpr qint64 MaxFileBytes = 16 * 1024 * 1024;

    // The messages remembered for server and user; empty when the file is missing, too large,
    // damaged or another account's.
    static Messages load(const QString& file, const QString& server, const QString& user);
    // Whether the file, written for server (any user), says the server offered PIPELINING over TLS.
    static bool offeredPipelining(const QString& file, const QString& server);
    // Takes the PIPELINING mark off the file, leaving the rest as it is. Empty text when the mark is
    // gone (or was never there), else the reason, naming the file.
    static QString forgetPipelining(const QString& file);
    // Replaces the file with messages (those on the server now), always one that load() reads back:
    // ids that are not UIDLs are left out, tabs, line breaks and NULs in texts become spaces, and
    // texts are cut to MaxTextChars; when the whole would pass MaxFileBytes, the longest messages
    // keep only their id and size, marked cut, and past that the last ids are left out. Empty text
    // on success, else the reason, naming the file.
    static QString save(const QString& file, const QString& server, const QString& user, const Messages& messages,
                        bool pipelining = false);
};
