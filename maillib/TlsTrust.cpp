#include "maillib/TlsTrust.h"

#include "maillib/Pop3Address.h"
#include "platform/AtomicFile.h"

#include <QFile>
#include <QHostAddress>

#include <algorithm>

namespace {
const QByteArray EncryptedTag = "tls";
const QByteArray PlainTextTag = "plain";
const QByteArray PinTag = "pin";

// A host name as the file can hold it: one field of one line, its spaces never trimmed away.
bool validHost(const QString& host)
{
    return !host.isEmpty() && host.size() <= TlsTrust::MaxHostChars &&
           std::all_of(host.begin(), host.end(), [](QChar c) { return c.unicode() > 0x20 && c.unicode() != 0x7f; });
}

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
    QFile in(path);
    if (!in.exists())
        return {};
    // A file that cannot be read must not pass for an empty one: it would forget which hosts need TLS.
    if (!in.open(QIODevice::ReadOnly))
        return QStringLiteral("「%1」を読み込めませんでした。%2").arg(path, in.errorString());
    const QByteArray data = in.read(MaxFileSize + 1);
    if (in.error() != QFileDevice::NoError)
        return QStringLiteral("「%1」を読み込めませんでした。%2").arg(path, in.errorString());
    if (data.size() > MaxFileSize)
        return QStringLiteral("「%1」が大きすぎるため読み込めませんでした。").arg(path);
    if (data.count('\n') > MaxLines)
        return QStringLiteral("「%1」の行が多すぎるため読み込めませんでした。").arg(path);
    for (const QByteArray& line : data.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split('\t');
        const QString server = QString::fromUtf8(fields.value(1));
        if (!validHost(server))
            continue;
        if (fields.size() == 2 && fields[0] == EncryptedTag)
            encrypted.insert(server);
        else if (fields.size() == 2 && fields[0] == PlainTextTag)
            plainTextAllowed.insert(server);
        else if (fields.size() == 3 && fields[0] == PinTag) {
            const QByteArray der = QByteArray::fromBase64(fields[2]);
            const QSslCertificate certificate(der, QSsl::Der);
            if (der.size() <= MaxCertificateBytes && !certificate.isNull())
                pinned.insert(server, certificate);
        }
    }
    return {};
}

QString TlsTrust::save(const QString& path) const
{
    // Sorted, so that the same decisions make the same file.
    QList<QByteArray> lines;
    for (const QString& server : encrypted) {
        if (validHost(server))
            lines.append(EncryptedTag + '\t' + server.toUtf8() + '\n');
    }
    for (const QString& server : plainTextAllowed) {
        if (validHost(server))
            lines.append(PlainTextTag + '\t' + server.toUtf8() + '\n');
    }
    for (auto it = pinned.begin(); it != pinned.end(); ++it) {
        const QByteArray der = it.value().toDer();
        if (validHost(it.key()) && !der.isEmpty() && der.size() <= MaxCertificateBytes)
            lines.append(PinTag + '\t' + it.key().toUtf8() + '\t' + der.toBase64() + '\n');
    }
    std::sort(lines.begin(), lines.end());
    const QByteArray data = lines.join();
    if (data.size() > MaxFileSize || lines.size() > MaxLines)
        return QStringLiteral("「%1」に書き込めませんでした。記録が多すぎます。").arg(path);
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
