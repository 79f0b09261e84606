#pragma once

#include <QSslCertificate>
#include <QSslKey>
#include <QString>

// A self-signed certificate for every name a client may give a test server ("localhost",
// 127.0.0.1, ::1), made with openssl as cert.pem and key.pem in folder, valid for two days.
struct TestCertificate
{
    QSslCertificate certificate;
    QSslKey key;

    // Empty text on success, else why it could not be made.
    QString make(const QString& folder);
};
