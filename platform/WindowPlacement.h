#pragma once

class QWidget;

// Keeping a window above every window that is not kept on top, and letting it go again.
// Both show the window; the stacking does not change when asked twice.
void setTopmost(QWidget* window, bool topmost);
bool isTopmost(const QWidget* window);

// Places a top-level window at the centre of the screen it is on.
void centreOnScreen(QWidget* window);
// Places a top-level window at the centre of over when over is shown, else of the screen: where
// the user is looking. Either way the window fits the screen's free area at any scale: a window
// larger than the area is made smaller (one of a fixed size then scrolls its controls), and its
// frame is kept within the area, so that its title bar can always be reached.
void centreOver(QWidget* window, const QWidget* over);

// Restores a minimized or hidden window, raises it and gives it the keyboard.
void bringForward(QWidget* window);

// The notice board stands aside from every window of the program, except the few it is meant to
// stay above (the main window, the help): those are marked here.
void letNoticesCover(QWidget* window);
bool noticesMayCover(const QWidget* window);
