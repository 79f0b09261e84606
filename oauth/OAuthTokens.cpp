#include "oauth/OAuthTokens.h"

#include "oauth/RefreshTokenStore.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>
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

void OAuthTokens::cancel()
{
    ++m_generation;
    m_done = nullptr;
    m_timer.stop();
    m_timer.disconnect();
    disconnect(m_tokenReplies);
    if (m_flow)
        m_flow.release()->deleteLater(); // its signal may be the one being handled
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
    RefreshTokenStore::read(server, user, this, [this, generation](const QByteArray& token, const QString& error) {
        if (generation != m_generation)
            return;
        if (!token.isEmpty())
            return refresh(token);
        if (!error.isEmpty())
            return end({TokenResult::Status::Failed, {}, error, {}});
        needSignIn(QStringLiteral("OAuth 2.0でサインインしていません。"));
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
    m_provider = OAuthSettings::provider(server, &error);
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

// Written by hand rather than through the flow: Qt 6.4's flow does not tell a refused refresh token
// from a network failure, and only the first means the user must sign in again.
void OAuthTokens::refresh(const QByteArray& refreshToken)
{
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("refresh_token"));
    form.addQueryItem(QStringLiteral("refresh_token"), QString::fromLatin1(refreshToken));
    form.addQueryItem(QStringLiteral("client_id"), m_provider->clientId);
    QNetworkRequest request(m_provider->tokenUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    request.setTransferTimeout(RequestTimeoutMs);
    QNetworkReply* reply = m_network->post(request, form.toString(QUrl::FullyEncoded).toLatin1());
    reply->setReadBufferSize(MaxReplyBytes + 1);
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
    const QByteArray token = answer.value(u"access_token").toString().toLatin1();
    if (reply->error() != QNetworkReply::NoError || body.size() > MaxReplyBytes || token.isEmpty()) {
        const QString why =
            reply->error() != QNetworkReply::NoError ? reply->errorString() : QStringLiteral("応答が不正です");
        return end({TokenResult::Status::Failed,
                    {},
                    QStringLiteral("アクセストークンを更新できませんでした（%1）。").arg(why),
                    {}});
    }
    keep(token, answer.value(u"expires_in").toInteger(3600), answer.value(u"refresh_token").toString().toLatin1());
}

void OAuthTokens::startSignIn()
{
    m_flow = std::make_unique<QOAuth2AuthorizationCodeFlow>(m_network.get());
    auto* handler = new QOAuthHttpServerReplyHandler(QHostAddress(QHostAddress::LocalHost), 0, m_flow.get());
    if (!handler->isListening())
        return end({TokenResult::Status::SignInNeeded,
                    {},
                    QStringLiteral("サインインの応答を受ける準備ができませんでした。"),
                    {}});
    handler->setCallbackText(QStringLiteral("サインインしました。このページを閉じて、Mossvaleに戻ってください。"));
    m_flow->setReplyHandler(handler);
    m_flow->setAuthorizationUrl(m_provider->authorizeUrl);
    m_flow->setAccessTokenUrl(m_provider->tokenUrl);
    m_flow->setClientIdentifier(m_provider->clientId);
    m_flow->setScope(m_provider->scope);
    // PKCE (RFC 7636), which Qt 6.4 does not add itself: the code is of no use to whoever catches it.
    QByteArray secret(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(secret.data()), secret.size() / 4);
    const QByteArray verifier = base64Url(secret);
    const QByteArray challenge = base64Url(QCryptographicHash::hash(verifier, QCryptographicHash::Sha256));
    m_flow->setModifyParametersFunction(
        [verifier, challenge](QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant>* parameters) {
            if (stage == QAbstractOAuth::Stage::RequestingAuthorization) {
                parameters->insert(QStringLiteral("code_challenge"), challenge);
                parameters->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
            } else if (stage == QAbstractOAuth::Stage::RequestingAccessToken) {
                parameters->insert(QStringLiteral("code_verifier"), verifier);
            }
        });
    const auto stop = [this](const QString& why) {
        end({TokenResult::Status::SignInNeeded, {}, why + SignInAgain, {}});
    };
    connect(m_flow.get(), &QAbstractOAuth::authorizeWithBrowser, this, [stop](const QUrl& url) {
        if (!browser() || !browser()(url))
            stop(QStringLiteral("ブラウザを開けませんでした。"));
    });
    connect(m_flow.get(), &QAbstractOAuth::granted, this, &OAuthTokens::onGranted);
    connect(m_flow.get(), &QAbstractOAuth2::error, this, [stop](const QString& error, const QString&, const QUrl&) {
        stop(error == u"access_denied" ? QStringLiteral("サインインが許可されませんでした。")
                                       : QStringLiteral("サインインできませんでした（%1）。").arg(error.left(100)));
    });
    // The flow reads a failed token request without a word: its reply says it.
    m_tokenReplies =
        connect(m_network.get(), &QNetworkAccessManager::finished, this, [this, stop](QNetworkReply* reply) {
            if (m_flow && reply->error() != QNetworkReply::NoError && reply->url() == m_provider->tokenUrl)
                stop(QStringLiteral("サインインの結果を受け取れませんでした（%1）。").arg(reply->errorString()));
        });
    connect(&m_timer, &QTimer::timeout, this, [stop] {
        stop(QStringLiteral("ブラウザでのサインインが%1分以内に終わらなかったため、中止しました。")
                 .arg(SignInTimeoutMs / 60000));
    });
    m_timer.start(SignInTimeoutMs);
    m_flow->grant();
}

void OAuthTokens::onGranted()
{
    const qint64 expiresIn =
        m_flow->expirationAt().isValid() ? QDateTime::currentDateTimeUtc().secsTo(m_flow->expirationAt()) : 3600;
    keep(m_flow->token().toLatin1(), expiresIn, m_flow->refreshToken().toLatin1());
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
    const int generation = ++m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, done, result, generation] {
            if (generation == m_generation)
                done(result);
        },
        Qt::QueuedConnection);
}
