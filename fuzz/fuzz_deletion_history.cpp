// deleted.tsv of arbitrary bytes: every line parse() reads, line() writes as one line that parse()
// reads back equal; read() skips what is not ours; settle() changes the unconfirmed lines only.
#include "fuzz/FuzzRequire.h"
#include "mailcheck/DeletionHistory.h"
#include "settings/ProgramFolder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

void useTemporaryProgramFolder()
{
    // In memory where a tmpfs is at hand: settle() syncs, and a disk would set the pace.
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/mossvale-fuzz-XXXXXX")
                                                                       : QString());
    static const bool ready = [] {
        // A fixed zone: with none set, every local-time conversion reads the zone files again.
        qputenv("TZ", "UTC");
        require(dir.isValid());
        setProgramFolder(dir.path());
        return QDir(dir.path()).mkpath(QStringLiteral("★MailData"));
    }();
    require(ready);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    require(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    useTemporaryProgramFolder();
    if (size == 0)
        return 0;
    // The first byte: whether the server gave ids, and which uids it still holds (by their last bit).
    const bool idsKnown = data[0] & 1;
    const int stillThere = (data[0] >> 1) & 1;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QList<QByteArray> lines = bytes.split('\n');

    QSet<QByteArray> onServer;
    QByteArray expected;
    int ours = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        const QByteArray end = i + 1 < lines.size() ? "\n" : "";
        const std::optional<HistoryEntry> entry = HistoryEntry::parse(line);
        if (!entry) {
            expected += line + end;
            continue;
        }
        ++ours;
        const QByteArray written = entry->line();
        require(written.endsWith('\n') && written.count('\n') == 1);
        const std::optional<HistoryEntry> again = HistoryEntry::parse(written.chopped(1));
        require(again && *again == *entry);
        if (!idsKnown || !entry->unconfirmed || entry->uid.isEmpty()) {
            expected += line + end;
        } else if ((entry->uid.back() & 1) == stillThere) {
            onServer.insert(entry->uid);
        } else {
            const qsizetype status = line.indexOf('\t') + 1;
            expected += line.left(status) + "deleted" + line.mid(status + qsizetype(strlen("unconfirmed"))) + end;
        }
    }
    writeFile(DeletionHistory::file(), bytes);
    require(DeletionHistory::read().size() == std::min(ours, 20000)); // read()'s default bound
    require(DeletionHistory::settle(onServer, idsKnown).isEmpty());
    require(readFile(DeletionHistory::file()) == expected);
    return 0;
}
