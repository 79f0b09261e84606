#include "keywords/KeywordFile.h"

#include "keywords/KeywordText.h"
#include "platform/AtomicFile.h"
#include "platform/Cp932Codec.h"
#include "settings/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <cerrno>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {
KeywordFile::StepHook& stepHook()
{
    static KeywordFile::StepHook hook;
    return hook;
}

// False when a test asked for this step to fail.
bool reachStep(const char* name)
{
    return !stepHook() || stepHook()(name);
}

QString shownName(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QString fileError(const QString& what, const QString& path, const QString& reason)
{
    QString text = QStringLiteral("キーワードファイル「%1」%2").arg(shownName(path), what);
    if (!reason.isEmpty())
        text += QStringLiteral("\n(%1)").arg(reason);
    return text;
}

QString cannotOpen(const QString& path, const QString& reason)
{
    return fileError(QStringLiteral("を開けません。"), path, reason);
}

QString cannotRead(const QString& path, const QString& reason)
{
    return fileError(QStringLiteral("を読み込めません。"), path, reason);
}

QString cannotWrite(const QString& path, const QString& reason)
{
    return fileError(QStringLiteral("に書き込めません。"), path, reason);
}

qint16 inUseOf(const char* record)
{
    return qFromLittleEndian<qint16>(record + LineBreakFieldBytes);
}

// The whole records of bytes whose InUse is not 0, byte for byte; an incomplete tail is dropped.
QByteArray survivingRecords(const QByteArray& bytes)
{
    QByteArray kept;
    const qsizetype whole = bytes.size() / KeywordRecordSize;
    kept.reserve(whole * KeywordRecordSize);
    for (qsizetype i = 0; i < whole; ++i) {
        const char* record = bytes.constData() + i * KeywordRecordSize;
        if (inUseOf(record) != 0)
            kept.append(record, KeywordRecordSize);
    }
    return kept;
}

bool syncToDisk(QFile& file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_UNIX
    return ::fsync(file.handle()) == 0;
#else
    return true;
#endif
}

// Replaces to with from in one step (rename over), as far as the file system allows.
QString renameOver(const QString& from, const QString& to)
{
    std::error_code error;
    std::filesystem::rename(QFileInfo(from).filesystemFilePath(), QFileInfo(to).filesystemFilePath(), error);
    return error ? QString::fromLocal8Bit(error.message()) : QString();
}

QString readAll(const QString& path, QIODevice::OpenMode mode, QByteArray* bytes)
{
    QFile file(path);
    if (!file.open(mode))
        return cannotOpen(path, file.errorString());
    *bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return cannotRead(path, file.errorString());
    return {};
}

// An earlier rebuild was interrupted after the data file was removed or while it was being
// refilled: the temporary file holds the whole list (with the record being removed still marked),
// so the rebuild is finished from it.
QString restoreFromTemp(const QByteArray& tempBytes)
{
    const QString data = Paths::keywordDataFile();
    if (!reachStep("restore-write"))
        return cannotWrite(data, {});
    if (QString reason = writeFileAtomically(data, survivingRecords(tempBytes)); !reason.isEmpty())
        return cannotWrite(data, reason);
    if (!reachStep("restore-remove-temp"))
        return {};
    // A temporary file left behind is harmless: the data file exists now and wins.
    QFile::remove(Paths::keywordTempFile());
    return {};
}

// Both files exist. Our own rebuild never leaves a data file that is a proper prefix of the
// temporary file's survivors (it renames a complete file over the old one); a rebuild that
// refilled the data file record by record does, when it stopped half-way. Then the temporary
// file is the list. In every other case the temporary file is stale and left alone.
QString finishInterruptedRefill()
{
    QByteArray dataBytes;
    QByteArray tempBytes;
    if (!readWholeFile(Paths::keywordDataFile(), &dataBytes) || !readWholeFile(Paths::keywordTempFile(), &tempBytes))
        return {};
    dataBytes.truncate(dataBytes.size() / KeywordRecordSize * KeywordRecordSize);
    const QByteArray list = survivingRecords(tempBytes);
    if (list.size() > dataBytes.size() && list.startsWith(dataBytes))
        return restoreFromTemp(tempBytes);
    return {};
}

// Makes sure the data file exists: restored from the temporary file, or created empty.
QString ensureDataFile()
{
    const QString data = Paths::keywordDataFile();
    const QString temp = Paths::keywordTempFile();
    const bool haveTemp = QFileInfo(temp).isFile();
    if (QFileInfo::exists(data))
        return haveTemp ? finishInterruptedRefill() : QString();
    if (haveTemp) {
        QByteArray tempBytes;
        if (QString error = readAll(temp, QIODevice::ReadOnly, &tempBytes); !error.isEmpty())
            return error;
        return restoreFromTemp(tempBytes);
    }
    if (QString error = ensureDataFolder(); !error.isEmpty())
        return cannotOpen(data, error);
    QFile file(data);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        const int error = errno;
        if (!QFileInfo::exists(data)) // else another opening created it meanwhile
            return cannotOpen(data, openErrorText(file, error));
    }
    return {};
}

