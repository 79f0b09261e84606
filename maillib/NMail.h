#pragma once

#include <QString>

// The flat entry points through which the check cycle talks to the mail library. Handles are
// small positive numbers; -1 means no session. Texts are returned as QString out-parameters
// (the caller still cuts them at the first NUL). All calls block the calling thread, each wait
// bounded by the time-outs of Pop3Session::defaultOptions() (10 s to connect, 20 s per reply).

// Prepares the library; call once before anything else. Returns 0.
int NMailInitializeWinSock();
// Releases the library: every session still open is dropped without QUIT. Returns 0.
int NMailEndWinSock();
// Option 1 is the size of the caller's text buffers in cp932 bytes, NUL included: texts
// returned later are cut so that they would fit. Returns 0, or -1 for an unknown option.
int NMailSetOption(int option, int value);
// Connects to server (forms: "host", "host:port", "pop3s://host[:port]"). Returns a handle or -1.
// A TLS connection whose certificate fails verification still gives a handle, whose login then
// fails with the reason, so that the user learns why.
int NMailPop3Connect(const QString& server);
// Logs in (apop: -1 = APOP, 0 = USER/PASS). Returns the number of messages, 0 for an empty
// mailbox, or a negative value on failure (the reason through NMailGetMessage).
int NMailPop3Authenticate(int handle, const QString& user, const QString& password, int apop);
// Fills subject, date, sender (display name and address) and the raw header block of message
// number. Returns 0, or a negative value when the headers could not be had; the four texts are
// then emptied and the reason is left for NMailGetMessage.
int NMailPop3GetMailStatus(int handle, int number, QString& subject, QString& date, QString& sender, QString& header,
                           int flag);
// Deletes message number when the session is closed. Returns 0, or -1 when it cannot be asked.
int NMailPop3DeleteMail(int handle, int number);
// The text of the last failure. which is ignored; size receives the text's length in cp932
// bytes (at most the buffer size set with option 1, NUL included). Returns 0.
int NMailGetMessage(int which, QString& text, int& size);
// Ends the session with QUIT so that its deletions take effect, and frees the handle. Returns 0
// when the server confirmed, -1 otherwise.
int NMailPop3Close(int handle);
