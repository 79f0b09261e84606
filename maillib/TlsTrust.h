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

    // The file holds at most this much, in at most MaxLines lines: a larger one was not written by
    // this program. A host name has at most MaxHostChars characters (those of DNS), a certificate
    // at most MaxCertificateBytes; longer fields are skipped as unknown lines are.
    static constexpr qint64 MaxFileSize = 1024 * 1024;
    static constexpr qsizetype MaxLines = 10000;
    static constexpr qsizetype MaxHostChars = 253;
    static constexpr qsizetype MaxCertificateBytes = 48 * 1024;

    static QString key(const Pop3Address& address);
    // A loopback address (or "localhost") never leaves this machine, so plain text there needs no consent.
    bool isLoopback(const QString& host) const;

    // Reads path into the three sets (treatAsRemote is left alone). A missing file is empty; lines
    // this version does not know are skipped. Empty text on success, else the message for the user
    // (a file that cannot be read, is too large or has too many lines).
    QString load(const QString& path);
    // Writes the three sets atomically, as load() reads them back: hosts that are no host names
    // (empty, too long, with spaces or control characters) and certificates that cannot be kept are
    // left out. Empty text on success, else the message for the user (also when the file would be
    // too large: the old one then stays).
    QString save(const QString& path) const;
};

// "AB:CD:…", the SHA-256 digest of the certificate in hex pairs.
QString certificateFingerprint(const QSslCertificate& certificate);
// Fingerprint, subject, issuer and validity, one per line, for the user to judge the certificate.
QString certificateDetails(const QSslCertificate& certificate);
