#pragma once

#include <QObject>
#include <QString>

// What went wrong in a POP3 session, as a value: a kind and what the kind's text names. The
// Japanese text is made from it in one place, text(); callers and tests compare kinds.
struct Pop3Error
{
    Q_GADGET
public:
    enum class Code {
        None,
        // Reaching the server.
        BadServerName,     // detail: the server name as given
        HostNotFound,      // detail: host
        ConnectFailed,     // detail: the system's reason
        ConnectionRefused, // detail: host
        ConnectTimeout,    // number: seconds
        ReplyTimeout,      // number: seconds
        CheckTimeout,      // number: seconds
        Cancelled,
        Disconnected,
        LineTooLong,
        BadReply,
        GreetingRefused,
        // Keeping the password safe.
        CertificateRejected, // detail: host; reasons
        CertificateChanged,  // detail: host; reasons
        PlainTextRefused,    // detail: host
        EncryptionLost,      // detail: host
        TlsFailed,           // detail: the system's reason
        StlsRefused,
        StlsInjection,
        // The login.
        ApopUnsupported,
        LineBreakInAccount,
        TokenNeedsTls, // detail: host
        BadToken,
        NoTokenMechanism,
        TokenRefused,
        SaslEndless, // number: challenges
        LoginFailed,
        LoginInUse,
        LoginDelay,
        LoginSysTemp,
        LoginSysPerm,
        SilentAfterLogin,
        StatFailed,
        ListInconsistent,
        // Messages and the end.
        NotLoggedIn,
        NumberOutOfRange, // number: the message
        HeaderTooLarge,   // number: the message
        TopFailed,        // number: the message
        RetrFailed,       // number: the message
        DeleteFailed,     // number: the message
        QuitFailed,
        OutOfStep,
        CommitRefused, // detail: the caller's reason, as the caller wrote it
    };
    Q_ENUM(Code)

    Code code = Code::None;
    // Each with an initializer, so that a designated initializer may leave any of them out.
    QString detail = {};      // see Code
    int number = 0;           // see Code
    QString reasons = {};     // why a certificate failed, sentences of their own
    QString serverReply = {}; // the server's own line, clean of control characters; empty when none

    bool isNone() const { return code == Code::None; }
    // The Japanese text for the user: the kind's sentence, then the reasons or the server's line.
    QString text() const;
    bool operator==(const Pop3Error&) const = default;
};
