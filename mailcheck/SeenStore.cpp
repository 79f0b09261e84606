#include "mailcheck/SeenStore.h"

#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {
const QByteArray Magic = "mossvale-seen 1";
const QByteArray PipeliningMark = "\tpipelining";

// A field on one line: tabs and line breaks would split the record.
QByteArray field(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    for (char& c : bytes) {
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    }
    return bytes;
}

QByteArray header(const QString& server, const QString& user)
{
    return Magic + '\t' + field(server) + '\t' + field(user);
}

bool validId(const QByteArray& id)
{
    return !id.isEmpty() && id.size() <= 70 &&
           std::all_of(id.begin(), id.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}
} // namespace

SeenStore::Messages SeenStore::load(const QString& file, const QString& server, const QString& user)
{
    QFile in(file);
    if (in.size() > MaxFileBytes || !in.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> lines = in.readAll().split('\n');
    const QByteArray expected = header(server, user);
    if (lines.value(0) != expected && lines.value(0) != expected + PipeliningMark)
        return {};
    Messages messages;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).split('\t');
        bool sizeOk = false;
        const qint64 size = fields.value(1).toLongLong(&sizeOk);
        if (fields.size() != 4 || !validId(fields.at(0)) || !sizeOk || messages.contains(fields.at(0)))
            return {}; // a damaged file is not half trusted
        messages.insert(fields.at(0), {size, QString::fromUtf8(fields.at(2)), QString::fromUtf8(fields.at(3))});
    }
    return messages;
}

bool SeenStore::offeredPipelining(const QString& file, const QString& server)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QByteArray line = in.readLine(4096);
    if (line.endsWith('\n'))
        line.chop(1);
    const QList<QByteArray> fields = line.split('\t');
    return fields.size() == 4 && fields.at(0) == Magic && fields.at(1) == field(server) &&
           '\t' + fields.at(3) == PipeliningMark;
}

void SeenStore::forgetPipelining(const QString& file)
{
    QFile in(file);
    if (in.size() > MaxFileBytes || !in.open(QIODevice::ReadOnly))
        return;
    QByteArray bytes = in.readAll();
    const qsizetype end = bytes.contains('\n') ? bytes.indexOf('\n') : bytes.size();
    if (!QByteArrayView(bytes).first(end).endsWith(PipeliningMark))
        return;
    bytes.remove(end - PipeliningMark.size(), PipeliningMark.size());
    writeFileAtomically(file, bytes, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QString SeenStore::save(const QString& file, const QString& server, const QString& user, const Messages& messages,
                        bool pipelining)
{
    QByteArray bytes = header(server, user) + (pipelining ? PipeliningMark : QByteArray());
    for (auto it = messages.begin(); it != messages.end(); ++it) {
        if (validId(it.key()))
            bytes += '\n' + it.key() + '\t' + QByteArray::number(it->size) + '\t' + field(it->subject) + '\t' +
                     field(it->sender);
    }
    const QString error = writeFileAtomically(file, bytes, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (error.isEmpty())
        return {};
    return QStringLiteral("ファイル「%1」に保存できませんでした。\n%2").arg(QDir::toNativeSeparators(file), error);
}
