#pragma once

#include "ScriptedPop3Server.h"

#include <QSet>

// One message of a scripted mailbox: its UIDL id (empty for all: UIDL is refused), its bytes with
// CR LF line ends, and, when set, what RETR sends instead of them.
struct ScriptedMessage
{
    QByteArray id;
    QByteArray bytes;
    QByteArray retr = {};
};

// What a mailbox server does wrong; the defaults are honest.
struct MailboxFaults
{
    int refusedTop = 0;                               // TOP of this message is answered -ERR
    int repeatedTop = 0;                              // the reply to TOP of this message is sent twice
    int refusedDele = 0;                              // DELE of this message is answered -ERR
    int tinyListSize = 0;                             // LIST gives this message 10 bytes, less than its header
    int statClaims = 0;                               // every STAT claims this many messages
    int closingExtra = 0, closingBytes = 0;           // added to the count and size of every STAT after the first
    bool closingTwice = false;                        // every STAT after the first is answered twice, in one write
    bool listRefused = false, quitUnanswered = false; // quitUnanswered: the connection drops instead
    QList<QByteArray> uidl = {};                      // UIDL's lines instead of the ids
};

// count messages "Subject: 会議 k" (encoded) from mk@example.jp, without ids.
inline QList<ScriptedMessage> numberedMessages(int count)
{
    QList<ScriptedMessage> messages;
    for (int k = 1; k <= count; ++k) {
        const QByteArray n = QByteArray::number(k);
        messages.append({{}, "Subject: =?UTF-8?B?5Lya6K2w?= " + n + "\r\nFrom: m" + n + "@example.jp\r\n\r\nbody\r\n"});
    }
    return messages;
}

// The responder of a mailbox after the greeting: CAPA (UIDL TOP USER PIPELINING), any login, STAT,
// LIST, UIDL, TOP n 0, RETR, DELE and QUIT, honest but for faults.
inline ScriptedPop3Server::Responder scriptedMailbox(QList<ScriptedMessage> messages, MailboxFaults faults = {})
{
    QSet<int> deleted;
    int stats = 0;
    return [=](const QByteArray& command) mutable -> QList<QByteArray> {
        const QByteArray verb = command.left(4);
        const int n = command.split(' ').value(1).toInt();
        const ScriptedMessage m = messages.value(n - 1);
        QList<QByteArray> reply{"+OK"};
        qint64 size = 0;
        for (int k = 1; k <= messages.size(); ++k) {
            const QByteArray& bytes = messages.at(k - 1).bytes;
            size += deleted.contains(k) ? 0 : bytes.size();
            const QByteArray listed = QByteArray::number(k == faults.tinyListSize ? 10 : bytes.size());
            reply << QByteArray::number(k) + ' ' + (verb == "UIDL" ? messages.at(k - 1).id : listed);
        }
        const bool message = verb == "TOP " || verb == "RETR" || verb == "DELE";
        if (verb == "CAPA")
            return {"+OK", "UIDL", "TOP", "USER", "PIPELINING", "."};
        if (verb == "STAT") {
            const qsizetype left = faults.statClaims ? faults.statClaims : messages.size() - deleted.size();
            const bool closing = ++stats > 1;
            const QByteArray stat = "+OK " + QByteArray::number(left + (closing ? faults.closingExtra : 0)) + ' ' +
                                    QByteArray::number(size + (closing ? faults.closingBytes : 0));
            return closing && faults.closingTwice ? QList<QByteArray>{stat, stat} : QList<QByteArray>{stat};
        }
        if (verb == "UIDL" && !faults.uidl.isEmpty())
            return QList<QByteArray>{"+OK"} + faults.uidl << ".";
        if ((verb == "LIST" && faults.listRefused) || (verb == "UIDL" && messages.value(0).id.isEmpty()) ||
            (message && (n < 1 || n > messages.size() || deleted.contains(n))) ||
            (verb == "TOP " && n == faults.refusedTop) || (verb == "DELE" && n == faults.refusedDele))
            return {"-ERR no such message"};
        if (verb == "LIST" || verb == "UIDL")
            return reply << ".";
        reply = {"+OK"};
        if (verb == "TOP " || verb == "RETR") {
            const QByteArray bytes = verb == "TOP "     ? m.bytes.left(m.bytes.indexOf("\r\n\r\n") + 4)
                                     : m.retr.isEmpty() ? m.bytes
                                                        : m.retr;
            for (const QByteArray& line : bytes.chopped(2).split('\n')) // dot-stuffed, CR LF
                reply << (line.startsWith('.') ? "." : "") + line.chopped(line.endsWith('\r'));
            reply << ".";
            return n == faults.repeatedTop && verb == "TOP " ? reply + reply : reply;
        }
        if (verb == "DELE")
            deleted.insert(n);
        return command == "QUIT" && faults.quitUnanswered ? QList<QByteArray>{} : reply;
    };
}
