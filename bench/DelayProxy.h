#pragma once

#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QThread>

// A TCP proxy on 127.0.0.1 that holds every chunk it forwards for a fixed delay in each
// direction, to make loopback behave like a slow link (25 ms each way = 50 ms round trip).
// It runs on its own thread, so a client may block on the caller's thread.
class DelayProxy : public QThread
{
public:
    // withoutStls: the server's CAPA loses its STLS line on the way, as from a server without it.
    DelayProxy(quint16 upstreamPort, int delayMs, bool withoutStls = false);
    ~DelayProxy() override;
    // Starts listening; returns the port to connect to, or 0.
    quint16 listen();

    // What passed through, in order: when (ms of the proxy's clock), which way, how many bytes.
    struct Passage
    {
        qint64 ms;
        bool toServer; // arrived from the client (else: delivered to the client)
        qint64 bytes;
    };
    // The passages since the last call, and forgets them.
    QList<Passage> takePassages();
    // Of the last session: the round trips the client waited for, and the client's own time between the
    // largest reply (the listing) reaching it and its next request (the first header request).
    struct Turns
    {
        int roundTrips = 0;
        qint64 afterListingMs = -1;
    };
    static Turns turns(const QList<Passage>& passages);

protected:
    void run() override;

private:
    quint16 m_upstreamPort;
    int m_delayMs;
    bool m_withoutStls;
    quint16 m_port = 0;
    QSemaphore m_ready;
    QMutex m_mutex;
    QList<Passage> m_passages;
    friend class DelayRelay;
};
