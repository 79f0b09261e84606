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

constexpr char16_t Alphabet[] = {u'a',      u'b',      u'c',      u' ',      u'\u3000', u'\t',     u'A',      u'\uFF41',
                                 u'\u30A2', u'\u3042', u'\uFF71', u'\u30FC', u'\u3099', u'\u304B', u'\u00DF', u's',
                                 u'\u0000', u'\uD800', u'\uDC00', u'\uFB01', u'f',      u'i',      u'\u2003', u'@'};

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
    for (const QString& text : {prepared(subject), prepared(sender)}) {
        for (const QString& keyword : keywords) {
            if (!blank(keyword) && !blank(prepared(keyword)) && text.contains(prepared(keyword)))
                return keyword;
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
        else
            fields.last().append(QChar(Alphabet[data[i] % std::size(Alphabet)]));
    }
    while (fields.size() < 2)
        fields.append(QString());
    const QStringList keywords = fields.mid(2);
    for (const bool loose : {false, true}) {
        const QString found = MessageJudge(keywords, loose).judge(fields[0], fields[1]);
        if (found != plainJudge(keywords, loose, fields[0], fields[1]))
            std::abort();
    }
    return 0;
}
