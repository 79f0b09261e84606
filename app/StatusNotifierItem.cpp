// The tray icon as a StatusNotifierItem of the program's own.
#include "app/StatusNotifierItem.h"
#include "app/DBusMenu.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QIcon>
#include <QMenu>
#include <QtEndian>

namespace {
const QString WatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString WatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString ItemPath = QStringLiteral("/StatusNotifierItem");
constexpr int AnswerMs = 5000;   // a watcher that takes longer is not there
constexpr int LargestIcon = 64;  // hosts draw at most this large; a bigger image only fills the bus
constexpr uint DoNotQueue = 4;   // RequestName: fail at once if another owns the name
constexpr uint PrimaryOwner = 1; // RequestName: the name is ours now
constexpr uint AlreadyOwner = 4; // RequestName: it was ours already
} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap)
{
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.bytes;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap)
{
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.bytes;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& tip)
{
    argument.beginStructure();
    argument << tip.iconName << tip.pixmaps << tip.title << tip.body;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& tip)
{
    argument.beginStructure();
    argument >> tip.iconName >> tip.pixmaps >> tip.title >> tip.body;
    argument.endStructure();
    return argument;
}

StatusNotifierItem::StatusNotifierItem(const QString& title, QMenu* menu, QObject* parent)
    : TrayIcon(parent), m_bus(QDBusConnection::sessionBus()), m_title(title),
      m_service(QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid())),
      m_popup(menu), m_menu(new DBusMenu(menu, this))
{
    qDBusRegisterMetaType<SniPixmap>();
    qDBusRegisterMetaType<SniPixmaps>();
    qDBusRegisterMetaType<SniToolTip>();
    if (!m_bus.isConnected()) {
        m_known = true;
        return;
    }
    auto* watcher = new QDBusServiceWatcher(
        WatcherService, m_bus, QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration,
        this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &StatusNotifierItem::queryHost);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        ++m_watchers;
        setHost(false);
    });
    // From any sender: naming the watcher's service would have Qt look up its owner and wait for that.
    m_bus.connect(QString(), WatcherPath, WatcherService, QStringLiteral("StatusNotifierHostRegistered"), this,
                  SLOT(queryHost()));
    m_bus.connect(QString(), WatcherPath, WatcherService, QStringLiteral("StatusNotifierHostUnregistered"), this,
                  SLOT(queryHost()));
    queryHost();
}

void StatusNotifierItem::setIcon(const QIcon& icon)
{
    QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty())
        sizes = {QSize(16, 16), QSize(22, 22), QSize(32, 32), QSize(48, 48)};
    m_pixmaps.clear();
    for (const QSize& size : std::as_const(sizes)) {
        const QImage image = icon.pixmap(size.boundedTo(QSize(LargestIcon, LargestIcon)))
                                 .toImage()
                                 .convertToFormat(QImage::Format_ARGB32);
        SniPixmap pixmap{image.width(), image.height(), QByteArray(image.width() * image.height() * 4, '\0')};
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            qToBigEndian<quint32>(line, image.width(), pixmap.bytes.data() + y * image.width() * 4);
        }
        m_pixmaps.append(pixmap);
    }
    if (m_registered) {
        Q_EMIT NewIcon();
        Q_EMIT NewToolTip();
    }
}

void StatusNotifierItem::setTip(const QString& title, const QString& body)
{
    m_tipTitle = title;
    m_tipBody = body;
    if (m_registered)
        Q_EMIT NewToolTip();
}

void StatusNotifierItem::show()
{
    m_shown = true;
    if (m_host && !m_registered)
        registerItem();
}

void StatusNotifierItem::Activate(int, int)
{
    Q_EMIT activated(1);
}

void StatusNotifierItem::SecondaryActivate(int, int)
{
    Q_EMIT activated(0);
}

void StatusNotifierItem::ContextMenu(int x, int y)
{
    m_popup->popup(QPoint(x, y)); // kept on the screen by the menu itself
}

void StatusNotifierItem::Scroll(int, const QString&) {}

QDBusObjectPath StatusNotifierItem::menuPath() const
{
    return QDBusObjectPath(DBusMenu::path());
}

void StatusNotifierItem::queryHost()
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        WatcherService, WatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << WatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    const int query = ++m_queries;
    call(get, [this, query](const QDBusMessage& reply) {
        if (query != m_queries)
            return;
        const QVariant answer = reply.arguments().value(0).value<QDBusVariant>().variant();
        setHost(reply.type() == QDBusMessage::ReplyMessage && answer.typeId() == QMetaType::Bool && answer.toBool());
    });
}

void StatusNotifierItem::setHost(bool host)
{
    const bool changed = !m_known || host != m_host;
    m_known = true;
    m_host = host;
    if (!host)
        m_registered = false; // the next watcher has to be told again
    else if (m_shown && !m_registered)
        registerItem();
    if (changed)
        Q_EMIT availabilityChanged(host);
}

// Puts the item on the bus under its own name and tells the watcher; a refusal anywhere means
// there is no tray to show it.
void StatusNotifierItem::registerItem()
{
    m_registered = true;
    if (!m_exported) {
        m_exported = m_bus.registerObject(ItemPath, this, QDBusConnection::ExportScriptableContents) &&
                     m_bus.registerObject(DBusMenu::path(), m_menu, QDBusConnection::ExportScriptableContents);
        if (!m_exported) {
            m_bus.unregisterObject(ItemPath);
            return setHost(false);
        }
    }
    QDBusMessage request =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
    request << m_service << DoNotQueue;
    const int watcher = m_watchers;
    call(request, [this, watcher](const QDBusMessage& reply) {
        const uint result = reply.arguments().value(0).toUInt();
        if (watcher != m_watchers)
            return;
        if (reply.type() != QDBusMessage::ReplyMessage || (result != PrimaryOwner && result != AlreadyOwner))
            return setHost(false);
        QDBusMessage announce = QDBusMessage::createMethodCall(WatcherService, WatcherPath, WatcherService,
                                                               QStringLiteral("RegisterStatusNotifierItem"));
        announce << m_service;
        call(announce, [this, watcher](const QDBusMessage& answer) {
            if (watcher == m_watchers && answer.type() != QDBusMessage::ReplyMessage)
                setHost(false);
        });
    });
}

void StatusNotifierItem::call(const QDBusMessage& message, std::function<void(const QDBusMessage&)> answered)
{
    auto* pending = new QDBusPendingCallWatcher(m_bus.asyncCall(message, AnswerMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [answered](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        answered(call->reply());
    });
}
