#pragma once

#include <QValidator>

// Keeps the keyword entry storable: at most 200 cp932 bytes (a full-width character counts 2) and
// only characters that cp932 can represent. A refused input is refused whole, never altered; the
// reason of the last refusal stays available so the window can tell the user.
class KeywordEntryValidator : public QValidator
{
    Q_OBJECT
public:
    enum Rejection { NotRejected, NotCp932, TooLong };

    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;

    Rejection lastRejection() const { return m_rejection; }
    // The first character of the refused input that cp932 cannot represent (NotCp932 only).
    QString offendingCharacter() const { return m_offending; }

private:
    mutable Rejection m_rejection = NotRejected;
    mutable QString m_offending;
};
