#pragma once

#include "mailcheck/CheckOutcome.h"
#include "mailcheck/DeletionHistory.h"
#include "mailcheck/SeenStore.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

class MessageJudge;

// A message judged to go in this check, and where its copy is stored.
struct JudgedMessage
{
    int number = 0;
    HistoryEntry entry;
    QString subject; // as decoded from the headers judged, to compare the copy's with
    QString sender;
    QByteArray messageId;
    QString copy;
};

// What one check decides about a mailbox's messages, without the session: which headers to read,
// which messages are new since the last check, what the memory of this check keeps, and which
// keyword sends a message away. It never touches the network or a file, so each rule is plain to test.
//
// The memory decides what is read, never what is deleted: a message that memory says a keyword now
// matches is read again and judged on its own headers.
class MailScan
{
public:
    // One message of the listing (UIDL, LIST), by message number - 1.
    struct Listed
    {
        QByteArray id; // empty when the server gives none
        qint64 size = -1;
    };

    MailScan(const SeenStore::Messages& previous, const QList<Listed>& listing, bool hasIds);

    // The messages whose headers are read at once: new ones, and those remembered only in part
    // (a keyword may hide past the cut), in order.
    const QList<int>& toRead() const { return m_toRead; }
    // Decides the messages memory knows, now that the rules are read: each is kept on memory's word,
    // unless judge finds a keyword in its remembered texts; those are returned, to be read again.
    QList<int> recall(const MessageJudge* judge);
    // How many messages recall() settled on memory's word.
    int recalled() const { return m_recalled; }
    // A message's own headers arrived: what memory will keep of it, and whether it is new (a message
    // whose texts are not those remembered under its id is another message). The keyword that
    // condemns it, or an empty text.
    QString read(int number, const SeenStore::Message& texts, const MessageJudge* judge);
    // Messages the server deleted leave the memory and the count of new mail.
    void forget(const QList<int>& deleted);

    // What the next check remembers: every message on the server now, by id.
    const SeenStore::Messages& seen() const { return m_seen; }
    // New mail still on the server; -1 without unique ids.
    int freshCount() const { return m_hasIds ? int(m_fresh.size()) : -1; }
    // The newest new messages, newest first, at most most.
    QList<CheckOutcome::NewMessage> newest(int most) const;

    // Whether fresh texts are those remembered, as the memory keeps them: blanks for the characters a
    // line of it cannot hold, and cut texts compared as far as they go.
    static bool sameTexts(const SeenStore::Message& remembered, const SeenStore::Message& fresh);

private:
    QByteArray idOf(int number) const { return m_listing.value(number - 1).id; }

    SeenStore::Messages m_previous;
    QList<Listed> m_listing;
    bool m_hasIds;
    QList<int> m_toRead;
    QList<int> m_known; // remembered whole, awaiting recall()
    int m_recalled = 0;
    SeenStore::Messages m_seen;
    QSet<int> m_fresh;
};
