#include "mailcheck/SavedCopies.h"

#include "mailcheck/CheckHelpers.h"
#include "maillib/HeaderDecoder.h"
#include "platform/AtomicFile.h"
#include "settings/ProgramFolder.h"

#include <QDir>
#include <QFile>

namespace {
const QString TimeFormat = QStringLiteral("yyyyMMdd-HHmmss");

// Oldest first.
QFileInfoList copies()
{
    return QDir(SavedCopies::folder())
        .entryInfoList({QStringLiteral("*.eml")}, QDir::Files, QDir::Time | QDir::Reversed);
}
} // namespace

QString SavedCopies::folder()
{
    return Paths::dataFolder() + QStringLiteral("/Deleted");
}

QString SavedCopies::path(const QDateTime& time, int number)
{
    return folder() + u'/' + time.toString(TimeFormat) + u'-' + QString::number(number) + QStringLiteral(".eml");
}

QString SavedCopies::store(const QDateTime& time, int number, const QByteArray& bytes)
{
    if (!QDir().mkpath(folder()))
        return QStringLiteral("フォルダー「%1」を作れませんでした。").arg(QDir::toNativeSeparators(folder()));
    // Mail is private: the copy is the owner's alone. QSaveFile syncs before the rename.
    return writeFileAtomically(path(time, number), bytes, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void SavedCopies::prune(const QDateTime& now)
{
    const QDateTime oldest = now.addDays(-MaxAgeDays);
    qint64 total = 0;
    QFileInfoList kept;
    for (const QFileInfo& copy : copies()) {
        if (copy.lastModified() < oldest)
            QFile::remove(copy.filePath());
        else
            kept.append(copy), total += copy.size();
    }
    for (qsizetype i = 0; i < kept.size() && total > MaxTotalBytes; ++i) {
        if (QFile::remove(kept.at(i).filePath()))
            total -= kept.at(i).size();
    }
}

QString SavedCopies::find(const HistoryEntry& entry)
{
    const QString prefix = entry.time.toString(TimeFormat) + u'-';
    const QFileInfoList files =
        QDir(folder()).entryInfoList({prefix + QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
    for (const QFileInfo& copy : files) {
        QFile in(copy.filePath());
        if (!in.open(QIODevice::ReadOnly))
            continue;
        const QByteArray head = in.read(HeaderDecoder::MaxHeaderBlockBytes);
        const qsizetype end = head.indexOf("\r\n\r\n");
        const MessageHeaders headers = HeaderDecoder::decode(end < 0 ? head : head.left(end + 2));
        if (DeletionHistory::cleanField(trimSpaces(TrimAtNul(headers.subject))) == entry.subject &&
            DeletionHistory::cleanField(trimSpaces(TrimAtNul(headers.sender))) == entry.sender)
            return copy.filePath();
    }
    return {};
}
