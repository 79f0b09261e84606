#pragma once

#include "keywords/KeywordText.h" // trimSpaces: texts are trimmed as the judge trims them

#include <QString>

// The text up to its first NUL character, or all of it.
QString TrimAtNul(const QString& text);
