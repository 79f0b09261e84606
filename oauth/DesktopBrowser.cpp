#include "oauth/DesktopBrowser.h"

#include "oauth/OAuthTokens.h"

#include <QDesktopServices>
#include <QUrl>

void useDesktopBrowserForSignIn()
{
    OAuthTokens::setBrowser(
        [](const QUrl& url) { return QDesktopServices::openUrl(url) || OAuthTokens::startUrlHandler(url); });
}
