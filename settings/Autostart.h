#pragma once

#include <QByteArray>
#include <QString>

// The user's XDG autostart entry, $XDG_CONFIG_HOME/autostart/mossvale.desktop: its existence is the
// setting. Its text is the program's own desktop entry with Exec pointing at the program as it runs.
namespace Autostart {

// Where the entry lives.
QString entryPath();
// Whether the entry exists.
bool enabled();
// The entry for program (an absolute path): the program's desktop entry, Exec set to the path quoted
// by the Desktop Entry rules, marked enabled for the autostart of GNOME. Empty when program cannot be
// written there (a line break in it).
QByteArray entryText(const QString& program);
// program as one Exec argument: quoted when it holds a reserved character, '%' doubled, and the
// backslash escaping of the string type applied on top.
QString execArgument(const QString& program);
// Writes the entry atomically (creating the folder), or removes it. Empty text on success, else a
// message for the user that names the file.
QString enable(const QString& program);
QString disable();

} // namespace Autostart
