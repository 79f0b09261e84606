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

void HELPForm::Form_Load()
{
    setTopmost(this, true);
    // The page view reads local files only, so it is always what the help needs: off line.
    WebBrowser1->navigate(Paths::fileAddress(Paths::helpPage()));
}

void HELPForm::Form_Resize()
{
    // The design's outer size is the client area plus a frame of 100 x 400 twips. Frames here
    // differ and are unknown until the window is first shown, which left a grey band under the
    // page: the frame the window really has is taken out instead, so the page fills the client.
    const QSize outer(pixelsToTwips(width()) + 100, pixelsToTwips(height()) + 400);
    const QSize browser = browserTwips(outer);
    WebBrowser1->resize(twipSize(browser.width(), browser.height()));
}

#include "moc_HELPForm.cpp"
