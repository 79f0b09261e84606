#include "platform/WindowPlacement.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWidget>

namespace {
// A frame the window manager has not drawn yet: room for a title bar and borders.
constexpr int TitleRoom = 32;
constexpr int BorderRoom = 4;
const char* const MayCover = "mossvaleNoticesMayCover";

QSize frameExtra(const QWidget* window)
{
    const QSize drawn = window->frameGeometry().size() - window->geometry().size();
    return drawn.isEmpty() ? QSize(2 * BorderRoom, TitleRoom + BorderRoom) : drawn;
}

bool fixedSize(const QWidget* window)
{
    return window->minimumSize() == window->maximumSize();
}

// The window's controls move into a page of the design's size that scrolls inside the window.
void scrollControls(QWidget* window, QSize design)
{
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("screenFit"));
    scroll->setFrameShape(QFrame::NoFrame);
    if (auto* main = qobject_cast<QMainWindow*>(window)) {
        QWidget* central = main->takeCentralWidget();
        scroll->setWidget(central);
        main->setCentralWidget(scroll);
        scroll->show(); // the window may be on screen already
        return;
    }
    auto* page = new QWidget;
    page->setObjectName(window->objectName() + QStringLiteral("Page"));
    page->setFixedSize(design);
    for (QObject* child : window->children()) {
        auto* control = qobject_cast<QWidget*>(child);
        if (!control || control->isWindow())
            continue;
        const bool hidden = control->isHidden();
        const QRect place = control->geometry();
        control->setParent(page);
        control->setGeometry(place);
        control->setVisible(!hidden);
    }
    scroll->setWidget(page);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    scroll->show();
    layout->activate();
}

// Makes the window no larger than room.
void fitInto(QWidget* window, QSize room)
{
    const QSize design = window->size();
    if (design.width() <= room.width() && design.height() <= room.height())
        return;
    const QSize fitted = design.boundedTo(room);
    if (fixedSize(window)) {
        // Direct children only: the program's other windows are children of the main window.
        if (!window->findChild<QScrollArea*>(QStringLiteral("screenFit"), Qt::FindDirectChildrenOnly))
            scrollControls(window, design);
        window->setFixedSize(fitted);
    } else {
        window->resize(fitted);
    }
}
} // namespace

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
    const QRect area = screen->availableGeometry();
    const QSize extra = frameExtra(window);
    fitInto(window, area.size() - extra);
    QRect frame(window->pos(), window->size() + extra);
    frame.moveCenter(over && over->isVisible() ? over->frameGeometry().center() : area.center());
    // Within the free area, the title bar first.
    frame.moveLeft(std::max(area.left(), std::min(frame.left(), area.right() + 1 - frame.width())));
    frame.moveTop(std::max(area.top(), std::min(frame.top(), area.bottom() + 1 - frame.height())));
    window->move(frame.topLeft());
}

void bringForward(QWidget* window)
{
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
}

void letNoticesCover(QWidget* window)
{
    window->setProperty(MayCover, true);
}

bool noticesMayCover(const QWidget* window)
{
    return window->property(MayCover).toBool();
}
