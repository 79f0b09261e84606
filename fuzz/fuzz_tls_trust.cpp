// tls.tsv of arbitrary bytes: load() stays within its bounds, and the decisions it read, save()
// writes to a file that load() reads back to the same decisions.
#include "fuzz/FuzzRequire.h"
#include "maillib/TlsTrust.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // In memory where a tmpfs is at hand: every save syncs, and a disk would set the pace.
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/mossvale-fuzz-XXXXXX")
                                                                       : QString());
    require(dir.isValid());
    const QString in = dir.filePath(QStringLiteral("in.tsv"));
    const QString out = dir.filePath(QStringLiteral("out.tsv"));
    QFile file(in);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    require(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    file.close();

    TlsTrust trust;
    if (!trust.load(in).isEmpty()) {
        require(trust.encrypted.isEmpty() && trust.plainTextAllowed.isEmpty() && trust.pinned.isEmpty());
        return 0;
    }
    require(trust.encrypted.size() + trust.plainTextAllowed.size() + trust.pinned.size() <= TlsTrust::MaxLines + 1);
    require(trust.save(out).isEmpty());
    TlsTrust again;
    require(again.load(out).isEmpty());
    require(again.encrypted == trust.encrypted && again.plainTextAllowed == trust.plainTextAllowed &&
            again.pinned == trust.pinned);
    return 0;
}
