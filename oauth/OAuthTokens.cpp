#include "oauth/OAuthTokens.h"

#include "oauth/RedirectListener.h"
#include "oauth/RefreshTokenStore.h"
#include "settings/PasswordStore.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QUrlQuery>

namespace {

struct Held
{
    QByteArray token;
    QDateTime expires;
};

// Access tokens of this run, by server and user: never written anywhere.
QHash<QString, Held>& held()
{
    static QHash<QString, Held> tokens;
    return tokens;
}

QString heldKey(const QString& server, const QString& user)
{
    return server + u'\n' + user;
}

std::function<bool(const QUrl&)>& browser()
{
    static std::function<bool(const QUrl&)> open = &OAuthTokens::startUrlHandler;
    return open;
}

QByteArray base64Url(const QByteArray& bytes)
{
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray randomText(int bytes)
{
    QByteArray secret(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(secret.data()), bytes / 4);
    return base64Url(secret);
}

// Why a token endpoint's answer gives no access token, empty when it does.
QString tokenProblem(QNetworkReply* reply, const QByteArray& body, const QJsonObject& answer)
{
    if (reply->error() != QNetworkReply::NoError)
        return reply->errorString();
    if (body.size() > OAuthTokens::MaxReplyBytes || answer.value(u"access_token").toString().isEmpty())
        return QStringLiteral("応答が不正です");
    return {};
}

const QString NoKeyring =
    PasswordStore::noKeyringText + QStringLiteral("キーリングに保存したサインインの情報を読み出せません。");

const QString SignInAgain = QStringLiteral(
    "「メールチェック」ボタンまたは「サーバー設定」の「ブラウザでサインイン」でサインインしてください。");

} // namespace

OAuthTokens::OAuthTokens(QObject* parent) : QObject(parent), m_network(std::make_unique<QNetworkAccessManager>())
{
    m_timer.setSingleShot(true);
}

OAuthTokens::~OAuthTokens()
{
    cancel();
}

void OAuthTokens::setBrowser(std::function<bool(const QUrl&)> open)
{
    browser() = std::move(open);
}

bool OAuthTokens::startUrlHandler(const QUrl& url)
{
    const QString handler = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    const QString own = qEnvironmentVariable("BROWSER").section(u':', 0, 0);
    const QString program = handler.isEmpty() ? own : handler;
    return !program.isEmpty() && QProcess::startDetached(program, {url.toString(QUrl::FullyEncoded)});
}

void OAuthTokens::forgetAccessTokens()
{
    held().clear();
}

void OAuthTokens::signOut(const QString& server, const QString& user, QObject* context,
                          std::function<void(const QString&)> done)
{
    forgetAccessTokens();
    RefreshTokenStore::remove(server, user, context, std::move(done));
}

void OAuthTokens::cancel()
{
    ++m_generation;
    m_done = nullptr;
    m_timer.stop();
    m_timer.disconnect();
    closeListener();
    for (QNetworkReply* reply : m_network->findChildren<QNetworkReply*>()) {
        reply->disconnect(this);
        reply->abort();
    }
}

void OAuthTokens::accessToken(const QString& server, const QString& user, bool renew, bool interactive, Done done)
{
    if (!begin(server, user, interactive, std::move(done)))
        return;
    const Held kept = held().value(heldKey(server, user));
    if (!renew && !kept.token.isEmpty() && kept.expires > QDateTime::currentDateTimeUtc().addSecs(60))
        return end({TokenResult::Status::Ok, kept.token, {}, {}});
    held().remove(heldKey(server, user));
    const int generation = m_generation;
    RefreshTokenStore::read(
        server, user, this, [this, generation](const QByteArray& token, const QString& error, bool keyringMissing) {
            if (generation != m_generation)
                return;
            if (!token.isEmpty())
                return refresh(token);
            if (!error.isEmpty())
                return end({TokenResult::Status::Failed, {}, error, {}});
            needSignIn(keyringMissing ? NoKeyring : QStringLiteral("OAuth 2.0でサインインしていません。"));
        });
}

void OAuthTokens::signIn(const QString& server, const QString& user, Done done)
{
    if (begin(server, user, true, std::move(done)))
        startSignIn();
}

// Takes over a request for user at server, ending the one before; false, with done already told,
// when the settings name no provider for the server.
bool OAuthTokens::begin(const QString& server, const QString& user, bool interactive, Done done)
{
    cancel();
    m_server = server;
    m_user = user;
    m_interactive = interactive;
    m_done = std::move(done);
    QString error;
    m_provider = m_keys ? OAuthSettings::provider(server, *m_keys, &error) : OAuthSettings::provider(server, &error);
    if (m_provider)
        return true;
    end({TokenResult::Status::Failed, {}, error, {}});
    return false;
}

void OAuthTokens::needSignIn(const QString& why)
{
    if (m_interactive)
        return startSignIn();
    end({TokenResult::Status::SignInNeeded, {}, why + SignInAgain, {}});
}

// Both requests to the token endpoint are written by hand: Qt 6.4's flow neither tells a refused
// refresh token from a network failure nor lets the redirect's listener be bounded.
QNetworkReply* OAuthTokens::post(const QUrlQuery& form)
{
    QNetworkRequest request(m_provider->tokenUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    request.setTransferTimeout(RequestTimeoutMs);
    // A "+" left as it is would reach a form's reader as a space.
    QNetworkReply* reply =
        m_network->post(request, form.toString(QUrl::FullyEncoded).replace(u'+', QStringLiteral("%2B")).toLatin1());
    reply->setReadBufferSize(MaxReplyBytes + 1);
    return reply;
}

void OAuthTokens::refresh(const QByteArray& refreshToken)
{
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("refresh_token"));
    form.addQueryItem(QStringLiteral("refresh_token"), QString::fromLatin1(refreshToken));
    form.addQueryItem(QStringLiteral("client_id"), m_provider->clientId);
    QNetworkReply* reply = post(form);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onRefreshed(reply); });
}