// Writes the survivors to the temporary file, durably; removes it again on failure.
QString writeTemp(const QByteArray& kept)
{
    const QString temp = Paths::keywordTempFile();
    QFile file(temp);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return cannotWrite(temp, openErrorText(file, errno));
    QString reason;
    for (qsizetype at = 0; reason.isEmpty() && at < kept.size(); at += KeywordRecordSize) {
        reason = reachStep("compact-write-temp") ? writeFully(file, kept.constData() + at, KeywordRecordSize)
                                                 : writeErrorText(0);
    }
    if (reason.isEmpty() && !reachStep("compact-sync-temp"))
        reason = writeErrorText(0);
    else if (reason.isEmpty() && !syncToDisk(file))
        reason = writeErrorText(errno);
    file.close();
    if (reason.isEmpty())
        return {};
    QFile::remove(temp);
    return cannotWrite(temp, reason);
}
} // namespace

void KeywordFile::setStepHook(StepHook hook)
{
    stepHook() = std::move(hook);
}

std::optional<QByteArray> KeywordFile::encodeRecord(const KeywordRecord& record, QString* error)
{
    const std::optional<QByteArray> lineBreak = Cp932Codec::encode(record.LineBreak);
    const std::optional<QByteArray> keyword = Cp932Codec::encode(record.Keyword);
    if (!lineBreak || !keyword) {
        *error = QStringLiteral("キーワードに登録できない文字が含まれています。");
        return std::nullopt;
    }
    // Only the trailing spaces that fill the field may fall away; a keyword is never cut.
    for (qsizetype i = KeywordFieldBytes; i < keyword->size(); ++i) {
        if (keyword->at(i) != ' ') {
            *error = QStringLiteral(
                "キーワードが長すぎます。登録できるのは全角で１００文字（半角では２００文字）までです。");
            return std::nullopt;
        }
    }
    QByteArray bytes = lineBreak->left(LineBreakFieldBytes).leftJustified(LineBreakFieldBytes, ' ');
    char inUse[2];
    qToLittleEndian<qint16>(record.InUse, inUse);
    bytes.append(inUse, 2);
    bytes.append(keyword->left(KeywordFieldBytes).leftJustified(KeywordFieldBytes, ' '));
    return bytes;
}

KeywordRecord KeywordFile::decodeRecord(const QByteArray& bytes)
{
    Q_ASSERT(bytes.size() == KeywordRecordSize);
    KeywordRecord record;
    record.LineBreak = Cp932Codec::decode(bytes.left(LineBreakFieldBytes)).leftJustified(LineBreakFieldBytes, u' ');
    record.InUse = inUseOf(bytes.constData());
    record.KeywordBytes = bytes.mid(4, KeywordFieldBytes);
    // Other programs fill the field with NULs as well as spaces: those at the end are filling. A NUL
    // inside the text would match no subject as the user meant it, so such a record is damaged.
    QByteArray text = record.KeywordBytes;
    while (text.endsWith('\0') || text.endsWith(' '))
        text.chop(1);
    const std::optional<QString> keyword = text.contains('\0') ? std::nullopt : Cp932Codec::decodeStrict(text);
    record.KeywordReadable = keyword.has_value();
    // An unreadable keyword still fills the field, for the window to list; KeywordReadable keeps it from matching.
    record.Keyword =
        (keyword ? *keyword : Cp932Codec::decode(record.KeywordBytes)).leftJustified(KeywordFieldBytes, u' ');
    return record;
}

QString KeywordFile::ReadKeywordRecords(const Visitor& visit)
{
    if (QString error = ensureDataFile(); !error.isEmpty())
        return error;
    const QString data = Paths::keywordDataFile();
    // Read-only on purpose: a list the user made read-only still protects the mailbox.
    QFile file(data);
    if (!file.open(QIODevice::ReadOnly))
        return cannotOpen(data, file.errorString());
    // Bounded by the length at opening: a device in place of the file cannot make the walk endless.
    const qint64 whole = file.size() / KeywordRecordSize;
    for (qint64 n = 1; n <= whole; ++n) {
        const QByteArray bytes = file.read(KeywordRecordSize);
        if (file.error() != QFileDevice::NoError)
            return cannotRead(data, file.errorString());
        if (bytes.size() < KeywordRecordSize || !visit(decodeRecord(bytes)))
            return {};
    }
    return {};
}

