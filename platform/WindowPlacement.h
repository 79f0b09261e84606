#pragma once

class QWidget;

// Keeping a window above every window that is not kept on top, and letting it go again.
// Both show the window; the stacking does not change when asked twice.
void setTopmost(QWidget* window, bool topmost);
bool isTopmost(const QWidget* window);

// Places a top-level window at the centre of the screen it is on.
void centreOnScreen(QWidget* window);
// Places a top-level window at the centre of over when over is shown, else of the screen: where
// the user is looking.
void centreOver(QWidget* window, const QWidget* over);
