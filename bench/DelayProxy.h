#pragma once

#include <QSemaphore>
#include <QThread>

// A TCP proxy on 127.0.0.1 that holds every chunk it forwards for a fixed delay in each
// direction, to make loopback behave like a slow link (25 ms each way = 50 ms round trip).
// It runs on its own thread, so a client may block on the caller's thread.
class DelayProxy : public QThread
{
public:
    DelayProxy(quint16 upstreamPort, int delayMs);
    ~DelayProxy() override;
    // Starts listening; returns the port to connect to, or 0.
    quint16 listen();

protected:
    void run() override;

private:
    quint16 m_upstreamPort;
    int m_delayMs;
    quint16 m_port = 0;
    QSemaphore m_ready;
};
