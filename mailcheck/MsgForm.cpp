#include "mailcheck/MsgForm.h"

#include "platform/DesignFont.h"
#include "platform/Twips.h"
#include "platform/WindowPlacement.h"

#include <QApplication>
#include <QLineEdit>
#include <QScreen>
#include <QTimer>

namespace {
// Client area 3585 x 255 twips; both boxes are a little taller than it, as designed.
const Placement Text1Place{"Text1", twipRect(0, 0, 3135, 270)};
const Placement Text2Place{"Text2", twipRect(3120, 0, 495, 270)};

QLineEdit* makeText(QWidget* parent, const Placement& placement, Qt::Alignment alignment)
{
    auto* text = new QLineEdit(parent);
    text->setObjectName(QString::fromLatin1(placement.name));
    text->setGeometry(placement.rect);
    text->setAlignment(alignment);
    // A notice, not an input: the user reads it and closes the window. The thin frame leaves
    // room for the text in a box only 18 pixels high.
    text->setReadOnly(true);
    text->setFocusPolicy(Qt::NoFocus);
    return text;
}

// Room left between the board and a window, for the window manager's shadows and borders.
constexpr int Gap = 8;
// A window's title bar, for as long as the window manager has not told its height: a window just shown
// may not have its frame yet.
constexpr int TitleRoom = 32;

// A window of the program that the board must not cover: a question, the history, the keywords, the
// settings... every one but the few it is meant to stay above. Menus and tips come and go by themselves.
bool keptClear(const QObject* object, const QWidget* board)
{
    if (object == board || !object->isWidgetType())
        return false;
    const auto* window = static_cast<const QWidget*>(object);
    const Qt::WindowType type = window->windowType();
    return window->isWindow() && (type == Qt::Window || type == Qt::Dialog) && !noticesMayCover(window);
}

// Where those windows are on screen with their title bars, each widened by Gap.
QList<QRect> openWindows(const QWidget* board)
{
    QList<QRect> places;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (keptClear(window, board) && window->isVisible() && !window->isMinimized())
            places.append((window->frameGeometry() | window->geometry().adjusted(0, -TitleRoom, 0, 0))
                              .adjusted(-Gap, -Gap, Gap, Gap));
    }
    return places;
}

bool clearOf(const QRect& place, const QList<QRect>& windows)
{
    return std::none_of(windows.begin(), windows.end(),
                        [&place](const QRect& window) { return window.intersects(place); });
}
} // namespace

MsgForm::MsgForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    buildLayout();
    Form_Load();
    // Windows open and close anywhere in the program; the board hears of each one.
    qApp->installEventFilter(this);
}

void MsgForm::buildLayout()
{
    setObjectName(QStringLiteral("MsgForm"));
    setWindowTitle(QStringLiteral("新着お知らせボード"));
    // A timed check shows it while the user may be typing elsewhere: it must not take the keys.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(twipSize(3585, 255));
    setFont(designFont(font()));

    Text1 = makeText(this, Text1Place, Qt::AlignCenter);
    Text1->setStyleSheet(QStringLiteral("QLineEdit { background-color: rgb(0, 0, 255); color: white; "
                                        "border: 1px solid gray; padding: 0px; }"));
    Text1->setText(QStringLiteral("新着メールがあります。"));
    Text2 = makeText(this, Text2Place, Qt::AlignRight | Qt::AlignVCenter);
    Text2->setStyleSheet(QStringLiteral("QLineEdit { border: 1px solid gray; padding: 0px; }"));
}

void MsgForm::Form_Load()
{
    setTopmost(this, true);
    // After the stacking change, which re-creates the native window.
    centreOnScreen(this);
}

bool MsgForm::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowStateChange:
        if (keptClear(watched, this))
            keepClearLater();
        break;
    default:
        break;
    }
    return false;
}

void MsgForm::showEvent(QShowEvent* event)
{
    keepClearLater(); // a window may be open already
    QWidget::showEvent(event);
}

// A window places and sizes itself while it is being shown: look once that is done.
void MsgForm::keepClearLater()
{
    if (m_clearingQueued)
        return;
    m_clearingQueued = true;
    QTimer::singleShot(0, this, &MsgForm::keepClear);
}

void MsgForm::keepClear()
{
    m_clearingQueued = false;
    QScreen* display = screen();
    if (!isVisible() || !display)
        return;
    const QRect area = display->availableGeometry();
    QRect home = frameGeometry();
    home.moveCenter(area.center());
    const QList<QRect> windows = openWindows(this);
    if (windows.isEmpty()) {
        if (m_standingAside)
            move(home.topLeft());
        m_standingAside = false;
        return;
    }
    if (clearOf(frameGeometry(), windows))
        return;
    QRect blocked;
    for (const QRect& window : windows)
        blocked |= window;
    // Just above the windows, just below them, then the top and the bottom of the screen.
    for (int top :
         {blocked.top() - home.height(), blocked.bottom() + 1, area.top(), area.bottom() - home.height() + 1}) {
        const QRect place(QPoint(home.left(), top), home.size());
        if (area.contains(place) && clearOf(place, windows)) {
            move(place.topLeft());
            m_standingAside = true;
            return;
        }
    }
    // Windows over the whole height: the top edge, where the least is covered.
    move(home.left(), area.top());
    m_standingAside = true;
}
