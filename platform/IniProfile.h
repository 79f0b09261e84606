#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QHash>
#include <QString>

// Private profile (INI) files as the program has always kept them: cp932 text, CR LF line ends,
// "[section]" headers and "key=value" lines. Section and key names compare without regard to
// ASCII letter case; values lose surrounding blanks (and one pair of enclosing quotes).
namespace IniProfile {

// Longest value handed back, in cp932 bytes (a 256-byte buffer with its terminating NUL).
inline constexpr int MaxValueBytes = 255;
// Largest file read or rewritten. Settings files are a few hundred bytes; anything far larger is
// not one of ours and is refused whole rather than parsed.
inline constexpr qint64 MaxFileBytes = 1024 * 1024;

// One INI file as read at one moment: the file is read once, whole, and every lookup answers from
// that snapshot, so loading many keys costs one read. Lookups follow the rules of readText and
// readNumber below.
class Document
{
public:
    // Reads file once. A missing file gives an empty document and no error; a file that cannot be
    // read, or one larger than MaxFileBytes (which is not read at all), gives an empty document and
    // error() names the file and the reason in Japanese, fit to show to the user.
    static Document load(const QString& file);
    // A document of bytes already in memory (for tests and fuzzing); no size bound applies.
    explicit Document(const QByteArray& content = {});

    // Empty when the file was read or was missing.
    QString error() const { return m_error; }
    // The value as readText gives it: cut to MaxValueBytes, decoded; defaultText when empty or missing.
    QString text(const QString& section, const QString& key, const QString& defaultText) const;
    // The value's leading number as readNumber gives it; 0 when missing.
    int number(const QString& section, const QString& key) const;
    // The stored bytes of a value (blanks and one pair of quotes removed, not cut); found tells
    // whether the key is there at all.
    QByteArray value(const QByteArray& section, const QByteArray& key, bool* found) const;

private:
    // Lower-case section name -> lower-case key name -> value; only the first section of a name
    // and the first key of a name within it count.
    QHash<QByteArray, QHash<QByteArray, QByteArray>> m_values;
    QString m_error;
};

// The stored value, cut to MaxValueBytes without splitting a double-byte character, or
// defaultText when the file, section or key is missing or the value is empty, or the file cannot
// be read or is over MaxFileBytes. Reads the file each call: to read several keys, load a Document.
QString readText(const QString& file, const QString& section, const QString& key, const QString& defaultText);

// The value's leading decimal number (optional sign, then digits); 0 when the key is missing
// or the value does not start with digits. Saturates at the 32-bit limits.
int readNumber(const QString& file, const QString& section, const QString& key);

// Sets key to text, creating file, section and key as needed and keeping every other byte of
// the file as it was. The file is replaced atomically. Empty text on success, else the reason
// (the folder is missing, the file is read-only, the text has no cp932 form or a line break, the
// file cannot be read, or it is or would become larger than MaxFileBytes: the file is then left
// exactly as it was).
QString writeText(const QString& file, const QString& section, const QString& key, const QString& text,
                  QFileDevice::Permissions permissions = {});

// Byte-level forms of the above, for tests and fuzzing.
QByteArray lookupValue(const QByteArray& content, const QByteArray& section, const QByteArray& key, bool* found);
QByteArray replaceValue(const QByteArray& content, const QByteArray& section, const QByteArray& key,
                        const QByteArray& value);
// Cuts cp932 bytes to at most limit bytes without leaving half a double-byte character.
QByteArray cutCp932(const QByteArray& bytes, int limit);

} // namespace IniProfile
