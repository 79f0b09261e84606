#include "maillib/HeaderDecoder.h"

#include "maillib/CharsetDecoder.h"

#include <algorithm>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isBlankOrLineEnd(char c)
{
    return isBlank(c) || c == '\r' || c == '\n';
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
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

QByteArray decodeQ(QByteArrayView text)
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

// Where the run of bytes from from on that holds no '?' and no blank ends, not past limit.
qsizetype tokenEnd(const QByteArray& value, qsizetype from, qsizetype limit)
{
    while (from < limit && value.at(from) != '?' && !isBlank(value.at(from)))
        ++from;
    return from;
}

// Finds the next "=?charset?B|Q?text?=" from position from: at most MaxEncodedWordChars long,
// charset and encoded text without blanks or '?'. Each candidate is read only up to its first
// blank or second '?' and never past that length; a rejected one is searched on after its "=?",
// so every byte is looked at a bounded number of times.
bool findEncodedWord(const QByteArray& value, qsizetype from, EncodedWord* word)
{
    for (qsizetype start = value.indexOf("=?", from); start >= 0; start = value.indexOf("=?", start + 2)) {
        const qsizetype limit = std::min(value.size(), start + HeaderDecoder::MaxEncodedWordChars);
        const qsizetype q1 = tokenEnd(value, start + 2, limit);
        if (q1 == start + 2 || q1 + 2 >= limit || value.at(q1) != '?' || value.at(q1 + 2) != '?')
            continue;
        const qsizetype q3 = tokenEnd(value, q1 + 3, limit);
        if (q3 + 1 >= limit || value.at(q3) != '?' || value.at(q3 + 1) != '=')
            continue;
        const QByteArrayView text = QByteArrayView(value).sliced(q1 + 3, q3 - q1 - 3);
        const char encoding = value.at(q1 + 1);
        if (encoding == 'B' || encoding == 'b')
            word->bytes = QByteArray::fromBase64(text.toByteArray());
        else if (encoding == 'Q' || encoding == 'q')
            word->bytes = decodeQ(text);
        else
            continue;
        word->start = start;
        word->end = q3 + 2;
        word->charset = value.mid(start + 2, q1 - start - 2).toLower();
        if (const qsizetype star = word->charset.indexOf('*'); star >= 0)
            word->charset.truncate(star);
        return true;
    }
    return false;
}

bool onlyBlanks(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), isBlank);
}

// Text cut to MaxFieldChars code units, without splitting a surrogate pair.
QString capped(QString text)
{
    if (text.size() > HeaderDecoder::MaxFieldChars) {
        const qsizetype keep = HeaderDecoder::MaxFieldChars;
        text.truncate(text.at(keep - 1).isHighSurrogate() ? keep - 1 : keep);
    }
    return text;
}

// The first MaxHeaderBlockBytes of block, moved back to the start of a UTF-8 character: a cut
// inside one would make the whole block fail as UTF-8 and be read as cp932.
QByteArray cutBlock(const QByteArray& block)
{
    if (block.size() <= HeaderDecoder::MaxHeaderBlockBytes)
        return block;
    qsizetype cut = HeaderDecoder::MaxHeaderBlockBytes;
    for (int back = 0; back < 3 && (uchar(block.at(cut)) & 0xC0) == 0x80; ++back)
        --cut;
    return block.first(cut);
}

} // namespace

QByteArray HeaderDecoder::fieldValue(const QByteArray& headerBlock, const QByteArray& name)
{
    // One pass over the lines (split at LF, a CR before it dropped) up to the first empty one.
    const qsizetype size = headerBlock.size();
    const auto lineEnd = [&](qsizetype start) {
        const qsizetype lf = headerBlock.indexOf('\n', start);
        return lf < 0 ? size : lf;
    };
    const auto contentEnd = [&](qsizetype start, qsizetype end) {
        return end > start && headerBlock.at(end - 1) == '\r' ? end - 1 : end;
    };
    for (qsizetype start = 0; start <= size;) {
        const qsizetype end = lineEnd(start);
        const qsizetype stop = contentEnd(start, end);
        if (stop == start)
            break; // end of the header block
        const bool match = stop - start > name.size() && headerBlock.at(start + name.size()) == ':' &&
                           std::equal(name.begin(), name.end(), headerBlock.begin() + start,
                                      [](char a, char b) { return asciiLower(a) == asciiLower(b); });
        if (!match) {
            start = end + 1;
            continue;
        }
        QByteArray value = headerBlock.mid(start + name.size() + 1, stop - start - name.size() - 1);
        // Unfolding removes only the line break; the blanks that start the next line stay.
        for (start = end + 1; start < size && isBlank(headerBlock.at(start));) {
            const qsizetype next = lineEnd(start);
            value.append(headerBlock.constData() + start, contentEnd(start, next) - start);
            start = next + 1;
        }
        qsizetype first = 0;
        qsizetype last = value.size();
        while (first < last && isBlankOrLineEnd(value.at(first)))
            ++first;
        while (last > first && isBlankOrLineEnd(value.at(last - 1)))
            --last;
        return value.mid(first, last - first);
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
        if (pending && !pendingBytes.isEmpty()) // no charset makes text of no bytes
            text += CharsetDecoder::decode(pendingBytes, pendingCharset);
        pendingBytes.clear();
        pending = false;
    };
    qsizetype pos = 0;
    EncodedWord word;
    while (text.size() < MaxFieldChars && findEncodedWord(value, pos, &word)) {
        const QByteArrayView between = QByteArrayView(value).sliced(pos, word.start - pos);
        const bool adjacent = pending && onlyBlanks(between);
        if (!adjacent) {
            flushPending();
            text += CharsetDecoder::decodeRaw(QByteArray::fromRawData(between.data(), between.size()));
        } else if (word.charset != pendingCharset) {
            flushPending(); // blanks between encoded words are dropped
        }
        pendingCharset = word.charset;
        pendingBytes += word.bytes;
        pending = true;
        pos = word.end;
    }
    flushPending();
    if (text.size() < MaxFieldChars) // else the rest is dropped undecoded
        text += CharsetDecoder::decodeRaw(QByteArray::fromRawData(value.constData() + pos, value.size() - pos));
    return capped(text);
}

MessageHeaders HeaderDecoder::decode(const QByteArray& headerBlock)
{
    const QByteArray block = cutBlock(headerBlock);
    MessageHeaders headers;
    headers.subject = decodeField(fieldValue(block, "Subject"));
    headers.date = decodeField(fieldValue(block, "Date"));
    headers.sender = decodeField(fieldValue(block, "From"));
    headers.messageId = fieldValue(block, "Message-ID").trimmed().left(998);
    headers.rawHeader = CharsetDecoder::decodeRaw(block);
    return headers;
}
