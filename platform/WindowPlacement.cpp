#include "platform/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

void setTopmost(QWidget* window, bool topmost)
{
    if (!window)
        return;
    if (window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) != topmost) {
        // Changing a window flag re-creates the native window, which hides it.
        window->setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
    }
    window->show();
    if (topmost)
        window->raise();
}

bool isTopmost(const QWidget* window)
{
    return window && window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void centreOnScreen(QWidget* window)
{
    centreOver(window, nullptr);
}

void centreOver(QWidget* window, const QWidget* over)
{
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(over && over->isVisible() ? over->frameGeometry().center() : screen->availableGeometry().center());
    window->move(frame.topLeft());
}
