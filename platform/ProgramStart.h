#pragma once

#include <QString>

// Starts the user's program without waiting for it. A command line that names an existing
// file is run as it is (a path with spaces works); anything else is split as a command line
// with quoting. Empty text on success, else a message for the user that names the program.
QString startProgramDetached(const QString& commandLine);
