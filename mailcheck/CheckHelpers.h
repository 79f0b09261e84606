#pragma once

#include "keywords/KeywordText.h" // trimSpaces: texts are trimmed as the judge trims them

#include <QString>

struct CheckOutcome;

// The text up to its first NUL character, or all of it.
QString TrimAtNul(const QString& text);
// Adds text, when there is any, as a line of the outcome's notice.
void addNotice(CheckOutcome& outcome, const QString& text);
