#include "mailcheck/SeenStore.h"

#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <optional>

namespace {
const QByteArray Magic = "mossvale-seen 1";
const QByteArray PipeliningMark = "\tpipelining";
const QByteArray CutMark = "cut";

// A text as one field holds it: tabs and line breaks would split the record, a NUL ends it for
// many tools.
QString clean(const QString& text)
{
    QString clean = text;
    for (QChar& c : clean) {
        if (c == u'\t' || c == u'\n' || c == u'\r' || c == u'\0')
            c = u' ';
    }
    return clean;
}

QByteArray header(const QString& server, const QString& user)
{
    return Magic + '\t' + clean(server).toUtf8() + '\t' + clean(user).toUtf8();
}

bool validId(const QByteArray& id)
{
    return !id.isEmpty() && id.size() <= 70 &&
           std::all_of(id.begin(), id.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

// text cut to at most MaxTextChars, never between the halves of a surrogate pair.
QString bounded(const QString& text, bool* cut)
{
    if (text.size() <= SeenStore::MaxTextChars)
        return text;
    *cut = true;
    qsizetype length = SeenStore::MaxTextChars;
    if (text.at(length - 1).isHighSurrogate() && text.at(length).isLowSurrogate())
        --length;
    return text.first(length);
}

// A text field as save() writes it, or nothing.
std::optional<QString> readText(const QByteArray& field)
{
    if (field.contains('\0') || field.contains('\r'))
        return std::nullopt;
    QString text = QString::fromUtf8(field);
    if (text.size() > SeenStore::MaxTextChars)
        return std::nullopt;
    return text;
}

// The whole file when it is at most MaxFileBytes; nothing when it is missing, larger or unreadable.
std::optional<QByteArray> readBounded(const QString& file)
{
    QFile in(file);
    if (in.size() > SeenStore::MaxFileBytes || !in.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = in.read(SeenStore::MaxFileBytes + 1); // it may have grown since
    if (bytes.size() > SeenStore::MaxFileBytes || in.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}
} // namespace

SeenStore::Messages SeenStore::load(const QString& file, const QString& server, const QString& user)
{
    const std::optional<QByteArray> bytes = readBounded(file);
    if (!bytes)
        return {};
    const QList<QByteArray> lines = bytes->split('\n');
    const QByteArray expected = header(server, user);
    if (lines.value(0) != expected && lines.value(0) != expected + PipeliningMark)
        return {};
    Messages messages;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).split('\t');
        bool sizeOk = false;
        const qint64 size = fields.value(1).toLongLong(&sizeOk);
        const std::optional<QString> subject = readText(fields.value(2));
        const std::optional<QString> sender = readText(fields.value(3));
        if ((fields.size() != 4 && (fields.size() != 5 || fields.at(4) != CutMark)) || !validId(fields.at(0)) ||
            !sizeOk || size < -1 || !subject || !sender || messages.contains(fields.at(0)))
            return {}; // a damaged file is not half trusted
        messages.insert(fields.at(0), {size, *subject, *sender, fields.size() == 5});
    }
    return messages;
}

bool SeenStore::offeredPipelining(const QString& file, const QString& server)
{
    QFile in(file);
    if (in.size() > MaxFileBytes || !in.open(QIODevice::ReadOnly))
        return false; // load() would not read it either
    QByteArray line = in.readLine(4096);
    if (line.endsWith('\n'))
        line.chop(1);
    const QList<QByteArray> fields = line.split('\t');
    return fields.size() == 4 && fields.at(0) == Magic && fields.at(1) == clean(server).toUtf8() &&
           '\t' + fields.at(3) == PipeliningMark;
}

QString SeenStore::forgetPipelining(const QString& file)
{
    if (!QFile::exists(file))
        return {};
    const std::optional<QByteArray> read = readBounded(file);
    if (!read) {
        // Too large to read is too large to be believed: offeredPipelining() says no.
        if (QFileInfo(file).size() > MaxFileBytes)
            return {};
        return QStringLiteral("ファイル「%1」を読めませんでした。").arg(QDir::toNativeSeparators(file));
    }
    QByteArray bytes = *read;
    const qsizetype end = bytes.contains('\n') ? bytes.indexOf('\n') : bytes.size();
    if (!QByteArrayView(bytes).first(end).endsWith(PipeliningMark))
        return {};
    bytes.remove(end - PipeliningMark.size(), PipeliningMark.size());
    const QString error = writeFileAtomically(file, bytes, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (error.isEmpty())
        return {};
    return QStringLiteral("ファイル「%1」に保存できませんでした。\n%2").arg(QDir::toNativeSeparators(file), error);
}

QString SeenStore::save(const QString& file, const QString& server, const QString& user, const Messages& messages,
                        bool pipelining)
{
    struct Line
    {
        QByteArray id;
        QByteArray start; // "\n", id, size, each followed by a tab
        QByteArray text;  // start and the rest of the line
    };
    QList<Line> lines;
    lines.reserve(messages.size());
    for (auto it = messages.begin(); it != messages.end(); ++it) {
        if (!validId(it.key()))
            continue;
        bool cut = it->cut;
        const QByteArray start = '\n' + it.key() + '\t' + QByteArray::number(qMax<qint64>(it->size, -1)) + '\t';
        const QByteArray texts =
            bounded(clean(it->subject), &cut).toUtf8() + '\t' + bounded(clean(it->sender), &cut).toUtf8();
        lines.append({it.key(), start, start + texts + (cut ? '\t' + CutMark : QByteArray())});
    }
    std::sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.id < b.id; });
    const QByteArray first = header(server, user) + (pipelining ? PipeliningMark : QByteArray());
    qint64 total = first.size();
    for (const Line& line : std::as_const(lines))
        total += line.text.size();
    if (total > MaxFileBytes) {
        // The ids matter most: a message whose texts are gone is read again, one whose id is gone
        // would count as new. So the longest texts go first.
        QList<Line*> longest;
        for (Line& line : lines)
            longest.append(&line);
        std::stable_sort(longest.begin(), longest.end(), [](const Line* a, const Line* b) {
            return a->text.size() - a->start.size() > b->text.size() - b->start.size();
        });
        for (qsizetype i = 0; i < longest.size() && total > MaxFileBytes; ++i) {
            Line& line = *longest.at(i);
            total -= line.text.size();
            line.text = line.start + '\t' + '\t' + CutMark;
            total += line.text.size();
        }
        while (total > MaxFileBytes && !lines.isEmpty())
            total -= lines.takeLast().text.size();
    }
    if (total > MaxFileBytes)
        return QStringLiteral("ファイル「%1」に保存できませんでした。\nサーバー名かアカウント名が長すぎます。")
            .arg(QDir::toNativeSeparators(file));
    QByteArray bytes = first;
    bytes.reserve(total);
    for (const Line& line : std::as_const(lines))
        bytes += line.text;
    const QString error = writeFileAtomically(file, bytes, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (error.isEmpty())
        return {};
    return QStringLiteral("ファイル「%1」に保存できませんでした。\n%2").arg(QDir::toNativeSeparators(file), error);
}
