#include "Pop3Proxy.h"

#include <arpa/inet.h>
#include <deque>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in loopback(quint16 port)
{
    return {AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
}

// The length of the whole reply to request at the start of replies; 0 while it is incomplete.
qsizetype replyLength(const QByteArray& request, const QByteArray& replies)
{
    const bool multiLine = replies.startsWith("+OK") && (request == "CAPA" || request == "LIST" || request == "UIDL" ||
                                                         request.startsWith("TOP") || request.startsWith("RETR"));
    const QByteArray end = multiLine ? "\r\n.\r\n" : "\r\n";
    const qsizetype at = replies.indexOf(end);
    return at < 0 ? 0 : at + end.size();
}

} // namespace

Pop3Proxy::Pop3Proxy(quint16 upstreamPort, QByteArray repeated)
    : m_repeated(std::move(repeated)), m_upstream(upstreamPort)
{
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(m_listener, 4);
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] {
        const sockaddr_in upstream = loopback(m_upstream);
        for (int client; (client = ::accept(m_listener, nullptr, nullptr)) >= 0;) {
            const int server = ::socket(AF_INET, SOCK_STREAM, 0);
            if (::connect(server, reinterpret_cast<const sockaddr*>(&upstream), sizeof upstream) == 0)
                relay(client, server);
            ::close(server);
            ::close(client);
        }
    });
}

Pop3Proxy::~Pop3Proxy()
{
    ::shutdown(m_listener, SHUT_RDWR); // ends the accept loop of the thread
    m_thread.join();
    ::close(m_listener);
}

// Passes requests on as they come and replies whole, one at a time, in request order.
void Pop3Proxy::relay(int client, int server)
{
    QByteArray fromClient, fromServer;
    std::deque<QByteArray> asked{"greeting"};
    pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    char buffer[65536];
    while (::poll(fds, 2, 10000) > 0) {
        const bool up = fds[0].revents != 0;
        const ssize_t n = ::read(up ? client : server, buffer, sizeof buffer);
        if (n <= 0 || (up && ::write(server, buffer, n) != n))
            return;
        (up ? fromClient : fromServer).append(buffer, n);
        for (qsizetype end; (end = fromClient.indexOf("\r\n")) >= 0; fromClient.remove(0, end + 2)) {
            const QMutexLocker lock(&m_mutex);
            m_requests.append(asked.emplace_back(fromClient.left(end)));
        }
        for (qsizetype length; !asked.empty() && (length = replyLength(asked.front(), fromServer)) > 0;) {
            QByteArray reply = fromServer.left(length);
            fromServer.remove(0, length);
            if (asked.front() == "CAPA")
                reply.replace("STLS\r\n", "");
            if (asked.front() == m_repeated)
                reply += reply;
            asked.pop_front();
            if (::write(client, reply.constData(), reply.size()) != reply.size())
                return;
        }
    }
}
