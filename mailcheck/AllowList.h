#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <functional>

// One entry of the allow list as the user wrote it: its line in the file (from 0) and its text
// without the blanks around it.
struct AllowEntry
{
    int line = -1;
    QString text;
    friend bool operator==(const AllowEntry&, const AllowEntry&) = default;
};

// Senders never to be deleted, from "★MailData/allow.txt": UTF-8, one entry a line, a full address
// ("boss@example.jp") or a domain after "@" ("@example.jp", which covers its subdomains too);
// blank lines and lines starting with "#" are ignored. Entries compare without regard to case.
class AllowList
{
public:
    // The file is read at most MaxFileBytes and MaxEntries entries; a longer file counts up to there.
    static constexpr qint64 MaxFileBytes = 1024 * 1024;
    static constexpr int MaxEntries = 10000;

    // Reads file; a missing file is an empty list. *error (when given) says why a file that is there
    // could not be read, fit to show to the user.
    static AllowList load(const QString& file, QString* error = nullptr);
    // The entries of text, as load() reads them from a file.
    static AllowList parse(const QByteArray& text);

    // "★MailData/allow.txt".
    static QString defaultFile();
    // Whether address (one mail address as senderAddress gives it, any case) is on the list. A text
    // that is not one address (empty, no or several "@") never is.
    bool allows(const QString& address) const;
    bool isEmpty() const { return m_addresses.isEmpty() && m_domains.isEmpty(); }

    // Adds address to the end of file (created when missing), unless it is already allowed there.
    // Empty text on success, else a message for the user: one that names the file, or, for an
    // address starting with "#" (which the file would read as a comment), one that says so.
    static QString add(const QString& file, const QString& address);

    // The entries of file in file order, exactly those that load() counts; a missing file has none.
    // *error as for load().
    static QList<AllowEntry> entries(const QString& file, QString* error = nullptr);
    // Takes exactly one entry out of file: the line entry.line, when it still reads entry.text (case
    // and all); every other line, comments included, stays byte for byte. Empty text on success, else
    // a message for the user, and the file is left as it was (also when it changed since it was read).
    static QString remove(const QString& file, const AllowEntry& entry);

private:
    // Calls found(line, text) for each entry of text, in order, up to MaxEntries.
    static void walk(const QByteArray& text, const std::function<void(int, const QString&)>& found);

    QSet<QString> m_addresses; // lower case
    QSet<QString> m_domains;   // lower case, without the "@"
};
