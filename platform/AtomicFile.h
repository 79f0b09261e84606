#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

// Replaces the file at path with data in one step: the bytes go to a temporary file in the same
// folder, which is then renamed over the old file, so a crash or a full disk leaves either the
// old content or the new, never a torn file. Returns an empty text on success, else the reason.
QString writeFileAtomically(const QString& path, const QByteArray& data,
                            QFileDevice::Permissions permissions = {});

// Reads a whole file; false (and data untouched) when it does not exist or cannot be read.
bool readWholeFile(const QString& path, QByteArray* data);
