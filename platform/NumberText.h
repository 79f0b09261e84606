#pragma once

#include <QString>

// The number at the start of a text typed by the user: leading blanks skipped, an optional sign,
// digits, an optional decimal point and fraction. Empty or non-numeric text reads as 0.
double leadingNumber(const QString& text);

// Nearest integer, an exact half going to the even neighbour.
double roundHalfEven(double value);
