#include "platform/PageView.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QStackedWidget>
#include <QStringDecoder>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {
const QString FileScheme = QStringLiteral("file://");
}

// A text browser that serves only local files: any other address reads as missing, so no page can
// make the program go on line.
class LocalPageBrowser : public QTextBrowser
{
public:
    using QTextBrowser::QTextBrowser;

    QVariant loadResource(int type, const QUrl& name) override
    {
        Q_UNUSED(type);
        if (!name.isLocalFile())
            return {};
        QFile file(name.toLocalFile());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return file.readAll();
    }
};

PageView::PageView(QWidget* parent) : QWidget(parent)
{
    m_stack = new QStackedWidget(this);
    m_browser = new LocalPageBrowser(m_stack);
    m_browser->setOpenLinks(false);
    m_browser->setOpenExternalLinks(false);
    // A web page's usual body margin, so pages made for a browser sit where their author put them.
    m_browser->document()->setDocumentMargin(8);
    m_picture = new QLabel(m_stack);
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    m_picture->setAutoFillBackground(true);
    QPalette white = m_picture->palette();
    white.setColor(QPalette::Window, Qt::white);
    m_picture->setPalette(white);
    m_stack->addWidget(m_browser);
    m_stack->addWidget(m_picture);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);
    connect(m_browser, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        // Links lead to a place on the same page or to other local pages only; anything else
        // stays where it is.
        const bool samePage = (url.scheme().isEmpty() && url.path().isEmpty()) ||
                              (url.isLocalFile() && FileScheme + url.toLocalFile() == m_address);
        if (samePage && url.hasFragment())
            m_browser->scrollToAnchor(url.fragment());
        else if (url.isLocalFile())
            navigate(FileScheme + url.toLocalFile());
    });
    showNotFound();
}

void PageView::navigate(const QString& address)
{
    m_address = address;
    // The address is "file://" and the path as it stands: no URL decoding, as the program forms it.
    if (!address.startsWith(FileScheme, Qt::CaseInsensitive)) {
        showNotFound();
        return;
    }
    const QString path = address.mid(FileScheme.size());
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        showNotFound();
        return;
    }
    const QString suffix = info.suffix().toLower();
    if (suffix == u"htm" || suffix == u"html")
        showPage(path);
    else if (!QImageReader::imageFormat(path).isEmpty())
        showPicture(path);
    else
        showNotFound();
}

QString PageView::pageText() const
{
    return m_mode == Mode::Picture ? QString() : m_browser->toPlainText();
}

void PageView::showPage(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        showNotFound();
        return;
    }
    const QByteArray bytes = file.readAll();
    // The page's own <meta charset> decides; pages without one are read as UTF-8.
    QStringDecoder decoder = QStringDecoder::decoderForHtml(bytes);
    if (!decoder.isValid())
        decoder = QStringDecoder(QStringDecoder::Utf8);
    const QString html = decoder.decode(bytes);
    m_browser->clear();
    m_browser->document()->setBaseUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath() + u'/'));
    m_browser->setHtml(html);
    m_mode = Mode::Page;
    m_stack->setCurrentWidget(m_browser);
}

void PageView::showPicture(const QString& path)
{
    const QPixmap picture(path);
    if (picture.isNull()) {
        showNotFound();
        return;
    }
    m_picture->setPixmap(picture);
    m_mode = Mode::Picture;
    m_stack->setCurrentWidget(m_picture);
}

void PageView::showNotFound()
{
    m_browser->clear();
    m_browser->setPlainText(QStringLiteral("ページが見つかりません。"));
    m_mode = Mode::NotFound;
    m_stack->setCurrentWidget(m_browser);
}

#include "moc_PageView.cpp"
