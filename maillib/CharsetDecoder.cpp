#include "maillib/CharsetDecoder.h"

#include "platform/Cp932Codec.h"

#include <QStringDecoder>
#include <map>

namespace {

bool isShiftJisAlias(const QByteArray& name)
{
    static const char* const aliases[] = {
        "shift_jis",         "shift-jis",         "sjis",           "x-sjis",         "ms_kanji",   "csshiftjis",
        "windows-31j",       "cswindows31j",      "cp932",          "ms932",          "x-ms-cp932", "ibm-943",
        "ibm-943_p15a-2003", "ibm-943_p130-1999", "shift_jisx0213", "shift_jis-2004", "x-shift_jis"};
    for (const char* alias : aliases) {
        if (name == alias)
            return true;
    }
    return false;
}

bool isIso2022JpAlias(const QByteArray& name)
{
    return name.startsWith("iso-2022-jp") || name == "csiso2022jp" || name == "cp50220" || name == "cp50221" ||
           name == "cp50222" || name == "jis";
}

// Qt's decoder for a charset name, invalid when the name is unknown. Looking a name up costs
// more than decoding a short word, and a header may hold thousands of words, so each thread
// keeps the decoders of the last few names it saw.
QStringDecoder& decoderFor(const QByteArray& name)
{
    thread_local std::map<QByteArray, QStringDecoder> decoders;
    auto it = decoders.find(name);
    if (it == decoders.end()) {
        if (decoders.size() >= 16)
            decoders.clear();
        it = decoders.emplace(name, QStringDecoder(name.constData(), QStringDecoder::Flag::Stateless)).first;
    }
    it->second.resetState();
    return it->second;
}

// A JIS X 0208 code (each byte 0x21-0x7E) as its cp932 double byte; rows 89-92 land on the
// IBM extension area of cp932 as Windows mailers produce them.
void appendJisAsShiftJis(QByteArray* out, uchar j1, uchar j2)
{
    const uchar s1 = uchar(((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0));
    uchar s2;
    if (j1 & 1)
        s2 = uchar(j2 + (j2 <= 0x5F ? 0x1F : 0x20));
    else
        s2 = uchar(j2 + 0x7E);
    out->append(char(s1));
    out->append(char(s2));
}

enum class JisMode { Ascii, Kanji, Katakana, Unsupported };

// Reads an escape sequence at bytes[i]; returns its length, or 0 when none is recognised.
int readEscape(const QByteArray& bytes, qsizetype i, JisMode* mode)
{
    const QByteArrayView rest = QByteArrayView(bytes).sliced(i);
    if (rest.startsWith("\x1b(B") || rest.startsWith("\x1b(J") || rest.startsWith("\x1b(H")) {
        *mode = JisMode::Ascii;
        return 3;
    }
    if (rest.startsWith("\x1b$B") || rest.startsWith("\x1b$@")) {
        *mode = JisMode::Kanji;
        return 3;
    }
    if (rest.startsWith("\x1b&@\x1b")) { // JIS X 0208-1990 announcer, followed by ESC $ B
        return 3;
    }
    if (rest.startsWith("\x1b(I")) {
        *mode = JisMode::Katakana;
        return 3;
    }
    if (rest.startsWith("\x1b$(D") || rest.startsWith("\x1b$(O") || rest.startsWith("\x1b$(P") ||
        rest.startsWith("\x1b$(Q")) {
        *mode = JisMode::Unsupported;
        return 4;
    }
    return 0;
}

} // namespace

QString CharsetDecoder::strictUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return QString();
    if (text.isNull())
        text = QLatin1String("");
    return text;
}

QString CharsetDecoder::decodeIso2022Jp(const QByteArray& bytes)
{
    // Converted to cp932 bytes run by run, then decoded once, so cp932's Windows characters
    // (NEC row 13, IBM extensions, ～) come out as Windows shows them.
    QString text;
    QByteArray run;
    JisMode mode = JisMode::Ascii;
    const auto flush = [&]() {
        if (!run.isEmpty())
            text += Cp932Codec::decode(run);
        run.clear();
    };
    for (qsizetype i = 0; i < bytes.size();) {
        const uchar c = uchar(bytes.at(i));
        if (c == 0x1b) {
            if (const int length = readEscape(bytes, i, &mode)) {
                i += length;
                continue;
            }
        } else if (mode == JisMode::Ascii) { // up to the next escape every byte goes through as is
            const qsizetype escape = bytes.indexOf('\x1b', i);
            const qsizetype stop = escape < 0 ? bytes.size() : escape;
            run.append(bytes.constData() + i, stop - i);
            i = stop;
            continue;
        }
        if (c == '\r' || c == '\n') {
            mode = JisMode::Ascii; // a line end always resets to ASCII
        }
        if (mode == JisMode::Kanji && c >= 0x21 && c <= 0x7e) {
            if (i + 1 < bytes.size() && uchar(bytes.at(i + 1)) >= 0x21 && uchar(bytes.at(i + 1)) <= 0x7e) {
                appendJisAsShiftJis(&run, c, uchar(bytes.at(i + 1)));
                i += 2;
            } else {
                flush();
                text += QChar::ReplacementCharacter;
                ++i;
            }
        } else if (mode == JisMode::Unsupported && c >= 0x21 && c <= 0x7e) {
            flush();
            text += QChar::ReplacementCharacter;
            i += (i + 1 < bytes.size()) ? 2 : 1;
        } else if (mode == JisMode::Katakana && c >= 0x21 && c <= 0x5f) {
            run.append(char(c + 0x80));
            ++i;
        } else {
            run.append(char(c)); // ASCII, controls and stray 8-bit bytes go through cp932 as is
            ++i;
        }
    }
    flush();
    return text;
}

QString CharsetDecoder::decodeRaw(const QByteArray& bytes)
{
    if (bytes.contains('\x1b'))
        return decodeIso2022Jp(bytes);
    const QString utf8 = strictUtf8(bytes); // ASCII included
    if (!utf8.isNull())
        return utf8;
    return Cp932Codec::decode(bytes);
}

QString CharsetDecoder::decode(const QByteArray& bytes, const QByteArray& charset)
{
    QByteArray name = charset.trimmed().toLower();
    if (const qsizetype star = name.indexOf('*'); star >= 0)
        name.truncate(star);
    if (name.isEmpty())
        return decodeRaw(bytes);
    if (isShiftJisAlias(name))
        return Cp932Codec::decode(bytes);
    if (isIso2022JpAlias(name))
        return decodeIso2022Jp(bytes);
    if (name == "us-ascii" || name == "ascii")
        return decodeRaw(bytes); // mislabelled 8-bit text is common
    if (name == "utf-8" || name == "utf8") {
        const QString utf8 = strictUtf8(bytes);
        return utf8.isNull() ? decodeRaw(bytes) : utf8;
    }
    QStringDecoder& decoder = decoderFor(name);
    if (!decoder.isValid())
        return decodeRaw(bytes);
    return decoder(bytes);
}
