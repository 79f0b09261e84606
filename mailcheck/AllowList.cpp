#include "mailcheck/AllowList.h"

#include "platform/AtomicFile.h"
#include "settings/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString unreadable(const QString& file, const QString& why)
{
    return QStringLiteral("ファイル「%1」を読めませんでした。\n%2").arg(QDir::toNativeSeparators(file), why);
}

QString unsaved(const QString& file, const QString& why)
{
    return QStringLiteral("ファイル「%1」に保存できませんでした。\n%2").arg(QDir::toNativeSeparators(file), why);
}

// The first MaxFileBytes of file; empty for a missing file.
QByteArray readHead(const QString& file, QString* error)
{
    QFile in(file);
    if (!in.exists())
        return {};
    if (!in.open(QIODevice::ReadOnly)) {
        if (error)
            *error = unreadable(file, in.errorString());
        return {};
    }
    return in.read(AllowList::MaxFileBytes);
}
} // namespace

QString AllowList::defaultFile()
{
    return Paths::dataFolder() + QStringLiteral("/allow.txt");
}

void AllowList::walk(const QByteArray& text, const std::function<void(int, const QString&)>& found)
{
    int entries = 0;
    int line = 0;
    for (const QByteArray& bytes : text.split('\n')) {
        const QString entry = QString::fromUtf8(bytes).trimmed();
        if (!entry.isEmpty() && !entry.startsWith(u'#')) {
            if (++entries > MaxEntries)
                break;
            found(line, entry);
        }
        ++line;
    }
}

AllowList AllowList::parse(const QByteArray& text)
{
    AllowList list;
    walk(text, [&list](int, const QString& text) {
        const QString entry = text.toLower();
        if (!entry.startsWith(u'@'))
            list.m_addresses.insert(entry);
        else if (entry.size() > 1) // a lone "@" names no domain
            list.m_domains.insert(entry.mid(1));
    });
    return list;
}

AllowList AllowList::load(const QString& file, QString* error)
{
    return parse(readHead(file, error));
}

bool AllowList::allows(const QString& address) const
{
    const QString lower = address.toLower();
    const qsizetype at = lower.indexOf(u'@');
    if (at <= 0 || at == lower.size() - 1 || lower.indexOf(u'@', at + 1) >= 0)
        return false;
    if (m_addresses.contains(lower))
        return true;
    // "@example.jp" covers "a@example.jp" and "a@mail.example.jp", never "a@badexample.jp". The
    // address is at most 254 characters, so trying each parent domain stays cheap.
    for (qsizetype from = at + 1; from > 0; from = lower.indexOf(u'.', from) + 1) {
        if (m_domains.contains(lower.mid(from)))
            return true;
    }
    return false;
}

QString AllowList::add(const QString& file, const QString& address)
{
    if (address.startsWith(u'#'))
        return QStringLiteral("「%1」は許可リストに登録できません。「#」で始まる行は注釈として読まれます。")
            .arg(address);
    if (address.isEmpty() || load(file).allows(address))
        return {};
    QByteArray text;
    readWholeFile(file, &text);
    if (!text.isEmpty() && !text.endsWith('\n'))
        text += '\n';
    const QString error = writeFileAtomically(file, text + address.toLower().toUtf8() + '\n', OwnerOnly);
    return error.isEmpty() ? QString() : unsaved(file, error);
}

QList<AllowEntry> AllowList::entries(const QString& file, QString* error)
{
    QList<AllowEntry> found;
    walk(readHead(file, error), [&found](int line, const QString& text) { found.append({line, text}); });
    return found;
}

QString AllowList::remove(const QString& file, const AllowEntry& entry)
{
    QByteArray text;
    if (QFileInfo(file).size() > MaxFileBytes) // the view showed only its head: the rest is not ours to rewrite
        return QStringLiteral(
                   "ファイル「%1」が大きすぎるため、ここでは変更できません。テキストエディターで直してください。")
            .arg(QDir::toNativeSeparators(file));
    if (!readWholeFile(file, &text))
        return unreadable(file, QStringLiteral("ファイルがないか、読めません。"));
    QList<QByteArray> lines = text.split('\n');
    if (entry.line < 0 || entry.line >= lines.size() ||
        QString::fromUtf8(lines.at(entry.line)).trimmed() != entry.text || entry.text.isEmpty() ||
        entry.text.startsWith(u'#'))
        return QStringLiteral("「%1」は許可リストのその行にもうありません。一覧を読み直しました。").arg(entry.text);
    lines.removeAt(entry.line);
    const QString error = writeFileAtomically(file, lines.join('\n'), OwnerOnly);
    return error.isEmpty() ? QString() : unsaved(file, error);
}
