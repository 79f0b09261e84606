#include "maillib/Pop3Error.h"

#include "maillib/Pop3Texts.h"

namespace {

QString sentence(const Pop3Error& error)
{
    namespace T = Pop3Texts;
    using C = Pop3Error::Code;
    const QString& d = error.detail;
    const int n = error.number;
    // clang-format off
    switch (error.code) {
    case C::None: return {};
    case C::BadServerName: return T::badServerName(d);
    case C::HostNotFound: return T::hostNotFound(d);
    case C::ConnectFailed: return T::connectFailed(d);
    case C::ConnectionRefused: return T::connectionRefused(d);
    case C::ConnectTimeout: return T::connectTimeout(n);
    case C::ReplyTimeout: return T::replyTimeout(n);
    case C::CheckTimeout: return T::checkTimeout(n);
    case C::Cancelled: return T::cancelled;
    case C::Disconnected: return T::disconnected;
    case C::LineTooLong: return T::lineTooLong;
    case C::BadReply: return T::badReply;
    case C::GreetingRefused: return T::greetingRefused;
    case C::CertificateRejected: return T::certificateRejected(d);
    case C::CertificateChanged: return T::certificateChanged(d);
    case C::PlainTextRefused: return T::plainTextRefused(d);
    case C::EncryptionLost: return T::encryptionLost(d);
    case C::TlsFailed: return T::tlsFailed + QStringLiteral("（%1）").arg(d);
    case C::StlsRefused: return T::stlsRefused;
    case C::StlsInjection: return T::stlsInjection;
    case C::ApopUnsupported: return T::apopUnsupported;
    case C::LineBreakInAccount: return T::lineBreakInAccount;
    case C::TokenNeedsTls: return T::tokenNeedsTls(d);
    case C::BadToken: return T::badToken;
    case C::NoTokenMechanism: return T::noTokenMechanism;
    case C::TokenRefused: return T::tokenRefused;
    case C::SaslEndless: return T::saslEndless(n);
    case C::LoginFailed: return T::loginFailed;
    case C::LoginInUse: return T::loginInUse;
    case C::LoginDelay: return T::loginDelay;
    case C::LoginSysTemp: return T::loginSysTemp;
    case C::LoginSysPerm: return T::loginSysPerm;
    case C::SilentAfterLogin: return T::silentAfterLogin;
    case C::StatFailed: return T::statFailed;
    case C::ListInconsistent: return T::listInconsistent;
    case C::NotLoggedIn: return T::notLoggedIn;
    case C::NumberOutOfRange: return T::numberOutOfRange(n);
    case C::HeaderTooLarge: return T::headerTooLarge(n);
    case C::TopFailed: return T::topFailed(n);
    case C::RetrFailed: return T::retrFailed(n);
    case C::DeleteFailed: return T::deleteFailed(n);
    case C::QuitFailed: return T::quitFailed;
    case C::OutOfStep: return T::outOfStep;
    case C::CommitRefused: return d;
    }
    // clang-format on
    return T::badReply; // a code from a newer build: still a failure, never an empty text
}

} // namespace

// The one table of the session's texts: each kind's sentence once, what follows it in one way.
QString Pop3Error::text() const
{
    QString text = sentence(*this);
    if (!reasons.isEmpty())
        text += u'\n' + Pop3Texts::reasonSaid + reasons;
    if (!serverReply.isEmpty())
        text += u'\n' + Pop3Texts::serverSaid + serverReply;
    return text;
}
