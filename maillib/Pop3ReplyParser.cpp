#include "maillib/Pop3ReplyParser.h"

Pop3ReplyParser::Pop3ReplyParser(qsizetype maxLineLength, qsizetype maxBodyLength)
    : m_maxLine(maxLineLength), m_maxBody(maxBodyLength)
{}

void Pop3ReplyParser::expect(bool multiLine, qsizetype maxBody, bool continuations)
{
    m_expected.push_back({multiLine, maxBody > 0 ? maxBody : m_maxBody, continuations});
    process();
}

void Pop3ReplyParser::feed(const QByteArray& bytes)
{
    if (m_error != Error::None)
        return;
    m_buffer.append(bytes);
    process();
}

bool Pop3ReplyParser::takeReply(Pop3Reply* reply)
{
    if (m_ready.empty())
        return false;
    *reply = std::move(m_ready.front());
    m_ready.pop_front();
    return true;
}

void Pop3ReplyParser::process()
{
    QByteArray line;
    bool cut = false;
    while (m_error == Error::None && !m_expected.empty() && nextLine(&line, &cut))
        handleLine(line, cut);
    if (m_error == Error::None && m_expected.empty() && bufferedBytes() > m_maxLine)
        m_error = Error::UnexpectedData; // a flood nobody asked for
    if (m_pos > 0 && (m_pos == m_buffer.size() || m_pos > 64 * 1024)) {
        m_buffer.remove(0, m_pos);
        m_scan -= m_pos;
        m_pos = 0;
    }
}

// Yields complete lines without their CR LF (a bare LF is accepted as well). An over-long line
// is delivered once its end arrives, cut to the bound, while its excess is dropped as it comes.
bool Pop3ReplyParser::nextLine(QByteArray* line, bool* cut)
{
    const qsizetype lf = m_buffer.indexOf('\n', m_scan);
    if (lf < 0) {
        m_scan = m_buffer.size();
        if (m_buffer.size() - m_pos > m_maxLine) {
            if (!m_inBody) {
                m_error = Error::StatusLineTooLong;
                return false;
            }
            if (!m_discarding)
                m_lineHead = m_buffer.mid(m_pos, m_maxLine);
            m_discarding = true;
            m_pos = m_scan = m_buffer.size();
        }
        return false;
    }
    QByteArray text = m_buffer.mid(m_pos, lf - m_pos);
    m_pos = m_scan = lf + 1;
    if (m_discarding) {
        text = m_lineHead;
        m_lineHead.clear();
        m_discarding = false;
        *cut = true;
    } else {
        *cut = false;
        if (text.endsWith('\r'))
            text.chop(1);
        if (text.size() > m_maxLine) {
            text.truncate(m_maxLine);
            *cut = true;
        }
    }
    *line = text;
    return true;
}

void Pop3ReplyParser::handleLine(const QByteArray& line, bool cut)
{
    if (m_inBody)
        handleBodyLine(line, cut);
    else if (cut)
        m_error = Error::StatusLineTooLong;
    else
        handleStatusLine(line);
}

void Pop3ReplyParser::handleStatusLine(const QByteArray& line)
{
    m_current = Pop3Reply();
    qsizetype textStart = 0;
    if (line.startsWith("+OK") || line.startsWith("+ok")) {
        m_current.ok = true;
        textStart = 3;
    } else if (line.startsWith("-ERR") || line.startsWith("-err")) {
        textStart = 4;
    } else if (m_expected.front().continuations && (line == "+" || line.startsWith("+ "))) {
        m_current.continuation = true;
        m_current.statusText = line.mid(2);
        m_ready.push_back(std::move(m_current));
        m_current = Pop3Reply();
        return; // the request stays expected: the exchange goes on
    } else {
        m_error = Error::BadStatusLine;
        return;
    }
    if (line.size() > textStart && line.at(textStart) != ' ') {
        m_error = Error::BadStatusLine;
        return;
    }
    m_current.statusText = line.mid(textStart + 1);
    if (m_current.ok && m_expected.front().multiLine) {
        m_inBody = true;
        m_current.body = QByteArray(""); // present, even when empty
    } else
        finishReply();
}

void Pop3ReplyParser::handleBodyLine(const QByteArray& line, bool cut)
{
    if (!cut && line == ".") {
        m_inBody = false;
        finishReply();
        return;
    }
    const qsizetype skip = line.startsWith('.') ? 1 : 0;
    const qsizetype length = line.size() - skip + 2;
    m_current.truncated = m_current.truncated || cut;
    if (m_current.body.size() + length > m_expected.front().maxBody) {
        m_current.truncated = true;
        return;
    }
    m_current.body.append(line.constData() + skip, line.size() - skip);
    m_current.body.append("\r\n");
}

void Pop3ReplyParser::finishReply()
{
    m_ready.push_back(std::move(m_current));
    m_current = Pop3Reply();
    m_expected.pop_front();
}
