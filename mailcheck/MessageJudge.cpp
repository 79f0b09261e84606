#include "mailcheck/MessageJudge.h"

#include "keywords/KeywordFile.h"
#include "mailcheck/CheckHelpers.h"
#include "mailcheck/MailCheck.h"
#include "platform/AtomicFile.h"
#include "settings/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

QString AllowList::defaultFile()
{
    return Paths::dataFolder() + QStringLiteral("/allow.txt");
}

AllowList AllowList::parse(const QByteArray& text)
{
    AllowList list;
    for (const QByteArray& line : text.split('\n')) {
        const QString entry = QString::fromUtf8(line).trimmed().toLower();
        if (entry.isEmpty() || entry.startsWith(u'#'))
            continue;
        if (list.m_entries.size() >= MaxEntries)
            break;
        list.m_entries.append(entry);
    }
    return list;
}

AllowList AllowList::load(const QString& file, QString* error)
{
    QFile in(file);
    if (!in.exists())
        return {};
    if (!in.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("ファイル「%1」を読めませんでした。\n%2")
                         .arg(QDir::toNativeSeparators(file), in.errorString());
        return {};
    }
    return parse(in.read(MaxFileBytes));
}

bool AllowList::allows(const QString& address) const
{
    const QString lower = address.toLower();
    const qsizetype at = lower.lastIndexOf(u'@');
    if (lower.isEmpty() || at < 0)
        return false;
    const QString domain = lower.mid(at + 1);
    for (const QString& entry : m_entries) {
        if (entry == lower)
            return true;
        // "@example.jp" covers "a@example.jp" and "a@mail.example.jp", never "a@badexample.jp".
        if (entry.startsWith(u'@') && (domain == entry.mid(1) || domain.endsWith(u'.' + entry.mid(1))))
            return true;
    }
    return false;
}

QString AllowList::add(const QString& file, const QString& address)
{
    if (address.isEmpty() || load(file).allows(address))
        return {};
    QByteArray text;
    readWholeFile(file, &text);
    if (!text.isEmpty() && !text.endsWith('\n'))
        text += '\n';
    const QString error = writeFileAtomically(file, text + address.toLower().toUtf8() + '\n');
    return error.isEmpty() ? QString()
                           : QStringLiteral("ファイル「%1」に保存できませんでした。\n%2")
                                 .arg(QDir::toNativeSeparators(file), error);
}

QString senderAddress(const QString& from)
{
    static const QRegularExpression angle(QStringLiteral("<\\s*([^<>\\s]+@[^<>\\s]+)\\s*>"));
    static const QRegularExpression bare(QStringLiteral("([^<>\\s\"(),;:]+@[^<>\\s\"(),;:]+)"));
    QRegularExpressionMatch match = angle.match(from);
    if (!match.hasMatch())
        match = bare.match(from);
    return match.hasMatch() ? match.captured(1).toLower() : QString();
}

QString foldForMatch(const QString& text)
{
    QString folded = text.normalized(QString::NormalizationForm_KC).toCaseFolded();
    for (QChar& c : folded) {
        if (c.unicode() >= 0x3041 && c.unicode() <= 0x3096)
            c = QChar(char16_t(c.unicode() + 0x60));
    }
    return folded;
}

MessageJudge::MessageJudge(const QStringList& keywords, bool loose, AllowList allow)
    : m_keywords(keywords), m_loose(loose), m_allow(std::move(allow))
{
    if (m_loose) {
        for (const QString& keyword : keywords)
            m_folded.append(foldForMatch(keyword));
    }
}

QString MessageJudge::judge(const QString& subject, const QString& sender) const
{
    QString keyword;
    if (!m_loose) {
        keyword = firstMatchingKeyword(m_keywords, subject, sender);
    } else {
        const QString found =
            firstMatchingKeyword(m_folded, foldForMatch(trimSpaces(subject)), foldForMatch(trimSpaces(sender)));
        if (!found.isEmpty())
            keyword = m_keywords.at(m_folded.indexOf(found));
    }
    if (keyword.isEmpty() || (!m_allow.isEmpty() && m_allow.allows(senderAddress(sender))))
        return {};
    return keyword;
}

QString removeKeyword(const QString& keyword)
{
    QList<int> numbers;
    int n = 0;
    QString error = KeywordFile::ReadKeywordRecords([&](const KeywordRecord& record) {
        ++n;
        if (record.InUse != 0 && record.KeywordReadable && trimSpaces(record.Keyword) == keyword)
            numbers.append(n);
        return true;
    });
    for (qsizetype i = 0; error.isEmpty() && i < numbers.size(); ++i)
        error = KeywordFile::MarkKeywordRecord(numbers.at(i));
    if (error.isEmpty() && !numbers.isEmpty())
        error = KeywordFile::CompactKeywordFile();
    return error;
}
