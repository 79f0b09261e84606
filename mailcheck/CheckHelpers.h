#pragma once

#include "mailcheck/MessageJudge.h" // trimSpaces: texts are trimmed as the judge trims them

#include <QString>

// Returns after strictly more than ms milliseconds of the millisecond clock (correct across
// its wrap), processing pending events on every turn, at least once.
void WaitMilliseconds(const qint32& ms);

// The text up to its first NUL character, or all of it.
QString TrimAtNul(const QString& text);
