#include "app/HELPForm.h"

#include "platform/DesignFont.h"
#include "platform/PageView.h"
#include "platform/Twips.h"
#include "platform/WindowPlacement.h"
#include "settings/ProgramFolder.h"

#include <QApplication>
#include <QResizeEvent>

namespace {
// Name, twip rectangle (left, top, width, height).
struct ControlPlace
{
    const char* name;
    int left, top, width, height;
};
constexpr ControlPlace ClientArea{"HELPForm", 0, 0, 10905, 7680};
constexpr ControlPlace BrowserPlace{"WebBrowser1", 0, 0, 10935, 7695};
} // namespace

HELPForm::HELPForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QLatin1String(ClientArea.name));
    setWindowTitle(QStringLiteral("HELP"));
    letNoticesCover(this); // kept on top itself: the board need not stand aside from it
    setWindowIcon(parent ? parent->windowIcon() : QApplication::windowIcon());
    setFont(designFont(font()));
    WebBrowser1 = new PageView(this);
    WebBrowser1->setObjectName(QLatin1String(BrowserPlace.name));
    WebBrowser1->setGeometry(twipRect(BrowserPlace.left, BrowserPlace.top, BrowserPlace.width, BrowserPlace.height));
    resize(twipSize(ClientArea.width, ClientArea.height));
    centreOnScreen(this);
    Form_Load();
}

QSize HELPForm::browserTwips(QSize outerTwips)
{
    return QSize(std::max(0, outerTwips.width() - 100), std::max(0, outerTwips.height() - 400));
}

void HELPForm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

// The frame is known only once the window system has framed the window, which it reports as a
// move; sized before that, the page left a grey band under it until the user resized the window.
void HELPForm::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    Form_Resize();
}

void HELPForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Form_Resize();
}

void HELPForm::Form_Load()
{
    setTopmost(this, true);
    // The page view reads local files only, so it is always what the help needs: off line.
    WebBrowser1->navigate(Paths::fileAddress(Paths::helpPage()));
}

void HELPForm::Form_Resize()
{
    const QSize outer = frameGeometry().size();
    const QSize browser = browserTwips(QSize(pixelsToTwips(outer.width()), pixelsToTwips(outer.height())));
    WebBrowser1->resize(twipSize(browser.width(), browser.height()));
}

#include "moc_HELPForm.cpp"
