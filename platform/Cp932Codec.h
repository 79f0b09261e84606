#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Conversion between Unicode and the Windows Japanese code page 932, the encoding of every
// stored text. Backed by glibc iconv "CP932" (not "SHIFT_JIS", which lacks the Windows
// extensions such as ① and maps 0x8160 to U+301C).
class Cp932Codec
{
public:
    // The cp932 bytes of text, or nothing when a character has no cp932 form.
    static std::optional<QByteArray> encode(const QString& text);
    // Text of cp932 bytes; a byte sequence that is not valid cp932 becomes U+FFFD. NULs are kept.
    static QString decode(const QByteArray& bytes);
    // Text of cp932 bytes, or nothing when any byte sequence is not valid cp932 (no replacement),
    // for stored data whose meaning must be exact. NULs are kept.
    static std::optional<QString> decodeStrict(const QByteArray& bytes);
    static bool canEncode(const QString& text) { return encode(text).has_value(); }
    // The first character (a surrogate pair counts as one) without a cp932 form; empty when none.
    static QString firstUnencodable(const QString& text);
    // Length of text in cp932 bytes (a full-width character counts 2), or -1 when not encodable.
    static int byteLength(const QString& text);
};
