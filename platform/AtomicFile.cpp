#include "platform/AtomicFile.h"

#include <QFile>
#include <QSaveFile>

QString writeFileAtomically(const QString& path, const QByteArray& data, QFileDevice::Permissions permissions)
{
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
