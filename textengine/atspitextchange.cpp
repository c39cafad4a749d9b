#include "atspitextchange.h"

#include <QAccessible>

#if QUORVEX_ATSPI_BRIDGE
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QtGui/private/qspiaccessiblebridge_p.h>

using namespace Qt::StringLiterals;

bool tellLongTextChange(QAccessibleInterface *source, AccessibleTextChange change, int offset, int length,
                        const QString &start)
{
    QSpiAccessibleBridge *bridge = QSpiAccessibleBridge::instance();
    if (!bridge || !source)
        return false;
    QDBusConnection bus = bridge->dBusConnection();
    if (!bus.isConnected())
        return false;
    // The object's path is the one Qt's bridge gives it, and the signal the one it sends for
    // text events; the last argument is the (empty) set of properties that clients accept in
    // place of a reference to the application.
    QDBusMessage signal = QDBusMessage::createSignal(
        u"/org/a11y/atspi/accessible/"_s + QString::number(QAccessible::uniqueId(source)),
        u"org.a11y.atspi.Event.Object"_s, u"TextChanged"_s);
    signal << (change == AccessibleTextChange::Inserted ? u"insert"_s : u"delete"_s) << offset << length
           << QVariant::fromValue(QDBusVariant(start)) << QVariantMap();
    return bus.send(signal);
}

#else

bool tellLongTextChange(QAccessibleInterface *, AccessibleTextChange, int, int, const QString &)
{
    return false;
}

#endif
