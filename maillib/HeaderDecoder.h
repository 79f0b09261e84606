#pragma once

#include <QByteArray>
#include <QString>

// The texts of one message's header block that the mail check uses.
struct MessageHeaders
{
    QString subject;   // decoded Subject field
    QString date;      // decoded Date field
    QString sender;    // decoded From field: display name and address
    QByteArray messageId; // the Message-ID field as it stands, trimmed; empty when there is none
    QString rawHeader; // the header block as received (within MaxHeaderBlockBytes), read as unlabelled text
};

// Decodes a message's header block (as sent for TOP n 0) into text. Fields are unfolded; RFC
// 2047 encoded words (B and Q, any letter case) are decoded, adjacent words of one charset being
// joined as bytes first so that a character or escape sequence split between words survives;
// text outside encoded words is read as unlabelled text (see CharsetDecoder). A field that is
// missing gives the empty text; the first of repeated fields counts. NULs are kept.
//
// Bounds, so that one hostile mail costs little at every check: all work is linear in the input.
// - decode() looks at only the first MaxHeaderBlockBytes of the block (cut back to the start of
//   a UTF-8 character): a field that starts later is missing, one that runs past the cut ends
//   there, and rawHeader is that part only.
// - An encoded word is at most MaxEncodedWordChars characters from "=?" to "?=": a longer one is
//   not searched for and stays as the text it is. RFC 2047 says 75, but senders (spammers above
//   all) write whole subjects as one longer word, and such a subject must still meet the
//   keywords. The search for a word's end stops at its third "?" or a blank, so every byte is
//   looked at a bounded number of times whatever this limit. A candidate that is not an encoded
//   word is left as text and the search goes on after its "=?".
// - decodeField() and so every decoded field give at most MaxFieldChars UTF-16 code units (a
//   surrogate pair is not split): the rest of a longer field is dropped without being decoded.
class HeaderDecoder
{
public:
    static constexpr qsizetype MaxHeaderBlockBytes = 256 * 1024;
    static constexpr qsizetype MaxFieldChars = 8 * 1024;
    static constexpr qsizetype MaxEncodedWordChars = 1000;

    static MessageHeaders decode(const QByteArray& headerBlock);
    // The unfolded raw value of the first field called name (case-insensitive), without the
    // leading and trailing blanks; a null array when there is none. Not cut.
    static QByteArray fieldValue(const QByteArray& headerBlock, const QByteArray& name);
    // Text of one unfolded field value, at most MaxFieldChars long.
    static QString decodeField(const QByteArray& value);
};
