#pragma once

#include <QString>

// How keyword texts are compared: the rules the keyword window, the keyword file and the judge share.

// The text without leading and trailing ASCII spaces (U+0020 only; other blanks count).
QString trimSpaces(const QString& text);

// The text as looser matching compares it: NFKC (full and half width alike), case folded, and
// hiragana turned into katakana.
QString foldForMatch(const QString& text);

// Whether keyword can never match: nothing but white space (any Unicode white space, U+3000
// included), before or after folding. An empty keyword is blank.
bool isBlankKeyword(const QString& keyword);
