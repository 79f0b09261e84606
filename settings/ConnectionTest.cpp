#include "settings/ConnectionTest.h"

#include "maillib/Pop3Session.h"
#include "settings/ProgramFolder.h"

#include <QDir>

ConnectionTest::ConnectionTest(const Pop3Options& options, QObject* parent) : QObject(parent), m_options(options) {}

ConnectionTest::~ConnectionTest() = default;

void ConnectionTest::start(const QString& server, const QString& user, const QString& password, bool apop,
                           bool tokenSignIn)
{
    abort();
    Pop3Options options = m_options;
    // The same hosts are trusted, and the same refused, as for a check.
    if (const QString error = options.trust.load(QDir(Paths::dataFolder()).filePath(QStringLiteral("tls.tsv")));
        !error.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this, error] { Q_EMIT finished(false, error); }, Qt::QueuedConnection);
        return;
    }
    m_user = user;
    m_password = password;
    m_apop = apop;
    m_tokenSignIn = tokenSignIn;
    m_session = std::make_unique<Pop3Session>(options);
    Pop3Session* session = m_session.get();
    connect(session, &Pop3Session::opened, this, &ConnectionTest::onOpened);
    connect(session, &Pop3Session::consentNeeded, this, [this] {
        end(false,
            QStringLiteral("このサーバーは暗号化されていないため、パスワードを送らずにテストを中止しました。"
                           "「SSL/TLS（POP3S）で接続する」を選ぶか、サーバーがSTLSに対応しているか確かめてください。"));
    });
    connect(session, &Pop3Session::loggedIn, this, [session](int) { session->close(); });
    connect(session, &Pop3Session::closed, this, [this] {
        end(true,
            m_tokenSignIn
                ? QStringLiteral("サーバーに接続できました。OAuth 2.0 のサインインはメールチェックの時に行います。")
                : QStringLiteral("サーバーにログインできました。"));
    });
    connect(session, &Pop3Session::failed, this, [this, session] {
        end(false,
            session->errorText().isEmpty() ? QStringLiteral("サーバーに接続できませんでした。") : session->errorText());
    });
    session->open(server);
}

void ConnectionTest::onOpened()
{
    if (m_tokenSignIn)
        return m_session->close(); // before the login, close() only says goodbye
    m_session->login(m_user, m_password, m_apop);
}

void ConnectionTest::end(bool ok, const QString& text)
{
    abort();
    Q_EMIT finished(ok, text);
}

void ConnectionTest::abort()
{
    m_password.clear();
    if (!m_session)
        return;
    m_session->disconnect(this);
    m_session->abort();
    // The session may be the sender of the signal being handled: it goes once control is back.
    m_session.release()->deleteLater();
}