QString KeywordFile::LoadMatchKeywords(QStringList* keywords, QList<int>* unreadableRecords)
{
    QStringList found;
    QList<int> unreadable;
    int n = 0;
    QString error = ReadKeywordRecords([&](const KeywordRecord& record) {
        // No list this program writes is longer; the judge's memory is bounded by this.
        if (++n > MaxKeywordRecords)
            return false;
        if (record.InUse == 0)
            return true;
        if (!record.KeywordReadable) {
            unreadable.append(n);
            return true;
        }
        const QString keyword = trimSpaces(record.Keyword);
        if (!keyword.isEmpty())
            found.append(keyword);
        return true;
    });
    if (error.isEmpty() && n > MaxKeywordRecords)
        error = fileError(QStringLiteral("のキーワードが%1件を超えています。").arg(MaxKeywordRecords),
                          Paths::keywordDataFile(), {});
    if (!error.isEmpty()) {
        found.clear();
        unreadable.clear();
    }
    *keywords = found;
    if (unreadableRecords)
        *unreadableRecords = unreadable;
    return error;
}

QString KeywordFile::NextRecordNumber(int* number)
{
    if (QString error = ensureDataFile(); !error.isEmpty())
        return error;
    const QString data = Paths::keywordDataFile();
    QFile file(data);
    if (!file.open(QIODevice::ReadOnly))
        return cannotOpen(data, file.errorString());
    const qint64 whole = file.size() / KeywordRecordSize;
    *number = int(qMin<qint64>(whole, MaxKeywordRecords) + 1);
    return {};
}

QString KeywordFile::WriteKeywordRecord(int n, const KeywordRecord& record)
{
    if (n > MaxKeywordRecords)
        return QStringLiteral("登録できるキーワードは%1件までです。これ以上は登録できません。").arg(MaxKeywordRecords);
    Q_ASSERT(n >= 1);
    QString error;
    const std::optional<QByteArray> bytes = encodeRecord(record, &error);
    if (!bytes)
        return error;
    if (error = ensureDataFile(); !error.isEmpty())
        return error;
    const QString data = Paths::keywordDataFile();
    QFile file(data);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return cannotOpen(data, openErrorText(file, errno));
    const qint64 oldSize = file.size();
    if (!file.seek(qint64(n - 1) * KeywordRecordSize))
        return cannotWrite(data, file.errorString());
    const QString reason = writeFully(file, bytes->constData(), KeywordRecordSize);
    if (reason.isEmpty())
        return {};
    // A full disk may have taken part of the record: give the file back its old length.
    if (file.size() > oldSize)
        file.resize(oldSize);
    return cannotWrite(data, reason);
}

QString KeywordFile::MarkKeywordRecord(int n)
{
    if (QString error = ensureDataFile(); !error.isEmpty())
        return error;
    const QString data = Paths::keywordDataFile();
    QFile file(data);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return cannotOpen(data, openErrorText(file, errno));
    if (n < 1 || qint64(n) * KeywordRecordSize > file.size())
        return fileError(QStringLiteral("に%1件目のキーワードがありません。").arg(n), data, {});
    char removed[2];
    qToLittleEndian<qint16>(0, removed);
    if (!file.seek(qint64(n - 1) * KeywordRecordSize + LineBreakFieldBytes))
        return cannotWrite(data, file.errorString());
    if (QString reason = writeFully(file, removed, 2); !reason.isEmpty())
        return cannotWrite(data, reason);
    return {};
}

QString KeywordFile::CompactKeywordFile()
{
    if (QString error = ensureDataFile(); !error.isEmpty())
        return error;
    const QString data = Paths::keywordDataFile();
    QByteArray bytes;
    // Opened for writing too, so that a list the user made read-only is not replaced behind its back.
    if (QString error = readAll(data, QIODevice::ReadWrite, &bytes); !error.isEmpty())
        return error;
    const QByteArray kept = survivingRecords(bytes);
    if (kept.size() == bytes.size())
        return {};
    if (QString error = writeTemp(kept); !error.isEmpty())
        return error;
    if (!reachStep("compact-rename")) {
        QFile::remove(Paths::keywordTempFile());
        return cannotWrite(data, {});
    }
    if (QString reason = renameOver(Paths::keywordTempFile(), data); !reason.isEmpty()) {
        QFile::remove(Paths::keywordTempFile());
        return cannotWrite(data, reason);
    }
    return {};
}
