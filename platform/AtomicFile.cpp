#include "platform/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString writeFileAtomically(const QString& path, const QByteArray& data, QFileDevice::Permissions permissions)
{
    // Renaming over a file would also replace one the user made read-only on purpose.
    const QFileInfo existing(path);
    if (existing.exists() && !existing.isWritable())
        return QStringLiteral("ファイルが読み取り専用です。");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    // Restrict the temporary file before any byte of a secret reaches the disk.
    if (permissions && !file.setPermissions(permissions))
        return file.errorString();
    if (file.write(data) != data.size())
        return file.errorString();
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
