#include "platform/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <system_error>

QString writeErrorText(int errorNumber)
{
    switch (errorNumber) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return QStringLiteral("空き容量がありません。");
    case EFBIG:
        return QStringLiteral("ファイルの大きさが上限を超えます。");
    case EROFS:
        return QStringLiteral("読み取り専用の場所には書き込めません。");
    case EACCES:
    case EPERM:
        return QStringLiteral("書き込む権限がありません。");
    case 0:
        // A short write without an error number: say what is known rather than "unknown".
        return QStringLiteral("書き込みが途中で止まりました。");
    default:
        return QString::fromStdString(std::generic_category().message(errorNumber));
    }
}

QString openErrorText(const QFileDevice& file, int errorNumber)
{
    const QString reason = file.errorString();
    if (errorNumber != 0 && reason == QString::fromStdString(std::generic_category().message(errorNumber)))
        return writeErrorText(errorNumber);
    return reason;
}

QString writeFully(QFileDevice& file, const char* bytes, qint64 size)
{
    // Qt reports a write that stopped part-way as a short count with no error text; the error
    // number of the failed system call is the only honest reason left.
    errno = 0;
    const qint64 written = file.write(bytes, size);
    const int error = errno;
    return written == size ? QString() : writeErrorText(error);
}

QString writeFileAtomically(const QString& path, const QByteArray& data, QFileDevice::Permissions permissions)
{
    // Renaming over a file would also replace one the user made read-only on purpose.
    const QFileInfo existing(path);
    if (existing.exists() && !existing.isWritable())
        return QStringLiteral("ファイルが読み取り専用です。");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return openErrorText(file, errno);
    // Restrict the temporary file before any byte of a secret reaches the disk.
    if (permissions && !file.setPermissions(permissions))
        return file.errorString();
    if (QString reason = writeFully(file, data.constData(), data.size()); !reason.isEmpty())
        return reason;
    if (!file.commit())
        return file.errorString();
    return {};
}

bool readWholeFile(const QString& path, QByteArray* data)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *data = file.readAll();
    return file.error() == QFileDevice::NoError;
}
