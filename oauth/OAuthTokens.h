#pragma once

#include "oauth/OAuthSettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QUrlQuery;
class RedirectListener;

// The outcome of asking for an access token.
struct TokenResult
{
    enum class Status { Ok, SignInNeeded, Failed };
    Status status = Status::Failed;
    QByteArray accessToken;
    QString error;  // why not, in Japanese
    QString notice; // where the refresh token went, when not to the keyring
};

// OAuth 2.0 access tokens for one account. The access token stays in this process's memory only,
// until a minute before it expires; the refresh token is kept by RefreshTokenStore. A sign-in runs
// the authorization code flow with PKCE (S256) in the system browser, the answer coming back to a
// loopback redirect on 127.0.0.1 at a port chosen at random (RFC 8252); Qt checks the state.
// Nothing waits: every answer comes through done, once, later.
class OAuthTokens : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void(const TokenResult& result)>;

    // How long the browser sign-in may take, and each request to the token endpoint.
    static constexpr int SignInTimeoutMs = 5 * 60 * 1000;
    static constexpr int RequestTimeoutMs = 20000;
    // A token endpoint's answer larger than this is not read.
    static constexpr qint64 MaxReplyBytes = 64 * 1024;

    explicit OAuthTokens(QObject* parent = nullptr);
    ~OAuthTokens() override;

    // An access token for user at server: the one in memory while fresh (unless renew), else one
    // renewed with the stored refresh token; when there is none or the provider refused it, a
    // sign-in through the browser if interactive, else SignInNeeded. A refused refresh token is
    // forgotten. One request at a time: a new one cancels the last, whose done never runs.
    void accessToken(const QString& server, const QString& user, bool renew, bool interactive, Done done);
    // Signs in through the browser even when a token is kept (the settings window's button).
    void signIn(const QString& server, const QString& user, Done done);
    // The provider keys of an account other than the first; without them section "Mossvale" has them.
    void setKeys(const std::optional<OAuthKeys>& keys) { m_keys = keys; }
    // Ends what is under way; its done never runs. A browser sign-in's listener closes at once.
    void cancel();
    // True while a sign-in waits for the browser's redirect (and then the token for its code).
    bool isBrowserWaiting() const { return m_browserWaiting; }

    // How the browser opens a page, true when it started; the default is startUrlHandler.
    static void setBrowser(std::function<bool(const QUrl& url)> open);
    // Starts the desktop's URL handler on url without waiting for it: xdg-open, or $BROWSER where it is
    // missing. True when it started.
    static bool startUrlHandler(const QUrl& url);
    // Forgets the access tokens held in memory.
    static void forgetAccessTokens();
    // Signs user at server out: the access tokens in memory and the stored refresh token are gone.
    // done gets an empty text, or what still holds the token; it runs later, and not once context is gone.
    static void signOut(const QString& server, const QString& user, QObject* context,
                        std::function<void(const QString& error)> done);

Q_SIGNALS:
    // A browser sign-in began to wait for the user (true), or ended, whichever way (false).
    void browserWaitingChanged(bool waiting);

private:
    QNetworkReply* post(const QUrlQuery& form);
    void refresh(const QByteArray& refreshToken);
    void onRefreshed(QNetworkReply* reply);
    void startSignIn();
    void onRedirected(const QUrlQuery& query);
    void stopSignIn(const QString& why);
    void closeListener();
    void setBrowserWaiting(bool waiting);
    void keep(const QByteArray& accessToken, qint64 expiresInSeconds, const QByteArray& refreshToken);
    bool begin(const QString& server, const QString& user, bool interactive, Done done);
    void end(TokenResult result);
    void needSignIn(const QString& why);

    QString m_server;
    QString m_user;
    bool m_interactive = false;
    Done m_done;
    std::optional<OAuthKeys> m_keys;
    std::optional<OAuthProvider> m_provider;
    std::unique_ptr<QNetworkAccessManager> m_network;
    RedirectListener* m_listener = nullptr; // while a browser sign-in runs
    QByteArray m_verifier;                  // its PKCE secret
    bool m_browserWaiting = false;
    QTimer m_timer;
    int m_generation = 0; // answers of a cancelled request are dropped
};
