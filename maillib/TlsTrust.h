#pragma once

#include <QHash>
#include <QSet>
#include <QSslCertificate>
#include <QString>

struct Pop3Address;

// What the user has decided about servers' encryption, keyed by host name in lower case, whatever
// the port (pop3s and STLS reach the same server): hosts once reached with TLS (never again
// without it), hosts the user let have the password unencrypted, and the one certificate trusted
// for a host whose certificate fails verification. Kept in a UTF-8 file of tab-separated lines
// under the data folder.
struct TlsTrust
{
    QSet<QString> encrypted;
    QSet<QString> plainTextAllowed;
    QHash<QString, QSslCertificate> pinned;
    // Loopback addresses handled as if they were remote, so that tests can play a remote server.
    QSet<QString> treatAsRemote;

    // The file holds at most this much: a larger one was not written by this program.
    static constexpr qint64 MaxFileSize = 1024 * 1024;

    static QString key(const Pop3Address& address);
    // A loopback address (or "localhost") never leaves this machine, so plain text there needs no consent.
    bool isLoopback(const QString& host) const;

    // Reads path into the three sets (treatAsRemote is left alone). A missing file is empty; lines
    // this version does not know are skipped. Empty text on success, else the message for the user.
    QString load(const QString& path);
    // Writes the three sets atomically. Empty text on success, else the message for the user.
    QString save(const QString& path) const;
};

// "AB:CD:…", the SHA-256 digest of the certificate in hex pairs.
QString certificateFingerprint(const QSslCertificate& certificate);
// Fingerprint, subject, issuer and validity, one per line, for the user to judge the certificate.
QString certificateDetails(const QSslCertificate& certificate);