void OAuthTokens::onRefreshed(QNetworkReply* reply)
{
    reply->deleteLater();
    const QByteArray body = reply->read(MaxReplyBytes + 1);
    const QJsonObject answer = QJsonDocument::fromJson(body).object();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (answer.value(u"error").toString() == u"invalid_grant" && (status == 400 || status == 401)) {
        // Revoked or expired: it is of no use any more, and a new sign-in replaces it.
        const int generation = m_generation;
        RefreshTokenStore::write(m_server, m_user, {}, this, [this, generation](const QString&, const QString&) {
            if (generation == m_generation)
                needSignIn(QStringLiteral("OAuth 2.0のサインインが取り消されたか、期限が切れました。"));
        });
        return;
    }
    const QString why = tokenProblem(reply, body, answer);
    if (!why.isEmpty())
        return end({TokenResult::Status::Failed,
                    {},
                    QStringLiteral("アクセストークンを更新できませんでした（%1）。").arg(why),
                    {}});
    keep(answer.value(u"access_token").toString().toLatin1(), answer.value(u"expires_in").toInteger(3600),
         answer.value(u"refresh_token").toString().toLatin1());
}

// The authorization code flow with PKCE (RFC 7636): the code is of no use to whoever catches it.
void OAuthTokens::startSignIn()
{
    const QByteArray state = randomText(16);
    m_verifier = randomText(32);
    m_listener = new RedirectListener(state, this);
    connect(m_listener, &RedirectListener::redirected, this, &OAuthTokens::onRedirected);
    if (!m_listener->listen())
        return end({TokenResult::Status::SignInNeeded,
                    {},
                    QStringLiteral("サインインの応答を受ける準備ができませんでした。"),
                    {}});
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    query.addQueryItem(QStringLiteral("client_id"), m_provider->clientId);
    query.addQueryItem(QStringLiteral("redirect_uri"), m_listener->redirectUri());
    if (!m_provider->scope.isEmpty())
        query.addQueryItem(QStringLiteral("scope"), m_provider->scope);
    query.addQueryItem(QStringLiteral("state"), QString::fromLatin1(state));
    query.addQueryItem(
        QStringLiteral("code_challenge"),
        QString::fromLatin1(base64Url(QCryptographicHash::hash(m_verifier, QCryptographicHash::Sha256))));
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    QUrl url = m_provider->authorizeUrl;
    QUrlQuery given(url); // a provider's own parameters stay
    for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded))
        given.addQueryItem(key, value);
    url.setQuery(given.query(QUrl::FullyEncoded).replace(u'+', QStringLiteral("%2B")), QUrl::StrictMode);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        stopSignIn(QStringLiteral("ブラウザでのサインインが%1分以内に終わらなかったため、中止しました。")
                       .arg(SignInTimeoutMs / 60000));
    });
    m_timer.start(SignInTimeoutMs);
    setBrowserWaiting(true);
    if (!browser() || !browser()(url))
        stopSignIn(QStringLiteral("ブラウザを開けませんでした。"));
}

