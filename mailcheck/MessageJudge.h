#pragma once

#include <QString>
#include <QStringList>

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
    // Whether address (a bare mail address, any case) is on the list.
    bool allows(const QString& address) const;
    bool isEmpty() const { return m_entries.isEmpty(); }

    // Adds address to the end of file (created when missing), unless it is already allowed there.
    // Empty text on success, else a message for the user that names the file.
    static QString add(const QString& file, const QString& address);

private:
    QStringList m_entries; // lower case
};

// The address inside a decoded From field ("名前 <a@b.jp>" or "a@b.jp (名前)"), lower case; empty
// when the field holds none.
QString senderAddress(const QString& from);

// The text as looser matching compares it: NFKC (full and half width alike), case folded, and
// hiragana turned into katakana.
QString foldForMatch(const QString& text);

// Decides, for one check, which message is to be deleted: the first keyword found in its subject
// or sender (exactly, or both folded when loose), unless the sender is on the allow list.
class MessageJudge
{
public:
    MessageJudge(const QStringList& keywords, bool loose, AllowList allow = {});
    // The keyword (as stored) that condemns the message, or an empty text to keep it.
    QString judge(const QString& subject, const QString& sender) const;

private:
    QStringList m_keywords;
    QStringList m_folded; // m_keywords folded, when loose
    bool m_loose;
    AllowList m_allow;
};

// Removes every live record whose keyword (without surrounding spaces) is keyword, through the
// keyword file's own marking and rebuild. Empty text on success (also when none was there), else
// the keyword file's message.
QString removeKeyword(const QString& keyword);
