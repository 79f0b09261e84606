#pragma once

#include <QString>

// Starts the user's program without waiting for it. A command line that names an existing
// file is run as it is (a path with spaces works); anything else is split as a command line
// with quoting. Empty text on success, else a message for the user that names the program.
QString startProgramDetached(const QString& commandLine);

// Starts the user's program as startProgramDetached does, with file as one more argument of its own
// (never split or unquoted, whatever it holds).
QString startProgramWithFile(const QString& commandLine, const QString& file);
