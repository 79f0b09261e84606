#include "mailcheck/DeletionHistory.h"

#include "platform/AtomicFile.h"
#include "settings/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>
#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace {
const QByteArray Deleted = "deleted";
const QByteArray Trial = "trial";
const QByteArray Unconfirmed = "unconfirmed";

bool validUid(const QByteArray& uid)
{
    return !uid.isEmpty() && uid.size() <= 70 &&
           std::all_of(uid.begin(), uid.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

QString isoWithOffset(const QDateTime& time)
{
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QStringLiteral("%1%2:%3")
                                                                      .arg(QChar(offset < 0 ? u'-' : u'+'))
                                                                      .arg(minutes / 60, 2, 10, QChar(u'0'))
                                                                      .arg(minutes % 60, 2, 10, QChar(u'0'));
}

QString failure(const QString& file, const QString& reason)
{
    const QStorageInfo volume(QFileInfo(file).absolutePath());
    const QString space =
        volume.isValid() ? QStringLiteral("\n（空き容量: %1 KB）").arg(volume.bytesAvailable() / 1024) : QString();
    return QStringLiteral("削除履歴「%1」に書き込めませんでした。\n%2%3")
        .arg(QDir::toNativeSeparators(file), reason, space);
}

// The lines of the last bytes of file, oldest first.
QList<HistoryEntry> readTail(const QString& path)
{
    QFile in(path);
    QList<HistoryEntry> entries;
    if (!in.open(QIODevice::ReadOnly))
        return entries;
    const qint64 limit = 2 * DeletionHistory::MaxFileBytes;
    const bool cut = in.size() > limit;
    if (cut)
        in.seek(in.size() - limit);
    QList<QByteArray> lines = in.read(limit).split('\n');
    if (cut)
        lines.removeFirst(); // most likely a part of a line
    for (const QByteArray& line : lines) {
        if (auto entry = HistoryEntry::parse(line))
            entries.append(*entry);
    }
    return entries;
}
} // namespace

QString DeletionHistory::cleanField(const QString& text)
{
    QString clean = text;
    for (QChar& c : clean) {
        if (c == u'\t' || c == u'\r' || c == u'\n' || c == QChar(0))
            c = u' ';
    }
    return clean;
}

QByteArray HistoryEntry::line() const
{
    const QByteArray status = trial ? Trial : unconfirmed ? Unconfirmed : Deleted;
    const QStringList fields{isoWithOffset(time),
                             QString::fromLatin1(status),
                             QString::fromLatin1(validUid(uid) ? uid : QByteArray()),
                             size < 0 ? QString() : QString::number(size),
                             DeletionHistory::cleanField(keyword),
                             DeletionHistory::cleanField(sender),
                             DeletionHistory::cleanField(subject)};
    const QString named = account.isEmpty() ? QString() : u'\t' + DeletionHistory::cleanField(account);
    return (fields.join(u'\t') + named).toUtf8() + '\n';
}

std::optional<HistoryEntry> HistoryEntry::parse(const QByteArray& line)
{
    // Earlier versions skip a status they do not know: "unconfirmed" lines are hidden from them, not misread.
    const QList<QByteArray> fields = line.split('\t');
    if ((fields.size() != 7 && fields.size() != 8) ||
        (fields.at(1) != Deleted && fields.at(1) != Trial && fields.at(1) != Unconfirmed))
        return std::nullopt;
    if (!fields.at(2).isEmpty() && !validUid(fields.at(2)))
        return std::nullopt;
    HistoryEntry entry;
    entry.time = QDateTime::fromString(QString::fromLatin1(fields.at(0)), Qt::ISODate);
    if (!entry.time.isValid())
        return std::nullopt;
    entry.time = entry.time.addMSecs(-entry.time.time().msec()).toLocalTime(); // lines hold whole seconds
    if (entry.time.date().year() < 1 || entry.time.date().year() > 9999)
        return std::nullopt; // line() could not write it back in four digits
    entry.trial = fields.at(1) == Trial;
    entry.unconfirmed = fields.at(1) == Unconfirmed;
    entry.uid = fields.at(2);
    bool sized = false;
    entry.size = fields.at(3).toLongLong(&sized);
    if (!sized || entry.size < 0)
        entry.size = -1;
    // A CR at the end of a field (a file edited elsewhere) reads as line() would write it.
    entry.keyword = DeletionHistory::cleanField(QString::fromUtf8(fields.at(4)));
    entry.sender = DeletionHistory::cleanField(QString::fromUtf8(fields.at(5)));
    entry.subject = DeletionHistory::cleanField(QString::fromUtf8(fields.at(6)));
    entry.account = DeletionHistory::cleanField(QString::fromUtf8(fields.value(7)));
    return entry;
}

QString DeletionHistory::file()
{
    return Paths::dataFolder() + QStringLiteral("/deleted.tsv");
}

QString DeletionHistory::previousFile()
{
    return Paths::dataFolder() + QStringLiteral("/deleted.1.tsv");
}

QString DeletionHistory::append(const QList<HistoryEntry>& entries)
{
    if (entries.isEmpty())
        return {};
    const QString path = file();
    if (QFileInfo(path).size() > MaxFileBytes) {
        QFile::remove(previousFile());
        if (!QFile::rename(path, previousFile()))
            return failure(path, QStringLiteral("古い履歴を「deleted.1.tsv」に移せませんでした。"));
    }
    QByteArray lines;
    for (const HistoryEntry& entry : entries)
        lines += entry.line();
    QFile out(path);
    if (const QString reason = openPrivateForAppend(out); !reason.isEmpty())
        return failure(path, reason);
    const qint64 before = out.size();
    QString reason = writeFully(out, lines.constData(), lines.size());
    // The lines stand for mail about to go from the server: they must be on the disk before it goes.
    if (reason.isEmpty() && ::fsync(out.handle()) != 0)
        reason = writeErrorText(errno);
    if (reason.isEmpty())
        return {};
    out.resize(before); // a torn last line would swallow the first line of the next check
    return failure(path, reason);
}

QString DeletionHistory::settle(const QSet<QByteArray>& idsOnServer, bool idsKnown, const QString& account,
                                bool firstAccount)
{
    const QString path = file();
    QFile in(path);
    if (!idsKnown || !in.exists())
        return {};
    if (in.size() > MaxSettleBytes)
        return failure(path, QStringLiteral("ファイルが大きすぎるため、未確認の削除を確かめられませんでした。"));
    if (!in.open(QIODevice::ReadOnly))
        return failure(path, in.errorString());
    const QByteArray bytes = in.read(MaxSettleBytes);
    if (!bytes.contains('\t' + Unconfirmed + '\t'))
        return {};
    const QString checked = cleanField(account); // as its lines hold it
    QByteArray settled;
    settled.reserve(bytes.size());
    for (qsizetype at = 0; at < bytes.size();) {
        qsizetype end = bytes.indexOf('\n', at);
        end = end < 0 ? bytes.size() : end;
        const QByteArray line = bytes.sliced(at, end - at);
        const std::optional<HistoryEntry> entry = HistoryEntry::parse(line);
        // Another account's server says nothing of this one's mail, even under the same uid.
        const bool ours = entry && (entry->account.isEmpty() ? firstAccount : entry->account == checked);
        if (!ours || !entry->unconfirmed || entry->uid.isEmpty()) {
            settled += line;
        } else if (!idsOnServer.contains(entry->uid)) {
            QList<QByteArray> fields = line.split('\t');
            fields[1] = Deleted;
            settled += fields.join('\t');
        } else {
            at = end + 1; // its mail is still there: the line goes with its LF
            continue;
        }
        if (end < bytes.size())
            settled += '\n';
        at = end + 1;
    }
    const QString reason = writeFileAtomically(path, settled);
    return reason.isEmpty() ? QString() : failure(path, reason);
}

QString DeletionHistory::confirm(const QList<HistoryEntry>& entries)
{
    const QString path = file();
    QFile in(path);
    if (entries.isEmpty())
        return {};
    if (in.size() > MaxSettleBytes)
        return failure(path, QStringLiteral("ファイルが大きすぎるため、削除の確定を書き込めませんでした。"));
    if (!in.open(QIODevice::ReadOnly))
        return failure(path, in.errorString());
    QByteArray bytes = in.read(MaxSettleBytes);
    for (HistoryEntry entry : entries) {
        entry.unconfirmed = true;
        const QByteArray pending = entry.line();
        // The newest such line is this check's: the same message may have gone unconfirmed before.
        const qsizetype at = bytes.lastIndexOf(pending);
        if (at < 0 || (at > 0 && bytes.at(at - 1) != '\n'))
            continue;
        entry.unconfirmed = false;
        bytes.replace(at, pending.size(), entry.line());
    }
    const QString reason = writeFileAtomically(path, bytes);
    return reason.isEmpty() ? QString() : failure(path, reason);
}

QList<HistoryEntry> DeletionHistory::read(int maxEntries)
{
    QList<HistoryEntry> entries = readTail(previousFile()) + readTail(file());
    std::reverse(entries.begin(), entries.end());
    if (entries.size() > maxEntries)
        entries.resize(maxEntries);
    return entries;
}
