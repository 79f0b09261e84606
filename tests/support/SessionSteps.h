#pragma once

#include "maillib/Pop3Session.h"

#include <QTest>

// Drives a Pop3Session one step at a time from a test: each call starts the step and runs the
// test's event loop until the step's ending signal (or limitMs). Only tests wait like this.
namespace SessionSteps {

// Runs the event loop until the session leaves the states given as busy.
inline bool settle(Pop3Session& session, std::initializer_list<Pop3Session::State> busy, int limitMs = 30000)
{
    return QTest::qWaitFor([&] { return std::find(busy.begin(), busy.end(), session.state()) == busy.end(); }, limitMs);
}

// True when the session opened (Ready); AwaitingConsent and Failed give false.
inline bool open(Pop3Session& session, const QString& server)
{
    using S = Pop3Session::State;
    session.open(server);
    settle(session, {S::Idle, S::Connecting, S::Greeting, S::Capabilities, S::StartingTls});
    return session.state() == S::Ready;
}

// The message count, or -1 when the login failed.
inline int login(Pop3Session& session, const QString& user, const QString& password, bool apop = false)
{
    session.login(user, password, apop);
    settle(session, {Pop3Session::State::Ready, Pop3Session::State::Authenticating, Pop3Session::State::Authorizing});
    return session.state() == Pop3Session::State::Transaction ? session.messageCount() : -1;
}

// True when the server confirmed the end of the session.
inline bool close(Pop3Session& session)
{
    using S = Pop3Session::State;
    session.close();
    settle(session, {S::Ready, S::AwaitingConsent, S::Transaction, S::Verifying, S::Quitting});
    return session.state() == S::Closed;
}

} // namespace SessionSteps
