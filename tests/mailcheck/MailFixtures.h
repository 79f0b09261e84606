#pragma once

#include "DovecotServer.h"
#include "ScriptedPop3Server.h"
#include "TestProgramFolder.h"
#include "maillib/Pop3Session.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>

// A message as a server stores it, with the subject and the sender's display name encoded as
// mail programs send them.
inline QByteArray mailMessage(const QString& subject, const QString& fromName, const QString& fromAddress)
{
    auto encoded = [](const QString& text) { return "=?UTF-8?B?" + text.toUtf8().toBase64() + "?="; };
    return "From: " + encoded(fromName) + " <" + fromAddress.toUtf8() + ">\r\n" + "To: user@example.jp\r\n" +
           "Subject: " + encoded(subject) + "\r\n" + "Date: Mon, 1 Jan 2024 09:00:00 +0900\r\n" +
           "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\nbody\r\n";
}

// The bytes of a keyword data file holding these keywords as live records.
inline QByteArray keywordFileBytes(const QStringList& keywords)
{
    QByteArray bytes;
    for (const QString& keyword : keywords) {
        QByteArray text = cp932(keyword);
        text.append(QByteArray(200 - text.size(), ' '));
        bytes += QByteArray("\r\n\x01\x00", 4) + text;
    }
    return bytes;
}

// The options every check of the test executable uses.
inline Pop3Options& checkOptions()
{
    static Pop3Options options;
    return options;
}

// Starts the test executable's Dovecot and lets every check trust its certificate, with short
// time-outs. Null (and the reason in *error) when it cannot start.
inline std::unique_ptr<DovecotServer> startTrustedDovecot(QString* error)
{
    auto server = std::make_unique<DovecotServer>();
    if (!server->start()) {
        *error = server->errorText();
        return nullptr;
    }
    checkOptions().extraTrustedCertificates = {server->certificate()};
    checkOptions().connectTimeoutMs = checkOptions().replyTimeoutMs = 2000;
    return server;
}

// A new user whose mailbox holds these (subject, sender name, sender address) messages.
inline bool fillMailbox(DovecotServer& server, const QString& user, const QString& password,
                        const QList<QStringList>& messages)
{
    if (!server.addUser(user, password))
        return false;
    for (const QStringList& m : messages) {
        if (!server.deliver(user, mailMessage(m.value(0), m.value(1), m.value(2))))
            return false;
    }
    return true;
}

// The TOP requests of each of user's sessions, by the server's own log.
inline QList<int> topsPerSession(const DovecotServer& server, const QString& user)
{
    QList<int> tops;
    const QRegularExpression logout(QStringLiteral("pop3\\(%1\\).*Logged out top=(\\d+)/").arg(user));
    for (auto match = logout.globalMatch(server.log()); match.hasNext();)
        tops.append(match.next().captured(1).toInt());
    return tops;
}

// How many times user logged in, by the server's own log.
inline qsizetype loginsOf(const DovecotServer& server, const QString& user)
{
    return server.log().count(QStringLiteral("Login: user=<%1>").arg(user));
}

// A mailbox a scripted server serves honestly after its greeting: CAPA (UIDL, TOP, USER, PIPELINING), any login,
// STAT, LIST, UIDL, TOP n 0, RETR, DELE, QUIT. retr, when set, is what RETR sends instead of bytes.
struct ScriptedMessage
{
    QByteArray id;
    QByteArray bytes;
    QByteArray retr = {};
};
inline ScriptedPop3Server::Responder scriptedMailbox(QList<ScriptedMessage> messages)
{
    return [messages, deleted = QSet<int>()](const QByteArray& command) mutable -> QList<QByteArray> {
        const QByteArray verb = command.left(4);
        const int n = command.split(' ').value(1).toInt();
        const auto body = [](const QByteArray& bytes) {
            QList<QByteArray> lines{"+OK"};
            for (const QByteArray& line : bytes.chopped(2).split('\n'))
                lines << (line.startsWith('.') ? "." : "") + line.chopped(line.endsWith('\r'));
            return lines << ".";
        };
        QList<QByteArray> reply{"+OK"};
        qint64 size = 0;
        for (int k = 1; k <= messages.size(); ++k) {
            const ScriptedMessage& m = messages.at(k - 1);
            if (!deleted.contains(k))
                size += m.bytes.size();
            if (verb == "LIST" || verb == "UIDL")
                reply << QByteArray::number(k) + ' ' + (verb == "LIST" ? QByteArray::number(m.bytes.size()) : m.id);
        }
        if (verb == "CAPA")
            return {"+OK", "UIDL", "TOP", "USER", "PIPELINING", "."};
        if (verb == "STAT")
            return {"+OK " + QByteArray::number(messages.size() - deleted.size()) + ' ' + QByteArray::number(size)};
        if (verb == "LIST" || verb == "UIDL")
            return reply << ".";
        if ((verb == "TOP " || verb == "RETR" || verb == "DELE") &&
            (n < 1 || n > messages.size() || deleted.contains(n)))
            return {"-ERR no such message"};
        if (verb == "TOP ")
            return body(messages.at(n - 1).bytes.left(messages.at(n - 1).bytes.indexOf("\r\n\r\n") + 4));
        if (verb == "RETR") {
            const ScriptedMessage& m = messages.at(n - 1);
            return body(m.retr.isEmpty() ? m.bytes : m.retr);
        }
        if (verb == "DELE")
            deleted.insert(n);
        return reply;
    };
}
