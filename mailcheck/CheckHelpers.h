#pragma once

#include <QString>

// Returns after strictly more than ms milliseconds of the millisecond clock (correct across
// its wrap), processing pending events on every turn, at least once.
void WaitMilliseconds(const qint32& ms);

// The text up to its first NUL character, or all of it.
QString TrimAtNul(const QString& text);

// The text without leading and trailing ASCII spaces (U+0020 only; other blanks count).
QString trimSpaces(const QString& text);
