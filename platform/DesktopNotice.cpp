#include "platform/DesktopNotice.h"

#include "platform/MessageBox.h"

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

namespace {
const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
constexpr qsizetype MaxSenderChars = 60;
constexpr qsizetype MaxSubjectChars = 100;
const QString DefaultAction = QStringLiteral("default");
const QString MailProgramAction = QStringLiteral("mail-program");

// One line of text, at most max characters: control and format characters (line breaks, bidi
// overrides) would let a sender lay out the notification; they become spaces.
QString boundedLine(const QString& text, qsizetype max)
{
    QString line;
    line.reserve(std::min(text.size(), max + 1));
    for (const QChar c : text) {
        const bool control = c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
                             c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph;
        line += control ? QChar(u' ') : c;
        if (line.size() > max + 1)
            break;
    }
    line = line.simplified();
    if (line.size() > max)
        line = line.left(max - 1) + QChar(0x2026);
    // A surrogate pair cut in two would be an invalid character.
    if (line.size() >= 2 && line.at(line.size() - 2).isHighSurrogate() && line.endsWith(QChar(0x2026)))
        line.remove(line.size() - 2, 1);
    return line;
}
} // namespace

DesktopNotification composeNotification(const QString& summary, const QList<NoticeLine>& lines,
                                        const QStringList& capabilities, bool offerMailProgram)
{
    DesktopNotification notification{summary, QString(), QStringList()};
    if (capabilities.contains(QStringLiteral("body"))) {
        const bool markup = capabilities.contains(QStringLiteral("body-markup"));
        QStringList body;
        for (const NoticeLine& line : lines) {
            const QString text = boundedLine(line.sender, MaxSenderChars) + QStringLiteral(": ") +
                                 boundedLine(line.subject, MaxSubjectChars);
            body << (markup ? text.toHtmlEscaped() : text);
        }
        notification.body = body.join(u'\n');
    }
    if (capabilities.contains(QStringLiteral("actions"))) {
        notification.actions << DefaultAction << QStringLiteral("メイン画面を表示");
        if (offerMailProgram)
            notification.actions << MailProgramAction << QStringLiteral("メーラーを起動");
    }
    return notification;
}

bool noticesHide()
{
    return onWayland();
}

DesktopNotifier::DesktopNotifier(QObject* parent)
    : QObject(parent), m_iconFile(QCoreApplication::applicationDirPath() + QStringLiteral("/HTML/icon.png"))
{
    // No service name: naming it would make Qt look its owner up with a blocking call. The id of
    // our own notification is what the answer is checked by.
    QDBusConnection::sessionBus().connect(QString(), Path, Service, QStringLiteral("ActionInvoked"), this,
                                          SLOT(onActionInvoked(uint, QString)));
}

bool DesktopNotifier::send(const QString& summary, const QList<NoticeLine>& lines, bool offerMailProgram)
{
    if (!QDBusConnection::sessionBus().isConnected())
        return false;
    const Request request{summary, lines, offerMailProgram};
    // The id of the one to replace comes with the answer to the call before.
    if (m_inFlight || !m_capabilities)
        m_waiting = request;
    if (!m_inFlight && !m_capabilities)
        askCapabilities(); // sends the waiting one once they are known
    else if (!m_inFlight)
        call(request);
    return true;
}

void DesktopNotifier::setIconFile(const QString& file)
{
    m_iconFile = file;
}

void DesktopNotifier::askCapabilities()
{
    m_inFlight = true;
    const QDBusMessage ask = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(ask, ReplyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QStringList> reply = *watcher;
        // A service that does not say is sent plain text and no actions.
        m_capabilities = reply.isValid() ? reply.value() : QStringList{QStringLiteral("body")};
        callDone();
    });
}

void DesktopNotifier::call(const Request& request)
{
    const DesktopNotification notification =
        composeNotification(request.summary, request.lines, *m_capabilities, request.offerMailProgram);
    QDBusMessage message = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
    // The shipped icon by its path, so that it shows before (or without) an installation.
    const QString icon =
        QFileInfo(m_iconFile).isFile() ? QFileInfo(m_iconFile).absoluteFilePath() : QStringLiteral("mossvale");
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("mossvale")},
                            {QStringLiteral("category"), QStringLiteral("email.arrived")}};
    // app name, replaced id, icon, summary, body, actions, hints, time-out (-1: the server's choice)
    message << QCoreApplication::applicationName() << m_lastId << icon << notification.summary << notification.body
            << notification.actions << hints << int(-1);
    m_inFlight = true;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message, ReplyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        // A service that failed or never answered leaves the old id: the next one may stand beside it.
        if (reply.isValid())
            m_lastId = reply.value();
        callDone();
    });
}

void DesktopNotifier::callDone()
{
    m_inFlight = false;
    if (const auto waiting = std::exchange(m_waiting, std::nullopt))
        call(*waiting);
}

void DesktopNotifier::onActionInvoked(uint id, const QString& key)
{
    if (id == 0 || id != m_lastId)
        return; // another program's notification, or an earlier one of ours
    if (key == DefaultAction)
        Q_EMIT openRequested();
    else if (key == MailProgramAction)
        Q_EMIT mailProgramRequested();
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
