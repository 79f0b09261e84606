#include "mailcheck/SavedCopies.h"

#include "mailcheck/CheckHelpers.h"
#include "maillib/HeaderDecoder.h"
#include "platform/AtomicFile.h"
#include "settings/ProgramFolder.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {
const QString TimeFormat = QStringLiteral("yyyyMMdd-HHmmss");

// Ids are never reused, so the numbered folders grow with every account ever added; find() looks
// through this many at most.
constexpr int MaxAccountFolders = 1000;

// Oldest first; of one second, by name. Only where's own files: another account's folder is its own.
QFileInfoList copies(const QString& where)
{
    QFileInfoList files = QDir(where).entryInfoList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
    std::stable_sort(files.begin(), files.end(),
                     [](const QFileInfo& a, const QFileInfo& b) { return a.lastModified() < b.lastModified(); });
    return files;
}

// Removes file; empty text, else the reason naming it.
QString removeCopy(const QString& file)
{
    QFile copy(file);
    if (copy.remove())
        return {};
    return QStringLiteral("古い控え「%1」を削除できませんでした。\n%2")
        .arg(QDir::toNativeSeparators(file), copy.errorString());
}

// folder() and the folders of the other accounts inside it, by number.
QStringList copyFolders()
{
    QList<std::pair<qulonglong, QString>> numbered;
    for (const QString& name : QDir(SavedCopies::folder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const bool number =
            name.size() <= 9 && std::all_of(name.begin(), name.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
        if (number && numbered.size() < MaxAccountFolders)
            numbered.append({name.toULongLong(), SavedCopies::folder() + u'/' + name});
    }
    std::sort(numbered.begin(), numbered.end());
    QStringList folders{SavedCopies::folder()};
    for (const auto& [id, path] : std::as_const(numbered))
        folders.append(path);
    return folders;
}

// The copy in where of entry's check whose subject and sender are the entry's, or an empty text.
QString findIn(const QString& where, const HistoryEntry& entry)
{
    const QString prefix = entry.time.toString(TimeFormat) + u'-';
    const QFileInfoList files = QDir(where).entryInfoList({prefix + QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
    for (const QFileInfo& copy : files) {
        QFile in(copy.filePath());
        if (!in.open(QIODevice::ReadOnly))
            continue;
        const QByteArray head = in.read(HeaderDecoder::MaxHeaderBlockBytes);
        const qsizetype end = head.indexOf("\r\n\r\n");
        const MessageHeaders headers = HeaderDecoder::decode(end < 0 ? head : head.left(end + 2));
        if (DeletionHistory::cleanField(trimSpaces(headers.subject)) == entry.subject &&
            DeletionHistory::cleanField(trimSpaces(headers.sender)) == entry.sender)
            return copy.filePath();
    }
    return {};
}
} // namespace

QString SavedCopies::folder()
{
    return Paths::dataFolder() + QStringLiteral("/Deleted");
}

QString SavedCopies::path(const QDateTime& time, int number, const QString& where)
{
    return where + u'/' + time.toString(TimeFormat) + u'-' + QString::number(number) + QStringLiteral(".eml");
}

QString SavedCopies::store(const QDateTime& time, int number, const QByteArray& bytes, QString* storedPath,
                           const QString& where)
{
    // An account's folder inside the first's: the outer one is made private as well.
    const bool inner = where.startsWith(folder() + u'/');
    if ((inner && !makePrivateFolder(folder())) || !makePrivateFolder(where))
        return QStringLiteral("フォルダー「%1」を作れませんでした。").arg(QDir::toNativeSeparators(where));
    QStringList names{path(time, number, where)};
    const QString stem = names.first().chopped(4); // without ".eml"
    for (int i = 2; i <= MaxSameName; ++i)
        names.append(stem + u'-' + QString::number(i) + QStringLiteral(".eml"));
    // Mail is private: the copy is the owner's alone.
    const QString error = writeNewFile(names, bytes, QFileDevice::ReadOwner | QFileDevice::WriteOwner, storedPath);
    if (error.isEmpty())
        return {};
    return QStringLiteral("控えを「%1」に保存できませんでした。\n%2").arg(QDir::toNativeSeparators(where), error);
}

QString SavedCopies::prune(const QDateTime& now, const QSet<QString>& keep, const QString& where)
{
    QSet<QString> kept;
    for (const QString& file : keep)
        kept.insert(QFileInfo(file).absoluteFilePath());
    const QDateTime oldest = now.addDays(-MaxAgeDays);
    QString firstError;
    auto removed = [&firstError](const QFileInfo& copy) {
        const QString error = removeCopy(copy.filePath());
        if (firstError.isEmpty())
            firstError = error;
        return error.isEmpty();
    };
    qint64 total = 0;
    QFileInfoList left;
    for (const QFileInfo& copy : copies(where)) {
        const bool own = kept.contains(copy.absoluteFilePath());
        if (own || copy.lastModified() >= oldest || !removed(copy))
            left.append(copy), total += copy.size();
    }
    qsizetype count = left.size();
    for (const QFileInfo& copy : std::as_const(left)) {
        if (total <= MaxTotalBytes && count <= MaxCopies)
            break;
        if (!kept.contains(copy.absoluteFilePath()) && removed(copy))
            total -= copy.size(), --count;
    }
    // A temporary file that a crash left behind is no copy; a day is more than any write takes.
    for (const QFileInfo& part :
         QDir(where).entryInfoList({QStringLiteral(".new-*.part")}, QDir::Files | QDir::Hidden)) {
        if (part.lastModified() < now.addDays(-1))
            removed(part);
    }
    return firstError;
}

QString SavedCopies::find(const HistoryEntry& entry)
{
    for (const QString& where : copyFolders()) {
        if (const QString copy = findIn(where, entry); !copy.isEmpty())
            return copy;
    }
    return {};
}