// The redirect that carries this sign-in's state: a code to exchange, or the provider's no.
void OAuthTokens::onRedirected(const QUrlQuery& query)
{
    const QString error = query.queryItemValue(QStringLiteral("error"), QUrl::FullyDecoded);
    const QString code = query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
    if (error == u"access_denied") {
        m_listener->answer(RedirectListener::Page::Refused);
        return stopSignIn(QStringLiteral("サインインが許可されませんでした。"));
    }
    if (!error.isEmpty() || code.isEmpty())
        return stopSignIn(QStringLiteral("サインインできませんでした（%1）。")
                              .arg(error.isEmpty() ? u"no code"_qs : error.left(100)));
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("authorization_code"));
    form.addQueryItem(QStringLiteral("code"), code);
    form.addQueryItem(QStringLiteral("redirect_uri"), m_listener->redirectUri());
    form.addQueryItem(QStringLiteral("client_id"), m_provider->clientId);
    form.addQueryItem(QStringLiteral("code_verifier"), QString::fromLatin1(m_verifier));
    QNetworkReply* reply = post(form);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        const QByteArray body = reply->read(MaxReplyBytes + 1);
        const QJsonObject answer = QJsonDocument::fromJson(body).object();
        if (const QString why = tokenProblem(reply, body, answer); !why.isEmpty())
            return stopSignIn(QStringLiteral("サインインの結果を受け取れませんでした（%1）。").arg(why));
        m_listener->answer(RedirectListener::Page::SignedIn);
        keep(answer.value(u"access_token").toString().toLatin1(), answer.value(u"expires_in").toInteger(3600),
             answer.value(u"refresh_token").toString().toLatin1());
    });
}

// Ends the browser sign-in with why; the browser's page says it failed unless it was told otherwise.
void OAuthTokens::stopSignIn(const QString& why)
{
    end({TokenResult::Status::SignInNeeded, {}, why + SignInAgain, {}});
}

void OAuthTokens::closeListener()
{
    if (m_listener) {
        m_listener->answer(RedirectListener::Page::Failed); // nothing when it was answered already
        m_listener->disconnect(this);
        m_listener->deleteLater(); // its signal may be the one being handled
        m_listener = nullptr;
    }
    setBrowserWaiting(false);
}

void OAuthTokens::setBrowserWaiting(bool waiting)
{
    if (std::exchange(m_browserWaiting, waiting) != waiting)
        Q_EMIT browserWaitingChanged(waiting);
}

void OAuthTokens::keep(const QByteArray& accessToken, qint64 expiresInSeconds, const QByteArray& refreshToken)
{
    m_timer.stop();
    held().insert(heldKey(m_server, m_user), {accessToken, QDateTime::currentDateTimeUtc().addSecs(expiresInSeconds)});
    if (refreshToken.isEmpty())
        return end({TokenResult::Status::Ok, accessToken, {}, {}});
    const int generation = m_generation;
    RefreshTokenStore::write(m_server, m_user, refreshToken, this,
                             [this, generation, accessToken](const QString& error, const QString& notice) {
                                 if (generation == m_generation)
                                     end({TokenResult::Status::Ok, accessToken, {}, error.isEmpty() ? notice : error});
                             });
}

// done runs on the next turn of the event loop, never inside the caller's call or the flow's signal.
void OAuthTokens::end(TokenResult result)
{
    if (!m_done)
        return;
    Done done = std::exchange(m_done, nullptr);
    m_timer.stop();
    closeListener();
    const int generation = ++m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, done, result, generation] {
            if (generation == m_generation)
                done(result);
        },
        Qt::QueuedConnection);
}
