#include "platform/ExternalBrowser.h"

#include <QDesktopServices>
#include <QUrl>

namespace {
std::function<bool(const QUrl&)>& opener()
{
    static std::function<bool(const QUrl&)> override;
    return override;
}
} // namespace

bool openInBrowser(const QString& path)
{
    const QUrl url = QUrl::fromLocalFile(path);
    if (opener())
        return opener()(url);
    return QDesktopServices::openUrl(url);
}

void setBrowserOpener(std::function<bool(const QUrl&)> newOpener)
{
    opener() = std::move(newOpener);
}
