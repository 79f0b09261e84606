#pragma once

#include <QString>

// Loads Qt's own Japanese catalogue (qtbase) from Qt's translations folder, so that standard
// buttons, the file dialog and text-box context menus speak the program's language. False when
// the catalogue is not installed: Qt's texts then stay in English.
bool installQtJapanese();

// Where the window system cannot keep a window above the others (Wayland), a notice may go
// unseen: there the same news also goes to the desktop's notification service. Sends nothing
// elsewhere; false when it should have and the service did not take it.
bool notifyWhereNoticesHide(const QString& title, const QString& body);
