#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>
#include <optional>

// One keyword as stored: 204 bytes on disk, no separators between records.
//   offset 0, 2 bytes    LineBreak  CR LF in every record this program writes
//   offset 2, 2 bytes    InUse      signed 16-bit little-endian: 1 = live, 0 = marked for removal
//   offset 4, 200 bytes  Keyword    cp932 text, left-aligned, filled with spaces (0x20); NULs at
//                                   the end (written by other programs) are read as filling too
// In memory the text fields are Unicode strings filled with spaces to 2 and 200 characters.
struct KeywordRecord
{
    QString LineBreak = QStringLiteral("\r\n");
    qint16 InUse = 1;
    QString Keyword;
    // Filled by reading: the 200 stored bytes of Keyword, and whether they are valid cp932 text
    // (NULs and spaces at the end are filling; a NUL before the text ends makes the record damaged).
    // An unreadable keyword holds U+FFFD or U+0000 in Keyword, as an undecodable subject would: it
    // must never be matched.
    QByteArray KeywordBytes = {};
    bool KeywordReadable = true;
};

inline constexpr int KeywordRecordSize = 204;
inline constexpr int KeywordFieldBytes = 200;
inline constexpr int LineBreakFieldBytes = 2;
// Record numbers were 16-bit signed in the stored format's first home; registration stops there.
inline constexpr int MaxKeywordRecords = 32767;

// The spam keyword data file ("★MailData/Tlxdata50.data"): a list of KeywordRecord, record n
// (from 1) at byte (n - 1) * 204. Every operation opens the file, works and closes it again; a
// missing file is created empty by the first operation, or restored from "TLXDATA50.TMP" when an
// interrupted rebuild left only that. Each operation returns an empty text on success, else a
// Japanese message naming the file, fit to show to the user; on failure the list on disk stays
// whole (either as it was or, for CompactKeywordFile, as it was or fully rebuilt).
class KeywordFile
{
public:
    // Called for each record; return false to end the walk after this record.
    using Visitor = std::function<bool(const KeywordRecord& record)>;

    // Visits records 1, 2, ... in order. An incomplete record at the end of the file is not
    // delivered. On an error nothing, or only the records before the failing read, was delivered;
    // a caller that must not act on a partial list checks the result.
    static QString ReadKeywordRecords(const Visitor& visit);

    // The keywords a mail check may match with, in record order: each without the spaces (U+0020)
    // around it, empty ones left out, records marked for removal left out, and records whose
    // keyword bytes are not valid cp932 left out (their numbers, from 1, go to unreadableRecords
    // when given). A file of more than MaxKeywordRecords records is an error. On an error the
    // lists are left empty and the text says why: the caller then deletes nothing rather than act
    // on a partial list.
    static QString LoadMatchKeywords(QStringList* keywords, QList<int>* unreadableRecords = nullptr);

    // The record number for a new keyword: number of whole records + 1 (1 for an empty file). An
    // incomplete record at the end is overwritten by the next write at that number. May be past
    // MaxKeywordRecords; WriteKeywordRecord refuses such numbers.
    static QString NextRecordNumber(int* number);

    // Writes record as record n (1 <= n <= MaxKeywordRecords); the file grows when n is past its
    // end. Refuses a keyword that cp932 cannot represent or that would not fit in 200 bytes (only
    // trailing spaces may fall away). A failed write leaves the file at its old length.
    static QString WriteKeywordRecord(int n, const KeywordRecord& record);

    // Marks the existing record n for removal (InUse = 0), leaving its other bytes as they are.
    static QString MarkKeywordRecord(int n);

    // Rebuilds the file without the records whose InUse is 0 (and without an incomplete last
    // record), keeping the order of the others and their bytes exactly. The survivors are written
    // to "TLXDATA50.TMP", which is then renamed over the data file: an interruption at any point
    // leaves either the old file or the new one.
    static QString CompactKeywordFile();

    // The 204 bytes of record, or nothing (with *error set) when its text cannot be stored.
    static std::optional<QByteArray> encodeRecord(const KeywordRecord& record, QString* error);
    // The record held in bytes, which must be KeywordRecordSize long.
    static KeywordRecord decodeRecord(const QByteArray& bytes);

    // Test seam: called with a step name at every point where a rebuild or restore can be
    // interrupted; a test may end the process there, or return false to make that step fail.
    using StepHook = std::function<bool(const char* step)>;
    static void setStepHook(StepHook hook);
};
