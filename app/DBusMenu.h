#pragma once

#include <QDBusContext>
#include <QDBusVariant>
#include <QObject>
#include <QVariantMap>

class QAction;
class QMenu;

// One entry of a menu's layout over com.canonical.dbusmenu: its id, its properties and its
// children (each in a variant, as the protocol has it).
struct DBusMenuLayoutItem
{
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayoutItem> children;
};
// An entry's id and properties, as GetGroupProperties answers.
struct DBusMenuItem
{
    int id = 0;
    QVariantMap properties;
};
// One event that a host reports about an entry (EventGroup).
struct DBusMenuEvent
{
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
Q_DECLARE_METATYPE(DBusMenuLayoutItem)
Q_DECLARE_METATYPE(DBusMenuItem)
Q_DECLARE_METATYPE(DBusMenuEvent)

// Serves a QMenu's own entries (no submenus) over com.canonical.dbusmenu, so that a
// StatusNotifierItem host draws the menu and a click there triggers the QAction. Ids stay with
// their actions for the menu's life; a change of an entry's text, state or the entries themselves
// is announced with LayoutUpdated. The object is put on the bus by its owner, at path().
class DBusMenu : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)
public:
    DBusMenu(QMenu* menu, QObject* parent);
    static QString path() { return QStringLiteral("/MenuBar"); }
    // TEXT as a dbusmenu label: its "&" mnemonic becomes "_", "&&" a plain "&", "_" is doubled.
    static QString label(const QString& text);

public Q_SLOTS: // the protocol's methods; a request naming more than a few hundred ids is refused
    Q_SCRIPTABLE uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                DBusMenuLayoutItem& layout);
    Q_SCRIPTABLE QList<DBusMenuItem> GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames);
    Q_SCRIPTABLE QDBusVariant GetProperty(int id, const QString& name);
    Q_SCRIPTABLE void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    Q_SCRIPTABLE QList<int> EventGroup(const QList<DBusMenuEvent>& events);
    Q_SCRIPTABLE bool AboutToShow(int id);
    Q_SCRIPTABLE QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

Q_SIGNALS:
    Q_SCRIPTABLE void LayoutUpdated(uint revision, int parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }
    QAction* action(int id) const;
    int idOf(QAction* action);
    QVariantMap properties(QAction* action, const QStringList& names) const;
    bool refused(qsizetype count);
    bool clicked(int id, const QString& eventId);

    QMenu* m_menu;
    uint m_revision = 1;
    int m_lastId = 0;
};
