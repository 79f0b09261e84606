// Keywords and texts from a small alphabet of characters that matter to matching (spaces of both
// widths, kana of both kinds and widths, letters that fold, NUL, lone surrogates): the judge's one
// pass must name the same keyword as comparing the keywords one by one in list order, exactly and
// loosely.
#include "mailcheck/MessageJudge.h"

#include <QStringList>
#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {
// More keywords only repeat what these find, and the plain comparison costs one search each.
constexpr qsizetype MaxKeywords = 64;
// A stored keyword is at most 200 cp932 bytes, a decoded header field at most 8K characters; past
// these bounds (with room) the plain comparison, a search per keyword, would only measure itself.
constexpr qsizetype MaxKeywordChars = 200;
constexpr qsizetype MaxTextChars = 64 * 1024;

constexpr char16_t Alphabet[] = {'a',    'b',    'c',    ' ',    0x3000, '\t',   'A',    0xFF41,
                                 0x30A2, 0x3042, 0xFF71, 0x30FC, 0x3099, 0x304B, 0x00DF, 's',
                                 0x0000, 0xD800, 0xDC00, 0xFB01, 'f',    'i',    0x2003, '@'};

// The first keyword in list order found in subject, else in sender, compared one by one.
QString plainJudge(const QStringList& keywords, bool loose, const QString& subject, const QString& sender)
{
    const auto prepared = [loose](const QString& text) {
        return loose ? foldForMatch(trimSpaces(text)) : trimSpaces(text);
    };
    // Blank: white space only as stored or as compared.
    const auto blank = [](const QString& text) {
        return std::all_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); });
    };
    QStringList compared;
    for (const QString& keyword : keywords)
        compared.append(blank(keyword) || blank(prepared(keyword)) ? QString() : prepared(keyword));
    for (const QString& text : {prepared(subject), prepared(sender)}) {
        for (qsizetype i = 0; i < keywords.size(); ++i) {
            if (!compared.at(i).isEmpty() && text.contains(compared.at(i)))
                return keywords.at(i);
        }
    }
    return {};
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // Byte 0xFF ends a field: subject, sender, then the keywords.
    QStringList fields{QString()};
    for (size_t i = 1; i < size && fields.size() < 2 + MaxKeywords; ++i) {
        if (data[i] == 0xFF)
            fields.append(QString());
        else if (fields.last().size() < (fields.size() <= 2 ? MaxTextChars : MaxKeywordChars))
            fields.last().append(QChar(Alphabet[data[i] % std::size(Alphabet)]));
    }
    while (fields.size() < 2)
        fields.append(QString());
    // Folding piece by piece must give what folding the whole text gives (which is quadratic, so
    // only on shorter texts).
    for (const QString& text : std::as_const(fields)) {
        if (text.size() > 4096)
            continue;
        QString whole = text.normalized(QString::NormalizationForm_KC).toCaseFolded();
        for (QChar& c : whole) {
            if (c.unicode() >= 0x3041 && c.unicode() <= 0x3096)
                c = QChar(char16_t(c.unicode() + 0x60));
        }
        if (foldForMatch(text) != whole)
            std::abort();
    }
    const QStringList keywords = fields.mid(2);
    for (const bool loose : {false, true}) {
        const QString found = MessageJudge(keywords, loose).judge(fields[0], fields[1]);
        if (found != plainJudge(keywords, loose, fields[0], fields[1]))
            std::abort();
    }
    return 0;
}
