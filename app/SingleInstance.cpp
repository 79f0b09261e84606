#include "app/SingleInstance.h"

#include "platform/MessageBox.h"

#include <QCryptographicHash>
#include <QGuiApplication>
#include <QDir>
#include <QStandardPaths>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QByteArray ShowRequest = "show\n";
// A peer is the same user's second start: it says one short line at once. Anything longer, or
// slower, is not one of ours.
constexpr int MaxRequestBytes = 64;
constexpr int PeerWaitMs = 2000;
// A Unix socket's path must fit its address (108 bytes with the final NUL).
constexpr int MaxSocketPathBytes = 107;

// Why folder may not hold the socket: it must be a real folder (no link) of this user that no
// one else may enter. Empty when it may.
QString untrusted(const QString& folder)
{
    struct stat info{};
    if (lstat(QFile::encodeName(folder).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return QStringLiteral("「%1」はフォルダーではありません。").arg(folder);
    if (info.st_uid != geteuid())
        return QStringLiteral("フォルダー「%1」はほかのユーザーのものです。").arg(folder);
    if ((info.st_mode & 077) != 0 && chmod(QFile::encodeName(folder).constData(), 0700) != 0)
        return QStringLiteral("フォルダー「%1」をほかのユーザーから守れません。").arg(folder);
    return {};
}
} // namespace

QString SingleInstance::privateSocketFolder(const QString& wanted, QString* error)
{
    QString folder = wanted;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() && !runtime.isEmpty() && untrusted(runtime).isEmpty())
        folder = runtime;
    if (folder.isEmpty()) {
        // The user's own cache folder: no other user can make it first, as one could in /tmp.
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/mossvale");
        QDir().mkpath(QFileInfo(folder).path());
        mkdir(QFile::encodeName(folder).constData(), 0700);
    }
    *error = untrusted(folder);
    return error->isEmpty() ? folder : QString();
}

SingleInstance::SingleInstance(const QString& dataFolder, const QString& socketFolder, QObject* parent)
    : QObject(parent), m_lock(QDir(dataFolder).filePath(QStringLiteral("mossvale.lock")))
{
    m_lock.setStaleLockTime(0); // stale only when its process is gone, however long it ran
    if (const QString folder = privateSocketFolder(socketFolder, &m_error); !folder.isEmpty()) {
        // The name stands for the data folder, whatever its length or characters.
        const QByteArray hash =
            QCryptographicHash::hash(QDir(dataFolder).absolutePath().toUtf8(), QCryptographicHash::Sha256);
        m_path = folder + QStringLiteral("/mossvale-") + QString::fromLatin1(hash.toHex().left(24));
        if (QFile::encodeName(m_path).size() > MaxSocketPathBytes) {
            m_error = QStringLiteral("フォルダー「%1」の名前が長すぎます。").arg(folder);
            m_path.clear();
        }
    }
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::answerPeers);
    m_askDeadline.setSingleShot(true);
    connect(&m_askDeadline, &QTimer::timeout, this,
            [this] { endAsking(false, QStringLiteral("%1 ミリ秒以内に応答がありません。").arg(m_askDeadline.interval())); });
    connect(&m_asking, &QLocalSocket::connected, this, [this] { m_asking.write(ShowRequest); });
    connect(&m_asking, &QLocalSocket::bytesWritten, this, [this] {
        if (m_asking.bytesToWrite() == 0)
            endAsking(true);
    });
    connect(&m_asking, &QLocalSocket::errorOccurred, this, [this] { endAsking(false, m_asking.errorString()); });
}

SingleInstance::Start SingleInstance::acquire()
{
    if (!m_lock.tryLock(0)) {
        if (m_lock.error() == QLockFile::LockFailedError)
            return Start::AnotherHolds;
        m_error = QStringLiteral("ロックファイル「%1」を作成できません。").arg(m_lock.fileName());
        return Start::Unlocked;
    }
    if (m_path.isEmpty())
        return Start::HolderDeaf;
    QLocalServer::removeServer(m_path); // we hold the lock: a socket there is one a crashed run left
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(m_path)) {
        m_error = QStringLiteral("「%1」で待ち受けできません: %2").arg(m_path, m_server.errorString());
        return Start::HolderDeaf;
    }
    return Start::Holder;
}

void SingleInstance::answerPeers()
{
    while (QLocalSocket* peer = m_server.nextPendingConnection()) {
        auto said = std::make_shared<QByteArray>();
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        connect(peer, &QLocalSocket::readyRead, this, [this, peer, said] {
            said->append(peer->read(MaxRequestBytes + 1 - said->size()));
            if (said->contains(ShowRequest))
                Q_EMIT showRequested();
            if (said->contains('\n') || said->size() > MaxRequestBytes)
                peer->disconnectFromServer();
        });
        QTimer::singleShot(PeerWaitMs, peer, [peer] {
            peer->abort();
            peer->deleteLater();
        });
    }
}

void SingleInstance::askHolderToShow(int waitMs)
{
    m_waiting = true;
    if (m_path.isEmpty()) {
        QTimer::singleShot(0, this, [this] { endAsking(false, m_error); });
        return;
    }
    m_askDeadline.start(waitMs);
    m_asking.connectToServer(m_path);
}

void SingleInstance::endAsking(bool told, const QString& error)
{
    if (!m_waiting)
        return; // already answered
    m_waiting = false;
    m_askDeadline.stop();
    if (!told)
        m_error = error;
    m_asking.disconnectFromServer();
    Q_EMIT holderAnswered(told);
}

namespace {
// Offscreen (the demo, tests) nobody could answer a box.
bool screenForBoxes()
{
    const QString platform = QGuiApplication::platformName();
    return platform != u"offscreen" && platform != u"minimal";
}
} // namespace

int runAsSecondStart(SingleInstance& instance)
{
    QObject::connect(&instance, &SingleInstance::holderAnswered, &instance, [&instance](bool told) {
        if (told)
            return QCoreApplication::exit(0);
        const QString text =
            QStringLiteral("Mossvale はすでに起動していますが、呼び出しに応答しませんでした。\n%1").arg(instance.error());
        qWarning("Mossvale: %s", qPrintable(text));
        if (!screenForBoxes())
            return QCoreApplication::exit(1);
        MessageBox::open(nullptr, text, MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation,
                         MessageBox::Ok, [](MessageBox::Button) { QCoreApplication::exit(1); });
    });
    instance.askHolderToShow();
    return QCoreApplication::exec();
}

void tellDeafInstance(const SingleInstance& instance, QWidget* window)
{
    const QString text = QStringLiteral("もう一度起動したときにこの画面を前に出すための待ち受けを始められませんでした。"
                                        "このまま動作します。\n%1")
                             .arg(instance.error());
    qWarning("Mossvale: %s", qPrintable(text));
    if (screenForBoxes())
        MessageBox::open(window, text, MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Exclamation);
}
