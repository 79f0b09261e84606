#pragma once

#include <QByteArray>
#include <QFile>
#include <QFileDevice>
#include <QString>
#include <QStringList>

// Replaces the file at path with data in one step: the bytes go to a temporary file in the same
// folder, which is then renamed over the old file, so a crash or a full disk leaves either the
// old content or the new, never a torn file. Returns an empty text on success, else the reason
// (see writeErrorText). Everything the program writes is the user's own: a file is made, or
// tightened when it is rewritten, to permissions (by default the owner's read and write alone).
inline constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
QString writeFileAtomically(const QString& path, const QByteArray& data, QFileDevice::Permissions permissions = OwnerOnly);

// Makes folder and the folders above it that are missing; the ones it makes, and folder itself when
// it is the user's, get the owner's permissions alone (0700). False when folder cannot be made.
bool makePrivateFolder(const QString& folder);

// Opens file (not yet open) to append to it, made or tightened to the owner's read and write alone.
// Empty text on success, else the reason.
QString openPrivateForAppend(QFile& file);

// Writes data to a new file under the first of names (paths in one folder) that is free, never
// replacing a file: the bytes go to a temporary file in that folder, are synced, and the file is then
// linked to the name (or renamed to it without replacing, where links are not supported), and the
// folder synced. *written (when given) gets the path used. Empty text on success, else the reason;
// when every name is taken, a text naming the first and the last.
QString writeNewFile(const QStringList& names, const QByteArray& data, QFileDevice::Permissions permissions,
                     QString* written = nullptr);

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
