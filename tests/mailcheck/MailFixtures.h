#pragma once

#include "DovecotServer.h"
#include "ScriptedMailbox.h"
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
