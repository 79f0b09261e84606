#include "oauth/OAuthSettings.h"

#include "maillib/Pop3Address.h"
#include "platform/IniProfile.h"
#include "settings/ProgramFolder.h"
#include "settings/SettingsFiles.h"

namespace {

QString read(const QString& key)
{
    return IniProfile::readText(Paths::generalSettingsFile(), AddedSection, key, QString()).trimmed();
}

// Only https leaves this machine: a token endpoint over plain http would hand the tokens to the path.
bool usable(const QUrl& url)
{
    return url.isValid() && (url.scheme() == u"https" || (url.scheme() == u"http" && url.host() == u"127.0.0.1"));
}

} // namespace

namespace OAuthSettings {

SignInMethod signIn()
{
    return read(QStringLiteral("SignIn")).compare(u"oauth2", Qt::CaseInsensitive) == 0 ? SignInMethod::OAuth2
                                                                                       : SignInMethod::Password;
}

QString saveSignIn(SignInMethod method)
{
    const QString file = Paths::generalSettingsFile();
    const QString error =
        IniProfile::writeText(file, AddedSection, QStringLiteral("SignIn"),
                              method == SignInMethod::OAuth2 ? QStringLiteral("oauth2") : QStringLiteral("password"));
    return error.isEmpty() ? QString() : QStringLiteral("ファイル「%1」に保存できませんでした。\n%2").arg(file, error);
}

std::optional<OAuthProvider> provider(const QString& pop3Server, QString* error)
{
    return provider(pop3Server,
                    {read(QStringLiteral("OAuthClientId")), read(QStringLiteral("OAuthAuthorizeUrl")),
                     read(QStringLiteral("OAuthTokenUrl")), read(QStringLiteral("OAuthScope"))},
                    error);
}

std::optional<OAuthProvider> provider(const QString& pop3Server, const OAuthKeys& keys, QString* error)
{
    OAuthProvider provider{QUrl(keys.authorizeUrl.trimmed()), QUrl(keys.tokenUrl.trimmed()), keys.scope.trimmed(),
                           keys.clientId.trimmed()};
    if (provider.clientId.isEmpty())
        provider.clientId = QStringLiteral(MOSSVALE_OAUTH_CLIENT_ID);
    if (provider.authorizeUrl.isEmpty() && provider.tokenUrl.isEmpty()) {
        const QString host = Pop3Address::parse(pop3Server).host.toLower();
        if (host == u"pop.gmail.com") {
            provider.authorizeUrl = QUrl(QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth"));
            provider.tokenUrl = QUrl(QStringLiteral("https://oauth2.googleapis.com/token"));
            provider.scope = QStringLiteral("https://mail.google.com/");
        } else if (host == u"outlook.office365.com") {
            provider.authorizeUrl =
                QUrl(QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/authorize"));
            provider.tokenUrl = QUrl(QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token"));
            provider.scope = QStringLiteral("https://outlook.office.com/POP.AccessAsUser.All offline_access");
        }
    }
    if (!usable(provider.authorizeUrl) || !usable(provider.tokenUrl)) {
        *error = QStringLiteral("このサーバーのOAuth 2.0の設定がありません。ini.iniの[Mossvale]に"
                                "OAuthAuthorizeUrl=、OAuthTokenUrl=（https）、OAuthScope=を書いてください。");
        return std::nullopt;
    }
    if (provider.clientId.isEmpty()) {
        *error = QStringLiteral(
            "OAuth 2.0のクライアントIDがありません。ini.iniの[Mossvale]にOAuthClientId=を書いてください。");
        return std::nullopt;
    }
    return provider;
}

} // namespace OAuthSettings
