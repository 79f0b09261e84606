#include "TestCertificate.h"

#include <QDir>
#include <QFile>
#include <QProcess>

QString TestCertificate::make(const QString& folder)
{
    const QDir dir(folder);
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start("openssl", QStringList{"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                         "-nodes", "-days", "2", "-subj", "/CN=localhost", "-addext",
                                         "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:0:0:0:0:0:0:0:1", "-keyout",
                                         dir.filePath("key.pem"), "-out", dir.filePath("cert.pem")});
    openssl.waitForFinished(20000);
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(dir.filePath("cert.pem"));
    QFile keyFile(dir.filePath("key.pem"));
    if (openssl.exitCode() != 0 || certificates.isEmpty() || !keyFile.open(QIODevice::ReadOnly))
        return "openssl failed: " + openssl.errorString() + '\n' + openssl.readAll();
    certificate = certificates.first();
    key = QSslKey(keyFile.readAll(), QSsl::Ec);
    return key.isNull() ? QStringLiteral("openssl made an unreadable key") : QString();
}
