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
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

bool multiLine(const QByteArray& request, const QByteArray& reply)
{
    return reply.startsWith("+OK") && (request == "CAPA" || request == "LIST" || request == "UIDL" ||
                                       request.startsWith("TOP") || request.startsWith("RETR"));
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
    m_thread = std::thread([this] { serve(); });
}

Pop3Proxy::~Pop3Proxy()
{
    ::shutdown(m_listener, SHUT_RDWR); // ends the accept below
    m_thread.join();
    ::close(m_listener);
}

QString Pop3Proxy::server() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

QList<QByteArray> Pop3Proxy::requests() const
{
    const QMutexLocker lock(&m_mutex);
    return m_requests;
}

void Pop3Proxy::serve()
{
    for (int client; (client = ::accept(m_listener, nullptr, nullptr)) >= 0;) {
        const int server = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in upstream = loopback(m_upstream);
        if (::connect(server, reinterpret_cast<const sockaddr*>(&upstream), sizeof upstream) == 0)
            relay(client, server);
        ::close(server);
        ::close(client);
    }
}

// Passes requests on as they come and replies whole, one at a time, in request order.
void Pop3Proxy::relay(int client, int server)
{
    QByteArray fromClient, fromServer;
    std::deque<QByteArray> asked{"greeting"};
    pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    char buffer[65536];
    while (::poll(fds, 2, 10000) > 0) {
        const int from = (fds[0].revents & (POLLIN | POLLHUP)) ? 0 : 1;
        const ssize_t n = ::read(fds[from].fd, buffer, sizeof buffer);
        if (n <= 0 || (from == 0 && ::write(server, buffer, n) != n))
            return;
        if (from == 0) {
            fromClient.append(buffer, n);
            for (qsizetype end; (end = fromClient.indexOf("\r\n")) >= 0; fromClient.remove(0, end + 2)) {
                asked.push_back(fromClient.left(end));
                const QMutexLocker lock(&m_mutex);
                m_requests.append(asked.back());
            }
            continue;
        }
        fromServer.append(buffer, n);
        while (!asked.empty()) {
            const bool multi = multiLine(asked.front(), fromServer);
            const qsizetype end = fromServer.indexOf(multi ? "\r\n.\r\n" : "\r\n");
            if (end < 0)
                break;
            QByteArray reply = fromServer.left(end + (multi ? 5 : 2));
            fromServer.remove(0, reply.size());
            if (asked.front() == "CAPA")
                reply.replace("STLS\r\n", "");
            if (asked.front() == m_repeated)
                reply += reply;
            if (::write(client, reply.constData(), reply.size()) != reply.size())
                return;
            asked.pop_front();
        }
    }
}
