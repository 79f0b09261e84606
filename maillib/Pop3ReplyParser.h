#pragma once

#include <QByteArray>
#include <deque>

// One reply of a POP3 server: the status line and, for a multi-line reply, its body with the
// terminating dot removed and dot-stuffing undone. Body lines end in CR LF.
struct Pop3Reply
{
    bool ok = false;        // "+OK" (true) or "-ERR" (false)
    QByteArray statusText;  // the status line without its indicator and the following space
    QByteArray body;        // only for multi-line replies that were "+OK"
    bool truncated = false; // a body line or the body itself was cut to the parser's bounds
    // A SASL continuation ("+ " and the server's challenge in statusText): the exchange goes on,
    // and the same request will be answered again.
    bool continuation = false;
};

// Turns the byte stream of a POP3 server into replies, independent of any socket, so that any
// chunking (a byte at a time, a reply split anywhere, many replies in one read) gives the same
// result. The caller announces each reply it expects with expect(), in request order, saying
// whether a "+OK" to it carries a multi-line body; "-ERR" never does.
//
// Memory is bounded: a status line longer than maxLineLength is a protocol error; body lines
// beyond maxLineLength and bodies beyond maxBodyLength are cut (the reply is marked truncated)
// while the rest is read and dropped, so the stream stays in step with the requests.
class Pop3ReplyParser
{
public:
    enum class Error { None, StatusLineTooLong, BadStatusLine, UnexpectedData };

    static constexpr qsizetype DefaultMaxLineLength = 64 * 1024;
    static constexpr qsizetype DefaultMaxBodyLength = 1024 * 1024;

    explicit Pop3ReplyParser(qsizetype maxLineLength = DefaultMaxLineLength,
                             qsizetype maxBodyLength = DefaultMaxBodyLength);

    // Announces the next reply; multiLine says whether "+OK" to it is followed by a body, whose
    // bound is maxBody (0: the parser's own); continuations whether "+ " may answer it (an AUTH
    // exchange), in which case that reply is delivered and the request stays expected.
    void expect(bool multiLine, qsizetype maxBody = 0, bool continuations = false);
    // Adds bytes received from the server.
    void feed(const QByteArray& bytes);
    // The oldest complete reply, if there is one; returns false otherwise.
    bool takeReply(Pop3Reply* reply);

    Error error() const { return m_error; }
    // Number of announced replies that are not complete yet.
    int pendingCount() const { return int(m_expected.size()); }
    // Complete replies not taken yet.
    int readyCount() const { return int(m_ready.size()); }
    // Bytes received but not yet part of a complete reply.
    qsizetype bufferedBytes() const { return m_buffer.size() - m_pos; }

private:
    void process();
    bool nextLine(QByteArray* line, bool* cut);
    void handleLine(const QByteArray& line, bool cut);
    void handleStatusLine(const QByteArray& line);
    void handleBodyLine(const QByteArray& line, bool cut);
    void finishReply();

    qsizetype m_maxLine;
    qsizetype m_maxBody;
    QByteArray m_buffer;
    qsizetype m_pos = 0;       // start of the unconsumed bytes
    qsizetype m_scan = 0;      // where the search for the next LF resumes
    bool m_discarding = false; // dropping the rest of an over-long body line
    QByteArray m_lineHead;     // kept start of that line
    struct Expected
    {
        bool multiLine;
        qsizetype maxBody;
        bool continuations;
    };
    std::deque<Expected> m_expected;
    bool m_inBody = false;
    Pop3Reply m_current;
    std::deque<Pop3Reply> m_ready;
    Error m_error = Error::None;
};
