#pragma once

#include <QByteArray>
#include <QString>

// Bytes of a mail header in a named character set to text, the way Japanese mail is meant to be
// read: every Shift_JIS alias as cp932 (so ①, ～ and the other Windows characters survive),
// ISO-2022-JP with the cp932 extensions, other charsets through Qt's converters, and an
// unknown charset or unlabelled 8-bit text as UTF-8 when it is valid UTF-8, else as cp932.
// NUL characters are kept.
class CharsetDecoder
{
public:
    // Text of bytes labelled with charset (case-insensitive; an RFC 2231 "*language" suffix is
    // ignored). An empty or unknown charset means unlabelled text.
    static QString decode(const QByteArray& bytes, const QByteArray& charset);
    // Text of unlabelled header bytes: ISO-2022-JP when escape sequences appear, else ASCII,
    // else UTF-8 when valid, else cp932.
    static QString decodeRaw(const QByteArray& bytes);
    // ISO-2022-JP (and its -1, -2, -3 and Microsoft variants as far as they are JIS X 0208
    // based); unknown escapes and JIS X 0212 give U+FFFD.
    static QString decodeIso2022Jp(const QByteArray& bytes);
    // The bytes as UTF-8, or a null string when they are not valid UTF-8.
    static QString strictUtf8(const QByteArray& bytes);
};
