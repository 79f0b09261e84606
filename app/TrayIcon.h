#pragma once

#include <QObject>

class QIcon;
class QMenu;

// The program's icon in the desktop's tray, whatever kind of tray the desktop has: the main window
// talks to this alone, so that every kind behaves the same.
class TrayIcon : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Whether the desktop has a tray that shows this icon now.
    virtual bool isAvailable() const = 0;
    virtual void setIcon(const QIcon& icon) = 0;
    // The tip shown when the pointer rests on the icon: TITLE over BODY where the tray shows both,
    // TITLE on the first line and BODY below where it has one text.
    virtual void setTip(const QString& title, const QString& body) = 0;
    // Puts the icon in the tray, where it stays until the program ends.
    virtual void show() = 0;

    // Qt's own tray icon (XEmbed trays such as trayer), carrying MENU as its pop-up.
    static TrayIcon* createQtTray(QMenu* menu, QObject* parent);

Q_SIGNALS:
    // The user acted on the icon: 1 asks for the pop-up menu, 0 is the seldom-used middle click.
    void activated(int code);
};
