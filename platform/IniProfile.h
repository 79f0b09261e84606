#pragma once

#include <QFileDevice>
#include <QString>

// Private profile (INI) files as the program has always kept them: cp932 text, CR LF line ends,
// "[section]" headers and "key=value" lines. Section and key names compare without regard to
// ASCII letter case; values lose surrounding blanks (and one pair of enclosing quotes).
namespace IniProfile {

// Longest value handed back, in cp932 bytes (a 256-byte buffer with its terminating NUL).
inline constexpr int MaxValueBytes = 255;

// The stored value, cut to MaxValueBytes without splitting a double-byte character, or
// defaultText when the file, section or key is missing or the value is empty.
QString readText(const QString& file, const QString& section, const QString& key, const QString& defaultText);

// The value's leading decimal number (optional sign, then digits); 0 when the key is missing
// or the value does not start with digits. Saturates at the 32-bit limits.
int readNumber(const QString& file, const QString& section, const QString& key);

// Sets key to text, creating file, section and key as needed and keeping every other byte of
// the file as it was. The file is replaced atomically. Empty text on success, else the reason
// (the folder is missing, the file is read-only, the text has no cp932 form or a line break).
QString writeText(const QString& file, const QString& section, const QString& key, const QString& text,
                  QFileDevice::Permissions permissions = {});

// Byte-level forms of the above, for tests and fuzzing.
QByteArray lookupValue(const QByteArray& content, const QByteArray& section, const QByteArray& key, bool* found);
QByteArray replaceValue(const QByteArray& content, const QByteArray& section, const QByteArray& key,
                        const QByteArray& value);
// Cuts cp932 bytes to at most limit bytes without leaving half a double-byte character.
QByteArray cutCp932(const QByteArray& bytes, int limit);

} // namespace IniProfile
