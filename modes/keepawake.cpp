#include "keepawake.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#endif

namespace modes {

#ifdef Q_OS_WIN

struct KeepAwake::Impl {
    bool held = false;
};

KeepAwake::KeepAwake(QObject *parent) : QObject(parent), d(std::make_unique<Impl>()) {}
KeepAwake::~KeepAwake() {
    release();
}

void KeepAwake::acquire(const QString &) {
    m_wanted = true;
    if (!d->held) d->held = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) != 0;
}

void KeepAwake::release() {
    m_wanted = false;
    if (d->held) SetThreadExecutionState(ES_CONTINUOUS);
    d->held = false;
}

bool KeepAwake::held() const {
    return d->held;
}

#else

struct KeepAwake::Impl {
    QDBusUnixFileDescriptor fd; // the lock lasts as long as this descriptor is open
    QDBusPendingCallWatcher *pending = nullptr;
};

KeepAwake::KeepAwake(QObject *parent) : QObject(parent), d(std::make_unique<Impl>()) {}

KeepAwake::~KeepAwake() {
    release();
}

void KeepAwake::acquire(const QString &why) {
    m_wanted = true;
    if (d->fd.isValid() || d->pending) return;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        emit refused(QStringLiteral("pas de bus système"));
        return;
    }
    // A missing login manager answers with an error: the run goes on, the window says so.
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("pelmora") << why
         << QStringLiteral("block");
    // Asynchronous: the user interface never waits for the bus.
    d->pending = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
    connect(d->pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher *w) {
                QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
                if (d->pending == w) d->pending = nullptr;
                w->deleteLater();
                if (m_wanted && reply.isValid())
                    d->fd = reply.value(); // released or not wanted: the copy closes it
                else if (m_wanted)
                    emit refused(reply.error().message());
            });
}

void KeepAwake::release() {
    m_wanted = false;
    d->fd = QDBusUnixFileDescriptor(); // closes our descriptor: the lock ends
    // A call still on its way is dropped when its answer arrives (m_wanted is false).
}

bool KeepAwake::held() const {
    return d->fd.isValid();
}

#endif

} // namespace modes
