#include "maillib/TlsTrust.h"

#include "maillib/Pop3Address.h"
#include "platform/AtomicFile.h"

#include <QHostAddress>

namespace {
const QByteArray EncryptedTag = "tls";
const QByteArray PlainTextTag = "plain";
const QByteArray PinTag = "pin";

QString names(const QSslCertificate& certificate, bool subject)
{
    QStringList parts;
    for (const auto attribute : {QSslCertificate::CommonName, QSslCertificate::Organization}) {
        const QStringList values = subject ? certificate.subjectInfo(attribute) : certificate.issuerInfo(attribute);
        parts += values;
    }
    return parts.join(QStringLiteral(", "));
}
} // namespace

QString TlsTrust::key(const Pop3Address& address)
{
    return address.host.toLower();
}

bool TlsTrust::isLoopback(const QString& host) const
{
    if (treatAsRemote.contains(host))
        return false;
    const QHostAddress address(host);
    return address.isLoopback() || host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0;
}

QString TlsTrust::load(const QString& path)
{
    QByteArray data;
    if (!readWholeFile(path, &data))
        return {};
    if (data.size() > MaxFileSize)
        return QStringLiteral("「%1」が大きすぎるため読み込めませんでした。").arg(path);
    for (const QByteArray& line : data.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split('\t');
        const QString server = QString::fromUtf8(fields.value(1));
        if (fields.size() == 2 && fields[0] == EncryptedTag)
            encrypted.insert(server);
        else if (fields.size() == 2 && fields[0] == PlainTextTag)
            plainTextAllowed.insert(server);
        else if (fields.size() == 3 && fields[0] == PinTag) {
            const QSslCertificate certificate(QByteArray::fromBase64(fields[2]), QSsl::Der);
            if (!certificate.isNull())
                pinned.insert(server, certificate);
        }
    }
    return {};
}

QString TlsTrust::save(const QString& path) const
{
    QByteArray data;
    for (const QString& server : encrypted)
        data += EncryptedTag + '\t' + server.toUtf8() + '\n';
    for (const QString& server : plainTextAllowed)
        data += PlainTextTag + '\t' + server.toUtf8() + '\n';
    for (auto it = pinned.begin(); it != pinned.end(); ++it)
        data += PinTag + '\t' + it.key().toUtf8() + '\t' + it.value().toDer().toBase64() + '\n';
    const QString error = writeFileAtomically(path, data, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return error.isEmpty() ? QString() : QStringLiteral("「%1」に書き込めませんでした。%2").arg(path, error);
}

QString certificateFingerprint(const QSslCertificate& certificate)
{
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
}

QString certificateDetails(const QSslCertificate& certificate)
{
    const QString format = QStringLiteral("yyyy/MM/dd");
    return QStringLiteral("SHA-256: %1\n発行先: %2\n発行者: %3\n有効期間: %4 ～ %5")
        .arg(certificateFingerprint(certificate), names(certificate, true), names(certificate, false),
             certificate.effectiveDate().toLocalTime().toString(format),
             certificate.expiryDate().toLocalTime().toString(format));
}
