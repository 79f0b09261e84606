// Keyword data files of arbitrary bytes: the walk, the next record number, the rebuild and the
// restore from the temporary file must hold their contracts and never crash.
#include "fuzz/FuzzRequire.h"
#include "keywords/KeywordFile.h"
#include "settings/ProgramFolder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstdint>
#include <cstdlib>

namespace {

const QString& programFolderForFuzzing()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        require(dir.isValid());
        setProgramFolder(dir.path());
        require(QDir(dir.path()).mkpath(QStringLiteral("★MailData")));
        return dir.path();
    }();
    return path;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    require(file.write(bytes) == bytes.size());
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    require(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

// The whole records whose InUse is not 0, computed here independently of the code under test.
QByteArray survivors(const QByteArray& bytes)
{
    QByteArray kept;
    for (qsizetype at = 0; at + KeywordRecordSize <= bytes.size(); at += KeywordRecordSize) {
        if (qFromLittleEndian<qint16>(bytes.constData() + at + 2) != 0)
            kept.append(bytes.constData() + at, KeywordRecordSize);
    }
    return kept;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    programFolderForFuzzing();
    if (size == 0)
        return 0;
    // The first byte says where the bytes are found: in the data file, or only in the temporary
    // file that an interrupted rebuild left behind.
    const bool onlyTemp = data[0] & 1;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QString dataFile = Paths::keywordDataFile();
    const QString tempFile = Paths::keywordTempFile();
    QFile::remove(dataFile);
    QFile::remove(tempFile);
    writeFile(onlyTemp ? tempFile : dataFile, bytes);
    const QByteArray listed = onlyTemp ? survivors(bytes) : bytes;

    qsizetype delivered = 0;
    const QString error = KeywordFile::ReadKeywordRecords([&](const KeywordRecord& record) {
        require(record.LineBreak.size() == LineBreakFieldBytes);
        require(record.Keyword.size() == KeywordFieldBytes);
        require(record.InUse == qFromLittleEndian<qint16>(listed.constData() + delivered * KeywordRecordSize + 2));
        ++delivered;
        return true;
    });
    require(error.isEmpty());
    require(delivered == listed.size() / KeywordRecordSize);

    int next = 0;
    require(KeywordFile::NextRecordNumber(&next).isEmpty());
    require(next == int(qMin<qsizetype>(delivered, MaxKeywordRecords)) + 1);

    require(KeywordFile::CompactKeywordFile().isEmpty());
    const QByteArray rebuilt = readFile(dataFile);
    require(rebuilt == survivors(listed));
    require(!QFile::exists(tempFile));
    return 0;
}
