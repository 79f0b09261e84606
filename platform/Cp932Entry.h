#pragma once

#include <QString>

class QLineEdit;

// The settings files are cp932: a character without a cp932 form could not be stored and would
// fail only when the program ends. Such text is refused where the user enters it.

// The message that names the first character of text without a cp932 form; empty when text
// has a cp932 form throughout.
QString cp932Refusal(const QString& text);

// Makes box refuse typed or pasted input that holds such a character, whole, and tell the user
// which character it was. Text set by the program is not checked.
void refuseNonCp932(QLineEdit* box);
