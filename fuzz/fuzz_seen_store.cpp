// seen.tsv of arbitrary bytes: what load() reads, save() writes back to a file that load() reads
// the same; and messages of arbitrary fields: save() writes only what load() reads back, every UIDL
// kept, within the file's bound.
#include "fuzz/FuzzRequire.h"
#include "mailcheck/SeenStore.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

const QTemporaryDir& folder()
{
    // In memory where a tmpfs is at hand: every save syncs, and a disk would set the pace.
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/mossvale-fuzz-XXXXXX")
                                                                       : QString());
    require(dir.isValid());
    return dir;
}

// A UIDL as the protocol allows it, checked here independently of the code under test.
bool isUidl(const QByteArray& id)
{
    return !id.isEmpty() && id.size() <= 70 &&
           std::all_of(id.begin(), id.end(), [](char c) { return c >= '!' && c <= '~'; });
}

QString spaced(QString text)
{
    for (QChar& c : text) {
        if (c == u'\t' || c == u'\r' || c == u'\n' || c == u'\0')
            c = u' ';
    }
    return text;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QString in = folder().filePath(QStringLiteral("in.tsv"));
    const QString out = folder().filePath(QStringLiteral("out.tsv"));
    const bool pipelining = data[0] & 2;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    if (data[0] & 1) {
        // Messages split by 0x01, their fields (id, size, subject, sender, and any fifth: cut) by 0x02.
        SeenStore::Messages messages;
        for (const QByteArray& record : bytes.split('\x01')) {
            const QList<QByteArray> fields = record.split('\x02');
            messages.insert(fields.at(0), {fields.value(1).toLongLong(), QString::fromUtf8(fields.value(2)),
                                           QString::fromUtf8(fields.value(3)), fields.size() > 4});
        }
        require(SeenStore::save(out, QStringLiteral("s\tx"), QStringLiteral("u"), messages, pipelining).isEmpty());
        require(QFile(out).size() <= SeenStore::MaxFileBytes);
        require(SeenStore::offeredPipelining(out, QStringLiteral("s\tx")) == pipelining);
        const SeenStore::Messages loaded = SeenStore::load(out, QStringLiteral("s\tx"), QStringLiteral("u"));
        for (auto it = messages.begin(); it != messages.end(); ++it) {
            require(loaded.contains(it.key()) == isUidl(it.key()));
            const SeenStore::Message read = loaded.value(it.key());
            if (!isUidl(it.key()))
                continue;
            require(read.size == std::max<qint64>(it->size, -1));
            require(read.cut || (read.subject == spaced(it->subject) && read.sender == spaced(it->sender)));
            require(read.cut >= it->cut);
            require(read.subject.size() <= SeenStore::MaxTextChars && read.sender.size() <= SeenStore::MaxTextChars);
        }
        return 0;
    }
    QFile file(in);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    file.close();
    const SeenStore::Messages loaded = SeenStore::load(in, QStringLiteral("s"), QStringLiteral("u"));
    const bool offered = SeenStore::offeredPipelining(in, QStringLiteral("s"));
    require(SeenStore::save(out, QStringLiteral("s"), QStringLiteral("u"), loaded, offered).isEmpty());
    require(SeenStore::load(out, QStringLiteral("s"), QStringLiteral("u")) == loaded);
    require(SeenStore::offeredPipelining(out, QStringLiteral("s")) == offered);
    require(SeenStore::forgetPipelining(out).isEmpty());
    require(!SeenStore::offeredPipelining(out, QStringLiteral("s")));
    require(SeenStore::load(out, QStringLiteral("s"), QStringLiteral("u")) == loaded);
    return 0;
}
