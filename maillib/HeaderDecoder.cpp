#include "maillib/HeaderDecoder.h"

#include "maillib/CharsetDecoder.h"

#include <QList>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArray trimBlanks(const QByteArray& bytes)
{
    qsizetype start = 0;
    qsizetype end = bytes.size();
    while (start < end && (isBlank(bytes.at(start)) || bytes.at(start) == '\r' || bytes.at(start) == '\n'))
        ++start;
    while (end > start && (isBlank(bytes.at(end - 1)) || bytes.at(end - 1) == '\r' || bytes.at(end - 1) == '\n'))
        --end;
    return bytes.mid(start, end - start);
}

QList<QByteArray> splitLines(const QByteArray& block)
{
    QList<QByteArray> lines = block.split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QByteArray decodeQ(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '_') {
            out.append(' ');
        } else if (c == '=' && i + 2 < text.size() && hexValue(text.at(i + 1)) >= 0 && hexValue(text.at(i + 2)) >= 0) {
            out.append(char(hexValue(text.at(i + 1)) * 16 + hexValue(text.at(i + 2))));
            i += 2;
        } else {
            out.append(c);
        }
    }
    return out;
}

// One encoded word found in a field value.
struct EncodedWord
{
    qsizetype start = 0;
    qsizetype end = 0; // one past "?="
    QByteArray charset;
    QByteArray bytes;
};

// Finds the next "=?charset?B|Q?text?=" from position from; encoded text holds no blanks or '?'.
bool findEncodedWord(const QByteArray& value, qsizetype from, EncodedWord* word)
{
    for (qsizetype start = value.indexOf("=?", from); start >= 0; start = value.indexOf("=?", start + 1)) {
        const qsizetype q1 = value.indexOf('?', start + 2);
        if (q1 < 0)
            return false;
        if (q1 + 3 >= value.size() || value.at(q1 + 2) != '?')
            continue;
        const char encoding = value.at(q1 + 1);
        const qsizetype q3 = value.indexOf("?=", q1 + 3);
        if (q3 < 0)
            return false;
        const QByteArray charset = value.mid(start + 2, q1 - start - 2);
        const QByteArray text = value.mid(q1 + 3, q3 - q1 - 3);
        if (charset.isEmpty() || charset.contains(' ') || charset.contains('\t') || text.contains(' ') ||
            text.contains('\t') || text.contains('?'))
            continue;
        if (encoding == 'B' || encoding == 'b')
            word->bytes = QByteArray::fromBase64(text);
        else if (encoding == 'Q' || encoding == 'q')
            word->bytes = decodeQ(text);
        else
            continue;
        word->start = start;
        word->end = q3 + 2;
        word->charset = charset.toLower();
        if (const qsizetype star = word->charset.indexOf('*'); star >= 0)
            word->charset.truncate(star);
        return true;
    }
    return false;
}

bool onlyBlanks(const QByteArray& bytes)
{
    for (char c : bytes) {
        if (!isBlank(c))
            return false;
    }
    return true;
}

} // namespace

QByteArray HeaderDecoder::fieldValue(const QByteArray& headerBlock, const QByteArray& name)
{
    const QList<QByteArray> lines = splitLines(headerBlock);
    const QByteArray prefix = name.toLower() + ':';
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        if (line.isEmpty())
            break; // end of the header block
        if (line.size() < prefix.size() || line.left(prefix.size()).toLower() != prefix)
            continue;
        QByteArray value = line.mid(prefix.size());
        // Unfolding removes only the line break; the blanks that start the next line stay.
        for (qsizetype j = i + 1; j < lines.size() && !lines.at(j).isEmpty() && isBlank(lines.at(j).at(0)); ++j)
            value += lines.at(j);
        return trimBlanks(value);
    }
    return QByteArray();
}

QString HeaderDecoder::decodeField(const QByteArray& value)
{
    QString text;
    QByteArray pendingCharset;
    QByteArray pendingBytes;
    bool pending = false;
    const auto flushPending = [&]() {
        if (pending)
            text += CharsetDecoder::decode(pendingBytes, pendingCharset);
        pendingBytes.clear();
        pending = false;
    };
    qsizetype pos = 0;
    EncodedWord word;
    while (findEncodedWord(value, pos, &word)) {
        const QByteArray between = value.mid(pos, word.start - pos);
        const bool adjacent = pending && onlyBlanks(between);
        if (!adjacent) {
            flushPending();
            text += CharsetDecoder::decodeRaw(between);
        } else if (word.charset != pendingCharset) {
            flushPending(); // blanks between encoded words are dropped
        }
        pendingCharset = word.charset;
        pendingBytes += word.bytes;
        pending = true;
        pos = word.end;
    }
    flushPending();
    text += CharsetDecoder::decodeRaw(value.mid(pos));
    return text;
}

MessageHeaders HeaderDecoder::decode(const QByteArray& headerBlock)
{
    MessageHeaders headers;
    headers.subject = decodeField(fieldValue(headerBlock, "Subject"));
    headers.date = decodeField(fieldValue(headerBlock, "Date"));
    headers.sender = decodeField(fieldValue(headerBlock, "From"));
    headers.rawHeader = CharsetDecoder::decodeRaw(headerBlock);
    return headers;
}
