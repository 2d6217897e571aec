#pragma once

#include <QDBusConnection>
#include <QString>

namespace desktop {

// Shows a desktop notification through the session's notification service
// (org.freedesktop.Notifications), with the suite's icon. The call does not wait for the
// service: where there is none (no session bus, no notification daemon) nothing happens.
// False only when there is no bus to send on.
bool notify(const QString &title, const QString &body,
            const QDBusConnection &bus = QDBusConnection::sessionBus());

} // namespace desktop
