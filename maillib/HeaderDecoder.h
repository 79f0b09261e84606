#pragma once

#include <QByteArray>
#include <QString>

// The texts of one message's header block that the mail check uses.
struct MessageHeaders
{
    QString subject;   // decoded Subject field
    QString date;      // decoded Date field
    QString sender;    // decoded From field: display name and address
    QString rawHeader; // the whole header block as received, read as unlabelled text
};

// Decodes a message's header block (as sent for TOP n 0) into text. Fields are unfolded; RFC
// 2047 encoded words (B and Q, any letter case) are decoded, adjacent words of one charset being
// joined as bytes first so that a character or escape sequence split between words survives;
// text outside encoded words is read as unlabelled text (see CharsetDecoder). A field that is
// missing gives the empty text; the first of repeated fields counts. NULs are kept.
class HeaderDecoder
{
public:
    static MessageHeaders decode(const QByteArray& headerBlock);
    // The unfolded raw value of the first field called name (case-insensitive), without the
    // leading and trailing blanks; a null array when there is none.
    static QByteArray fieldValue(const QByteArray& headerBlock, const QByteArray& name);
    // Text of one unfolded field value.
    static QString decodeField(const QByteArray& value);
};
