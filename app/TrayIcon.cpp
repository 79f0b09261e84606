// The tray icon that Qt itself serves.
#include "app/TrayIcon.h"

#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace {
class QtTrayIcon : public TrayIcon
{
public:
    QtTrayIcon(QMenu* menu, QObject* parent) : TrayIcon(parent), m_icon(new QSystemTrayIcon(this))
    {
        setObjectName(QStringLiteral("TrayControl1"));
        // The icon carries the pop-up itself: a host may show it without ever reporting a right
        // click. A left click, the one everybody tries, opens it too.
        m_icon->setContextMenu(menu);
        connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger)
                Q_EMIT activated(1);
            else if (reason == QSystemTrayIcon::MiddleClick)
                Q_EMIT activated(0);
        });
    }

    bool isAvailable() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }
    void setIcon(const QIcon& icon) override { m_icon->setIcon(icon); }
    // One text here: the title goes on its first line, as the hosts with two show it above the body.
    void setTip(const QString& title, const QString& body) override
    {
        m_icon->setToolTip(title.isEmpty() ? body : body.isEmpty() ? title : title + u'\n' + body);
    }
    void show() override { m_icon->show(); }

private:
    QSystemTrayIcon* m_icon;
};
} // namespace

TrayIcon* TrayIcon::createQtTray(QMenu* menu, QObject* parent)
{
    return new QtTrayIcon(menu, parent);
}
