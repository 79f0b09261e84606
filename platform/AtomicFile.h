#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

// Replaces the file at path with data in one step: the bytes go to a temporary file in the same
// folder, which is then renamed over the old file, so a crash or a full disk leaves either the
// old content or the new, never a torn file. Returns an empty text on success, else the reason
// (see writeErrorText).
QString writeFileAtomically(const QString& path, const QByteArray& data, QFileDevice::Permissions permissions = {});

// Reads a whole file; false (and data untouched) when it does not exist or cannot be read.
bool readWholeFile(const QString& path, QByteArray* data);

// Writes size bytes to file, which must be open Unbuffered so that the failing system call is the
// last one made. Empty text when every byte was written, else the reason.
QString writeFully(QFileDevice& file, const char* bytes, qint64 size);

// The reason an open of file failed, errorNumber being errno right after it: as writeErrorText
// when Qt's text is the system's own text for that number (so the number is the cause), else Qt's.
QString openErrorText(const QFileDevice& file, int errorNumber);

// The reason for a failed write, from the system's error number: a full disk (or quota) reads
// "空き容量がありません。", a few other common causes are said in Japanese, the rest as the system
// says them. Never an empty or "unknown" text.
QString writeErrorText(int errorNumber);
