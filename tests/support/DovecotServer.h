#pragma once

#include "Prerequisite.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QSslCertificate>
#include <QString>
#include <QTemporaryDir>

// A real Dovecot POP3 server on 127.0.0.1 for tests, with its own configuration, state, log and
// Maildirs in a temporary folder (never the system's). One plain port (STLS offered) and one
// POP3S port, both free ports chosen at start, a self-signed certificate for "localhost",
// 127.0.0.1 and ::1, APOP enabled and failed logins not delayed. Stopped by its PID when the
// object is destroyed. Meant to be started once per test executable: stopping takes a second.
class DovecotServer
{
public:
    ~DovecotServer() { stop(); }

    // Path of the Dovecot binary, or empty when it is not installed and a test may skip. Under CI
    // a missing Dovecot is a failure: the path is given all the same and start() fails, saying so.
    static QString binary();

    // Before start(): logins take only OAuth 2.0 tokens by mechanisms (Dovecot's names), each token
    // checked at introspectionUrl; passwords are then refused.
    void takeTokens(const QString& mechanisms, const QString& introspectionUrl)
    {
        m_mechanisms = mechanisms;
        m_introspection = introspectionUrl;
    }
    // Starts the server and waits until it greets; false with errorText() on failure.
    bool start();
    void stop();
    QString errorText() const { return m_error; }

    quint16 port() const { return m_port; } // the benchmarks talk to the ports themselves
    quint16 tlsPort() const { return m_tlsPort; }
    // Server names in the forms the client accepts: "127.0.0.1:port", "pop3s://127.0.0.1:port".
    QString plainServer() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QString tlsServer() const { return QStringLiteral("pop3s://127.0.0.1:%1").arg(m_tlsPort); }
    // The self-signed certificate the server presents.
    QSslCertificate certificate() const { return m_certificate; }

    // Adds a user with an empty Maildir (takes effect at once). Names are plain ASCII words.
    bool addUser(const QString& user, const QString& password);
    // Delivers a whole message (header, blank line, body) to the end of user's mailbox.
    bool deliver(const QString& user, const QByteArray& message);
    // The messages left in user's Maildir, in delivery order.
    QList<QByteArray> messages(const QString& user) const;
    // The server's log, for failure reports.
    QString log() const;

private:
    QString prepare();
    QString path(const QString& relative) const { return m_dir.filePath(relative); }
    QString maildir(const QString& user) const { return path("mail/" + user); }

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
    QSslCertificate m_certificate;
    int m_delivered = 0;
    QString m_error;
    QString m_mechanisms, m_introspection;
};

// For initTestCase() of a test that needs the server: skips without Dovecot, fails under CI.
#define MOSSVALE_REQUIRE_DOVECOT() MOSSVALE_REQUIRE(!DovecotServer::binary().isEmpty(), "dovecot (/usr/sbin/dovecot)")
