#pragma once

#include "app/TrayIcon.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <functional>

class DBusMenu;
class QDBusMessage;

// An image as the StatusNotifierItem protocol carries it: ARGB32 pixels in network byte order.
struct SniPixmap
{
    int width = 0;
    int height = 0;
    QByteArray bytes;
};
using SniPixmaps = QList<SniPixmap>;
struct SniToolTip
{
    QString iconName;
    SniPixmaps pixmaps;
    QString title;
    QString body;
};
Q_DECLARE_METATYPE(SniPixmap)
Q_DECLARE_METATYPE(SniToolTip)

// The tray icon as a StatusNotifierItem (KDE Plasma, GNOME with AppIndicator, most Wayland panels),
// served by the program itself so that the tip's title and body are its own. It finds out, without
// waiting, whether the session bus has a StatusNotifierWatcher with a host, and follows the watcher
// as it comes and goes: once shown, the item registers with every watcher that appears.
class StatusNotifierItem : public TrayIcon
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ title)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(SniPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menuPath)
public:
    // TITLE names the program to the host; MENU is the pop-up it shows for the icon.
    StatusNotifierItem(const QString& title, QMenu* menu, QObject* parent);

    // Whether the bus has answered; until then isAvailable() is false, and availabilityChanged follows.
    bool isKnown() const { return m_known; }
    bool isAvailable() const override { return m_host; }
    void setIcon(const QIcon& icon) override;
    void setTip(const QString& title, const QString& body) override;
    void show() override;

public Q_SLOTS: // the protocol's methods
    Q_SCRIPTABLE void Activate(int x, int y);
    Q_SCRIPTABLE void SecondaryActivate(int x, int y);
    Q_SCRIPTABLE void ContextMenu(int x, int y);
    Q_SCRIPTABLE void Scroll(int delta, const QString& orientation);

Q_SIGNALS:
    Q_SCRIPTABLE void NewIcon();
    Q_SCRIPTABLE void NewToolTip();
    Q_SCRIPTABLE void NewStatus(const QString& status);
    // A watcher with a host came, or went: the icon can, or no longer can, be seen.
    void availabilityChanged(bool available);

private Q_SLOTS:
    void queryHost();

private:
    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString title() const { return m_title; }
    QString status() const { return QStringLiteral("Active"); }
    QString iconName() const { return QString(); }
    SniPixmaps iconPixmap() const { return m_pixmaps; }
    SniToolTip toolTip() const { return {QString(), m_pixmaps, m_tipTitle, m_tipBody}; }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menuPath() const;
    void setHost(bool host);
    void registerItem();
    void call(const QDBusMessage& message, std::function<void(const QDBusMessage&)> answered);

    QDBusConnection m_bus;
    QString m_title;
    QString m_service;
    QMenu* m_popup;
    DBusMenu* m_menu;
    SniPixmaps m_pixmaps;
    QString m_tipTitle;
    QString m_tipBody;
    bool m_known = false;
    bool m_host = false;
    bool m_shown = false;
    bool m_exported = false;
    bool m_registered = false; // with the watcher now on the bus, or on the way there
    int m_queries = 0;         // only the answer to the latest question about the host counts
    int m_watchers = 0;        // a watcher that went takes the answers meant for it along
};
