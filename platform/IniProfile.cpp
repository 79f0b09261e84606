#include "platform/IniProfile.h"

#include "platform/AtomicFile.h"
#include "platform/Cp932Codec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <algorithm>
#include <limits>
#include <optional>

namespace IniProfile {
namespace {

struct Line
{
    qsizetype begin = 0; // offset of the first byte of the line
    qsizetype end = 0;   // offset just past the line's text, before CR LF
    qsizetype next = 0;  // offset of the following line
};

QList<Line> splitLines(const QByteArray& content)
{
    QList<Line> lines;
    qsizetype pos = 0;
    while (pos < content.size()) {
        qsizetype nl = content.indexOf('\n', pos);
        Line line;
        line.begin = pos;
        line.next = nl < 0 ? content.size() : nl + 1;
        line.end = nl < 0 ? content.size() : nl;
        if (line.end > line.begin && content[line.end - 1] == '\r')
            --line.end;
        lines.append(line);
        pos = line.next;
    }
    return lines;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArray trimmed(const QByteArray& bytes)
{
    qsizetype b = 0, e = bytes.size();
    while (b < e && isBlank(bytes[b]))
        ++b;
    while (e > b && isBlank(bytes[e - 1]))
        --e;
    return bytes.mid(b, e - b);
}

// The section name when the line is a header.
std::optional<QByteArray> sectionName(const QByteArray& text)
{
    const QByteArray t = trimmed(text);
    if (!t.startsWith('['))
        return std::nullopt;
    const qsizetype close = t.indexOf(']');
    return trimmed(t.mid(1, close < 0 ? -1 : close - 1));
}

// Names compare without regard to ASCII letter case only, byte by byte, as cp932 names always did.
QByteArray asciiLower(const QByteArray& name)
{
    QByteArray lower = name;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return lower;
}

QByteArray keyOf(const QByteArray& line)
{
    const qsizetype eq = line.indexOf('=');
    return trimmed(eq < 0 ? line : line.left(eq));
}

// The value of a trimmed key line: blanks around it and one pair of enclosing quotes removed.
QByteArray valueOf(const QByteArray& line)
{
    const qsizetype eq = line.indexOf('=');
    QByteArray value = eq < 0 ? QByteArray() : trimmed(line.mid(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return value;
}

QString tooLarge(const QString& file, const QString& outcome)
{
    return QStringLiteral("設定ファイル「%1」が大きすぎるため（1 MB 超）、%2。")
        .arg(QDir::toNativeSeparators(file), outcome);
}

// Reads file whole into content; a missing file leaves content empty and is no error. A file over
// MaxFileBytes is not read: the error says so, with outcome ("…ませんでした") saying what was not done.
QString readBounded(const QString& file, QByteArray* content, const QString& outcome)
{
    if (!QFileInfo::exists(file))
        return {};
    QFile in(file);
    const auto cannotRead = [&] {
        content->clear();
        return QStringLiteral("設定ファイル「%1」を読み込めません。\n(%2)")
            .arg(QDir::toNativeSeparators(file), in.errorString());
    };
    if (!in.open(QIODevice::ReadOnly))
        return cannotRead();
    if (in.size() > MaxFileBytes)
        return tooLarge(file, outcome);
    // Bounded even where the size is not known beforehand (a pipe or device in its place).
    *content = in.read(MaxFileBytes + 1);
    if (in.error() != QFileDevice::NoError)
        return cannotRead();
    if (content->size() > MaxFileBytes) {
        content->clear();
        return tooLarge(file, outcome);
    }
    return {};
}

struct Found
{
    qsizetype keyLine = -1;       // index of the key's line, or -1
    qsizetype sectionLine = -1;   // index of the section's header, or -1
    qsizetype lastInSection = -1; // last non-blank line of the section (the header when empty)
};

Found find(const QByteArray& content, const QList<Line>& lines, const QByteArray& section, const QByteArray& key)
{
    Found found;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray text = content.mid(lines[i].begin, lines[i].end - lines[i].begin);
        if (const auto name = sectionName(text)) {
            if (inSection)
                break; // only the first section of that name counts
            inSection = asciiLower(*name) == asciiLower(section);
            if (inSection) {
                found.sectionLine = i;
                found.lastInSection = i;
            }
            continue;
        }
        if (!inSection)
            continue;
        const QByteArray t = trimmed(text);
        if (t.isEmpty() || t.startsWith(';'))
            continue;
        found.lastInSection = i;
        if (found.keyLine < 0 && asciiLower(keyOf(t)) == asciiLower(key))
            found.keyLine = i;
    }
    return found;
}

bool isLeadByte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

} // namespace

QByteArray cutCp932(const QByteArray& bytes, int limit)
{
    if (bytes.size() <= limit)
        return bytes;
    qsizetype i = 0;
    while (i < limit) {
        const qsizetype width = isLeadByte(uchar(bytes[i])) ? 2 : 1;
        if (i + width > limit)
            break;
        i += width;
    }
    return bytes.left(i);
}

QByteArray lookupValue(const QByteArray& content, const QByteArray& section, const QByteArray& key, bool* found)
{
    return Document(content).value(section, key, found);
}
QByteArray replaceValue(const QByteArray& content, const QByteArray& section, const QByteArray& key,
                        const QByteArray& value)
{
    const QList<Line> lines = splitLines(content);
    const Found where = find(content, lines, section, key);
    QByteArray result = content;
    if (where.keyLine >= 0) {
        const Line& line = lines[where.keyLine];
        const QByteArray text = content.mid(line.begin, line.end - line.begin);
        const QByteArray storedKey = trimmed(text.left(text.indexOf('=') < 0 ? text.size() : text.indexOf('=')));
        result.replace(line.begin, line.end - line.begin, storedKey + '=' + value);
        return result;
    }
    const QByteArray newLine = key + '=' + value + "\r\n";
    if (where.sectionLine >= 0) {
        const Line& after = lines[where.lastInSection];
        if (after.next == after.end) // last line of the file without a line break
            result.insert(after.end, "\r\n" + newLine.chopped(2));
        else
            result.insert(after.next, newLine);
        return result;
    }
    if (!result.isEmpty() && !result.endsWith('\n'))
        result.append("\r\n");
    result.append('[' + section + "]\r\n" + newLine);
    return result;
}

Document::Document(const QByteArray& content)
{
    QByteArray section;
    bool inSection = false;
    for (const Line& line : splitLines(content)) {
        const QByteArray text = content.mid(line.begin, line.end - line.begin);
        if (const auto name = sectionName(text)) {
            section = asciiLower(*name);
            inSection = !m_values.contains(section); // a later section of the same name is never read
            if (inSection)
                m_values.insert(section, {});
            continue;
        }
        const QByteArray t = trimmed(text);
        if (!inSection || t.isEmpty() || t.startsWith(';'))
            continue;
        QHash<QByteArray, QByteArray>& keys = m_values[section];
        const QByteArray key = asciiLower(keyOf(t));
        if (!keys.contains(key))
            keys.insert(key, valueOf(t));
    }
}

Document Document::load(const QString& file)
{
    QByteArray content;
    const QString error = readBounded(file, &content, QStringLiteral("読み込みませんでした"));
    Document document(content);
    document.m_error = error;
    return document;
}

QByteArray Document::value(const QByteArray& section, const QByteArray& key, bool* found) const
{
    *found = false;
    const auto keys = m_values.constFind(asciiLower(section));
    if (keys == m_values.cend())
        return {};
    const auto at = keys->constFind(asciiLower(key));
    *found = at != keys->cend();
    return *found ? *at : QByteArray();
}

QString Document::text(const QString& section, const QString& key, const QString& defaultText) const
{
    bool found = false;
    const QByteArray cut = cutCp932(value(section.toLatin1(), key.toLatin1(), &found), MaxValueBytes);
    return cut.isEmpty() ? defaultText : Cp932Codec::decode(cut);
}

int Document::number(const QString& section, const QString& key) const
{
    const QString text = this->text(section, key, QString());
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    qint64 value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > qint64(std::numeric_limits<int>::max()) + 1)
            value = qint64(std::numeric_limits<int>::max()) + 1;
    }
    if (negative)
        value = -value;
    return int(std::clamp<qint64>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

QString readText(const QString& file, const QString& section, const QString& key, const QString& defaultText)
{
    return Document::load(file).text(section, key, defaultText);
}

int readNumber(const QString& file, const QString& section, const QString& key)
{
    return Document::load(file).number(section, key);
}

QString writeText(const QString& file, const QString& section, const QString& key, const QString& text,
                  QFileDevice::Permissions permissions)
{
    if (text.contains(u'\r') || text.contains(u'\n'))
        return QStringLiteral("改行を含む値は保存できません。");
    const auto value = Cp932Codec::encode(text);
    if (!value)
        return QStringLiteral("この文字コード(Shift_JIS)で表せない文字を含む値は保存できません。");
    // A file that cannot be read, or is too large to read, must not be replaced by one holding this key alone.
    QByteArray content;
    const QString notRewritten = QStringLiteral("書き換えませんでした");
    if (QString error = readBounded(file, &content, notRewritten); !error.isEmpty())
        return error;
    const QByteArray updated = replaceValue(content, section.toLatin1(), key.toLatin1(), *value);
    if (updated.size() > MaxFileBytes) // else the next start would refuse to read it
        return tooLarge(file, notRewritten);
    return writeFileAtomically(file, updated, permissions);
}

} // namespace IniProfile
