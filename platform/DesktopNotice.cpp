#include "platform/DesktopNotice.h"

#include "platform/MessageBox.h"
#include "settings/ProgramFolder.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>
#include <QVariantMap>
#include <QWidget>
#include <optional>
#include <utility>

bool installQtJapanese()
{
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

namespace {
bool g_platformChosen = false;

bool onWayland()
{
    return QGuiApplication::platformName().startsWith(u"wayland");
}

// The program's one notification: each news replaces the one before it (the service's id for
// it), so that a day of checks leaves one notification, not a pile.
class Notifier : public QObject
{
public:
    using QObject::QObject;

    bool send(const QString& title, const QString& body)
    {
        if (!QDBusConnection::sessionBus().isConnected())
            return false;
        // The id of the one to replace comes with the answer to the call before.
        if (m_inFlight)
            m_waiting = {title, body};
        else
            call(title, body);
        return true;
    }

private:
    static constexpr int ReplyTimeoutMs = 5000;

    void call(const QString& title, const QString& body)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
        // The shipped icon by its path, so that it shows before (or without) an installation.
        const QString iconFile = Paths::htmlFolder() + QStringLiteral("/icon.png");
        const QString icon =
            QFileInfo(iconFile).isFile() ? QFileInfo(iconFile).absoluteFilePath() : QStringLiteral("mossvale");
        const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("mossvale")}};
        // app name, replaced id, icon, summary, body, actions, hints, time-out (-1: the server's choice)
        message << QCoreApplication::applicationName() << m_lastId << icon << title << body << QStringList() << hints
                << int(-1);
        m_inFlight = true;
        auto* watcher =
            new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message, ReplyTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
            watcher->deleteLater();
            const QDBusPendingReply<uint> reply = *watcher;
            // A service that failed or never answered leaves the old id: the next one may stand beside it.
            if (reply.isValid())
                m_lastId = reply.value();
            m_inFlight = false;
            if (const auto waiting = std::exchange(m_waiting, std::nullopt))
                call(waiting->first, waiting->second);
        });
    }

    uint m_lastId = 0;
    bool m_inFlight = false;
    std::optional<std::pair<QString, QString>> m_waiting;
};
} // namespace

void preferX11Platform(int argc, char* argv[])
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "-platform" || argument == "--platform")
            return;
    }
    // Qt tries each in turn: xcb fails at once where no X server answers.
    g_platformChosen = qputenv("QT_QPA_PLATFORM", "xcb;wayland");
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
#endif
}

void forgetPlatformChoice()
{
    if (std::exchange(g_platformChosen, false))
        qunsetenv("QT_QPA_PLATFORM");
}

bool notifyWhereNoticesHide(const QString& title, const QString& body)
{
    if (!onWayland())
        return true;
    static QPointer<Notifier> notifier;
    if (!notifier)
        notifier = new Notifier(QCoreApplication::instance());
    return notifier->send(title, body);
}

void explainKeepAboveOnWayland(QAction* keepAbove, QWidget* window)
{
    if (!onWayland())
        return;
    QObject::connect(
        keepAbove, &QAction::triggered, window,
        [window] {
            MessageBox::open(window,
                             QStringLiteral("Wayland では、ウィンドウを常に前面に表示できないため、\n"
                                            "「常に前面表示」は働きません。\n"
                                            "新着のお知らせは、デスクトップの通知でもお伝えします。\n"
                                            "前面表示を使うには、Xwayland を入れ、\n"
                                            "環境変数 QT_QPA_PLATFORM=wayland を付けずに起動してください。"),
                             MessageBox::programTitle(), MessageBox::OkOnly, MessageBox::Information);
        },
        Qt::SingleShotConnection);
}
