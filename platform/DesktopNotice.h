#pragma once

#include <QString>

class QAction;
class QWidget;

// Loads Qt's own Japanese catalogue (qtbase) from Qt's translations folder, so that standard
// buttons, the file dialog and text-box context menus speak the program's language. False when
// the catalogue is not installed: Qt's texts then stay in English.
bool installQtJapanese();

// Chooses X11 before Wayland (through Xwayland on a Wayland desktop), where only X11 lets the notice board and
// 「常に前面表示」 keep a window above the others, and Wayland where no X server answers. Leaves a choice the user made
// (QT_QPA_PLATFORM, -platform) alone. Call before the application object is made, and forgetPlatformChoice() after
// it, so that the programs it starts (the mail program) choose their own.
void preferX11Platform(int argc, char* argv[]);
void forgetPlatformChoice();

// Where the window system cannot keep a window above the others (Wayland), a notice may go
// unseen: there the same news also goes to the desktop's notification service, replacing the
// one sent before, with the program's icon and desktop entry. Never waits for the service: one
// call is in flight at most (given up after 5 s), and only the newest news waits for it. Sends
// nothing elsewhere; false when it should have and there is no session bus.
bool notifyWhereNoticesHide(const QString& title, const QString& body);

// On Wayland the first use of keepAbove in a run explains, over window, that it cannot work there
// and how to get it. Does nothing elsewhere.
void explainKeepAboveOnWayland(QAction* keepAbove, QWidget* window);
