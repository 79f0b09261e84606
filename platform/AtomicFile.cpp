#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

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
    if (!file.setPermissions(permissions))
        return file.errorString();
    if (QString reason = writeFully(file, data.constData(), data.size()); !reason.isEmpty())
        return reason;
    if (!file.commit())
        return file.errorString();
    return {};
}

bool makePrivateFolder(const QString& folder)
{
    const QFileDevice::Permissions owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    if (!QDir().mkpath(folder))
        return false;
    // A folder of someone else's (a shared install's) is left as its owner made it.
    if (QFileInfo(folder).ownerId() == ::geteuid())
        QFile::setPermissions(folder, owner);
    return true;
}

QString openPrivateForAppend(QFile& file)
{
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return openErrorText(file, errno);
    if (!file.setPermissions(OwnerOnly))
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

namespace {
mode_t modeOf(QFileDevice::Permissions permissions)
{
    const std::pair<QFileDevice::Permission, mode_t> bits[] = {
        {QFileDevice::ReadOwner, S_IRUSR}, {QFileDevice::WriteOwner, S_IWUSR}, {QFileDevice::ExeOwner, S_IXUSR},
        {QFileDevice::ReadGroup, S_IRGRP}, {QFileDevice::WriteGroup, S_IWGRP}, {QFileDevice::ExeGroup, S_IXGRP},
        {QFileDevice::ReadOther, S_IROTH}, {QFileDevice::WriteOther, S_IWOTH}, {QFileDevice::ExeOther, S_IXOTH}};
    mode_t mode = 0;
    for (const auto& [permission, bit] : bits)
        mode |= permissions.testFlag(permission) ? bit : 0;
    return mode;
}

// Writes every byte to fd; else false, *error being the error number of the write that failed (0
// when it stopped short without one).
bool writeAll(int fd, const char* bytes, qint64 size, int* error)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size_t(qMin<qint64>(size, 1 << 30)));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            *error = written < 0 ? errno : 0;
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

// Syncs the folder so that a new name in it survives a power cut. A folder that cannot be synced on
// its own (EINVAL) is synced with its files by the file system. 0, else the error number.
int syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
    ::close(fd);
    return error;
}

// A temporary file in folder, open for writing, its path in *path; -1 (errno set) when none can be made.
int createTemporary(const QString& folder, mode_t mode, QByteArray* path)
{
    constexpr int Attempts = 16; // the names are random: one clash is already unlikely
    for (int i = 0; i < Attempts; ++i) {
        *path = QFile::encodeName(
            folder +
            QStringLiteral("/.new-%1.part").arg(QRandomGenerator::global()->generate64(), 16, 16, QChar(u'0')));
        const int fd = ::open(path->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// The synced temporary file under the first free name of names; 0, -1 when all are taken, else the
// error number. The temporary file is gone afterwards either way.
int placeTemporary(const QByteArray& temporary, const QStringList& names, QString* placed)
{
    // link() fails on a name that exists, where rename() would replace it. File systems without links
    // get renameat2(RENAME_NOREPLACE), which fails the same way.
    bool links = true;
    for (const QString& name : names) {
        const QByteArray target = QFile::encodeName(name);
        int result = links ? ::link(temporary.constData(), target.constData()) : -1;
        if (links && result != 0 && (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS))
            links = false;
        if (!links)
            result = ::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE);
        if (result != 0 && errno == EEXIST)
            continue;
        const int error = result == 0 ? 0 : errno;
        ::unlink(temporary.constData());
        if (error == 0)
            *placed = name;
        return error;
    }
    ::unlink(temporary.constData());
    return -1;
}
} // namespace

QString writeNewFile(const QStringList& names, const QByteArray& data, QFileDevice::Permissions permissions,
                     QString* written)
{
    if (names.isEmpty())
        return QStringLiteral("ファイル名がありません。");
    const QString folder = QFileInfo(names.first()).absolutePath();
    const mode_t mode = permissions ? modeOf(permissions) : mode_t(0666);
    QByteArray temporary;
    const int fd = createTemporary(folder, mode, &temporary);
    if (fd < 0)
        return writeErrorText(errno);
    int error = 0;
    bool ok = writeAll(fd, data.constData(), data.size(), &error);
    // The mode given to open() passes through the umask; the file gets exactly what was asked.
    if (ok && permissions && ::fchmod(fd, mode) != 0)
        ok = false, error = errno;
    if (ok && ::fsync(fd) != 0)
        ok = false, error = errno;
    if (::close(fd) != 0 && ok)
        ok = false, error = errno;
    if (!ok) {
        ::unlink(temporary.constData());
        return writeErrorText(error);
    }
    QString placed;
    error = placeTemporary(temporary, names, &placed);
    if (error < 0)
        return QStringLiteral("「%1」から「%2」までの名前がすべて使われています。")
            .arg(QFileInfo(names.first()).fileName(), QFileInfo(names.last()).fileName());
    if (error == EINVAL || error == ENOSYS)
        return QStringLiteral("この場所では、ファイルを置き換えずに書き込めません。");
    if (error == 0 && (error = syncFolder(folder)) != 0)
        ::unlink(QFile::encodeName(placed).constData());
    if (error != 0)
        return writeErrorText(error);
    if (written)
        *written = placed;
    return {};
}
