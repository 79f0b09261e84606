#include "mailcheck/CheckHelpers.h"

#include "mailcheck/CheckOutcome.h"

QString TrimAtNul(const QString& text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

void addNotice(CheckOutcome& outcome, const QString& text)
{
    if (!text.isEmpty())
        outcome.notice += (outcome.notice.isEmpty() ? QString() : QStringLiteral("\n")) + text;
}
