#include "notify.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QVariantMap>

namespace desktop {

bool notify(const QString &title, const QString &body, const QDBusConnection &bus) {
    if (!bus.isConnected()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QCoreApplication::applicationName() // app_name
         << uint(0)                             // replaces_id: a new notification
         << QStringLiteral("pelmora")           // app_icon: the installed icon's name
         << title << body << QStringList()      // no actions
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("org.pelmora.Pelmora")}}
         << int(-1); // the service's own display time
    // Fire and forget: an error reply (no service) is dropped by the bus connection.
    return bus.send(call);
}

} // namespace desktop
