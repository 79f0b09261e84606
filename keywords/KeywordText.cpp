#include "keywords/KeywordText.h"

#include <algorithm>

QString trimSpaces(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

namespace {
// Whether NFKC treats the text before c and the text from c on apart: c is a starter that nothing
// composes with as the second part, nor does what it decomposes into. Only the characters of
// ordinary Japanese and English text are listed; others just make longer pieces.
bool startsAfresh(char16_t c)
{
    return c < 0x80 || (c >= 0x3000 && c <= 0x3003) || (c >= 0x3041 && c <= 0x3096) || (c >= 0x30A1 && c <= 0x30FA) ||
           (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xFB00 && c <= 0xFB06) ||
           (c >= 0xFF01 && c <= 0xFF5E);
}

// NFKC piece by piece, a piece of at least PieceChars where the text allows: Qt's normalization
// moves the rest of the text for every character whose decomposition has another length, which is
// quadratic in one long piece.
QString normalizedKC(const QString& text)
{
    constexpr qsizetype PieceChars = 32;
    if (text.size() <= PieceChars)
        return text.normalized(QString::NormalizationForm_KC);
    QString result;
    result.reserve(text.size());
    qsizetype begin = 0;
    for (qsizetype i = 1; i <= text.size(); ++i) {
        if (i == text.size() || (i - begin >= PieceChars && startsAfresh(text.at(i).unicode()))) {
            result += text.mid(begin, i - begin).normalized(QString::NormalizationForm_KC);
            begin = i;
        }
    }
    return result;
}
} // namespace

QString foldForMatch(const QString& text)
{
    QString folded = normalizedKC(text).toCaseFolded();
    for (QChar& c : folded) {
        if (c.unicode() >= 0x3041 && c.unicode() <= 0x3096)
            c = QChar(char16_t(c.unicode() + 0x60));
    }
    return folded;
}

bool isBlankKeyword(const QString& keyword)
{
    // Folding turns white space into white space (U+3000 into U+0020) and nothing else into white
    // space, so a keyword is blank folded exactly when it is blank as stored.
    return std::all_of(keyword.cbegin(), keyword.cend(), [](QChar c) { return c.isSpace(); });
}
