#pragma once

#include "maillib/Pop3Options.h"

#include <QObject>
#include <QString>
#include <memory>

class Pop3Session;

// The account window's 「接続テスト」: opens a session, logs in (or, for a token sign-in, only
// connects) and says goodbye with QUIT, so nothing is deleted. One test at a time; finished() comes
// once per start(), never from inside it. A password that would go in plain text to a host not on
// this machine is not sent: the test ends refused, with the reason, and nobody is asked.
class ConnectionTest : public QObject
{
    Q_OBJECT
public:
    // options: the session's tunables; the trust file of the data folder is added to them at each start.
    explicit ConnectionTest(const Pop3Options& options = Pop3Options(), QObject* parent = nullptr);
    ~ConnectionTest() override;

    // password is ignored when tokenSignIn: the token is fetched by a check, never by a test.
    void start(const QString& server, const QString& user, const QString& password, bool apop, bool tokenSignIn);
    // Drops the connection without QUIT; no finished() follows.
    void abort();
    bool isRunning() const { return m_session != nullptr; }

Q_SIGNALS:
    void finished(bool ok, const QString& text);

private:
    void onOpened();
    void end(bool ok, const QString& text);

    Pop3Options m_options;
    std::unique_ptr<Pop3Session> m_session;
    QString m_user, m_password;
    bool m_apop = false;
    bool m_tokenSignIn = false;
};
