#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>

namespace {
const QByteArray ShowRequest = "show\n";
}

SingleInstance::SingleInstance(const QString& dataFolder, QObject* parent)
    : QObject(parent), m_lock(QDir(dataFolder).filePath(QStringLiteral("mossvale.lock")))
{
    // The name stands for the folder, whatever its length or characters.
    const QByteArray folder = QDir(dataFolder).absolutePath().toUtf8();
    m_name = QStringLiteral("mossvale-") +
             QString::fromLatin1(QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex().left(24));
    m_lock.setStaleLockTime(0); // stale only when its process is gone, however long it ran
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = m_server.nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (peer->readAll().contains(ShowRequest))
                    Q_EMIT showRequested();
                peer->disconnectFromServer();
            });
        }
    });
}

bool SingleInstance::acquire()
{
    if (!m_lock.tryLock(0))
        return m_lock.error() != QLockFile::LockFailedError;
    QLocalServer::removeServer(m_name); // a socket a crashed run left behind
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    m_server.listen(m_name);
    return true;
}

bool SingleInstance::askHolderToShow(int waitMs) const
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(waitMs))
        return false;
    socket.write(ShowRequest);
    return socket.waitForBytesWritten(waitMs);
}
