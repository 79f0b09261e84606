// The tray pop-up menu over com.canonical.dbusmenu.
#include "app/DBusMenu.h"

#include <QActionEvent>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QMenu>

namespace {
// A host asks for a handful of entries at a time; a longer list is no host's.
constexpr qsizetype MaxRequest = 256;
// Where an action keeps its id, so that it stays the same while the action lives.
constexpr char IdProperty[] = "dbusMenuId";
} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayoutItem& item)
{
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const DBusMenuLayoutItem& child : item.children)
        argument << QDBusVariant(QVariant::fromValue(child));
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item)
{
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        item.children.append(qdbus_cast<DBusMenuLayoutItem>(child.variant()));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItem& item)
{
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItem& item)
{
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event)
{
    argument.beginStructure();
    argument << event.id << event.eventId << event.data << event.timestamp;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event)
{
    argument.beginStructure();
    argument >> event.id >> event.eventId >> event.data >> event.timestamp;
    argument.endStructure();
    return argument;
}

DBusMenu::DBusMenu(QMenu* menu, QObject* parent) : QObject(parent), m_menu(menu)
{
    qDBusRegisterMetaType<DBusMenuLayoutItem>();
    qDBusRegisterMetaType<DBusMenuItem>();
    qDBusRegisterMetaType<QList<DBusMenuItem>>();
    qDBusRegisterMetaType<DBusMenuEvent>();
    qDBusRegisterMetaType<QList<DBusMenuEvent>>();
    menu->installEventFilter(this);
}

QString DBusMenu::label(const QString& text)
{
    QString label;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool marked = text.at(i) == u'&' && i + 1 < text.size();
        if (text.at(i) == u'_') {
            label += QStringLiteral("__");
        } else if (marked && text.at(i + 1) == u'&') {
            label += u'&';
            ++i;
        } else {
            label += marked ? u'_' : text.at(i); // "_" marks the letter that follows
        }
    }
    return label;
}

uint DBusMenu::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames, DBusMenuLayoutItem& layout)
{
    layout.id = parentId;
    if (refused(propertyNames.size()))
        return m_revision;
    if (parentId == 0) {
        layout.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        const QList<QAction*> actions = recursionDepth == 0 ? QList<QAction*>() : m_menu->actions();
        for (QAction* entry : actions)
            layout.children.append({idOf(entry), properties(entry, propertyNames), {}});
    } else if (QAction* entry = action(parentId)) {
        layout.properties = properties(entry, propertyNames);
    } else {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("No menu entry %1").arg(parentId));
    }
    return m_revision;
}

QList<DBusMenuItem> DBusMenu::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames)
{
    QList<DBusMenuItem> items;
    if (refused(ids.size()) || refused(propertyNames.size()))
        return items;
    for (int id : ids) {
        if (QAction* entry = action(id))
            items.append({id, properties(entry, propertyNames)});
    }
    return items;
}

QDBusVariant DBusMenu::GetProperty(int id, const QString& name)
{
    QAction* entry = action(id);
    const QVariant value = entry ? properties(entry, {name}).value(name) : QVariant();
    if (!value.isValid())
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("No such entry or property"));
    return QDBusVariant(value.isValid() ? value : QVariant(0));
}

void DBusMenu::Event(int id, const QString& eventId, const QDBusVariant&, uint)
{
    if (!clicked(id, eventId) && id != 0 && !action(id)) // 0: the menu itself, opened or closed
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("No menu entry %1").arg(id));
}

QList<int> DBusMenu::EventGroup(const QList<DBusMenuEvent>& events)
{
    QList<int> unknown;
    if (refused(events.size()))
        return unknown;
    for (const DBusMenuEvent& event : events) {
        if (!clicked(event.id, event.eventId) && event.id != 0 && !action(event.id))
            unknown.append(event.id);
    }
    if (!events.isEmpty() && unknown.size() == events.size())
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("No such menu entries"));
    return unknown;
}

bool DBusMenu::AboutToShow(int)
{
    return false; // the entries are always up to date: LayoutUpdated tells every change
}

QList<int> DBusMenu::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors)
{
    if (refused(ids.size()))
        return {};
    for (int id : ids) {
        if (id != 0 && !action(id))
            idErrors.append(id);
    }
    return {};
}

bool DBusMenu::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (watched == m_menu &&
        (type == QEvent::ActionAdded || type == QEvent::ActionChanged || type == QEvent::ActionRemoved))
        Q_EMIT LayoutUpdated(++m_revision, 0);
    return false;
}

QAction* DBusMenu::action(int id) const
{
    const QList<QAction*> actions = m_menu->actions();
    const auto found = std::find_if(actions.begin(), actions.end(),
                                    [id](QAction* entry) { return entry->property(IdProperty).toInt() == id; });
    return id > 0 && found != actions.end() ? *found : nullptr;
}

int DBusMenu::idOf(QAction* action)
{
    if (!action->property(IdProperty).isValid())
        action->setProperty(IdProperty, ++m_lastId);
    return action->property(IdProperty).toInt();
}

// The entry's properties that differ from the protocol's defaults, those in NAMES only if any.
QVariantMap DBusMenu::properties(QAction* action, const QStringList& names) const
{
    QVariantMap properties;
    if (action->isSeparator())
        properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
    else
        properties.insert(QStringLiteral("label"), label(action->text()));
    if (!action->isEnabled())
        properties.insert(QStringLiteral("enabled"), false);
    if (!action->isVisible())
        properties.insert(QStringLiteral("visible"), false);
    if (!names.isEmpty())
        properties.removeIf([&names](QVariantMap::iterator property) { return !names.contains(property.key()); });
    return properties;
}

bool DBusMenu::refused(qsizetype count)
{
    if (count <= MaxRequest)
        return false;
    sendErrorReply(QDBusError::LimitsExceeded, QStringLiteral("At most %1 entries at a time").arg(MaxRequest));
    return true;
}

// A click on an entry that can take one triggers it once this call has returned, as a click in the
// menu itself would (the action may end the program).
bool DBusMenu::clicked(int id, const QString& eventId)
{
    QAction* entry = action(id);
    if (!entry || eventId != QLatin1String("clicked") || entry->isSeparator() || !entry->isEnabled() ||
        !entry->isVisible())
        return false;
    QMetaObject::invokeMethod(entry, &QAction::trigger, Qt::QueuedConnection);
    return true;
}
