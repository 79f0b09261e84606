#include "platform/IniProfile.h"

#include "platform/AtomicFile.h"
#include "platform/Cp932Codec.h"

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
            inSection = name->compare(section, Qt::CaseInsensitive) == 0;
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
        const qsizetype eq = t.indexOf('=');
        const QByteArray lineKey = trimmed(eq < 0 ? t : t.left(eq));
        if (found.keyLine < 0 && lineKey.compare(key, Qt::CaseInsensitive) == 0)
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
    const QList<Line> lines = splitLines(content);
    const Found where = find(content, lines, section, key);
    *found = where.keyLine >= 0;
    if (where.keyLine < 0)
        return {};
    const Line& line = lines[where.keyLine];
    const QByteArray t = trimmed(content.mid(line.begin, line.end - line.begin));
    const qsizetype eq = t.indexOf('=');
    QByteArray value = eq < 0 ? QByteArray() : trimmed(t.mid(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return value;
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

QString readText(const QString& file, const QString& section, const QString& key, const QString& defaultText)
{
    QByteArray content;
    if (!readWholeFile(file, &content))
        return defaultText;
    bool found = false;
    const QByteArray value = lookupValue(content, section.toLatin1(), key.toLatin1(), &found);
    const QByteArray cut = cutCp932(value, MaxValueBytes);
    if (cut.isEmpty())
        return defaultText;
    return Cp932Codec::decode(cut);
}

int readNumber(const QString& file, const QString& section, const QString& key)
{
    const QString text = readText(file, section, key, QString());
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

QString writeText(const QString& file, const QString& section, const QString& key, const QString& text,
                  QFileDevice::Permissions permissions)
{
    if (text.contains(u'\r') || text.contains(u'\n'))
        return QStringLiteral("改行を含む値は保存できません。");
    const auto value = Cp932Codec::encode(text);
    if (!value)
        return QStringLiteral("この文字コード(Shift_JIS)で表せない文字を含む値は保存できません。");
    QByteArray content;
    // A file that exists but cannot be read must not be replaced by one holding this key alone.
    if (QFileInfo::exists(file) && !readWholeFile(file, &content))
        return QStringLiteral("ファイルを読み込めません。");
    return writeFileAtomically(file, replaceValue(content, section.toLatin1(), key.toLatin1(), *value), permissions);
}

} // namespace IniProfile
