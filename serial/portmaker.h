#pragma once

#include "byteport.h"

#include <QPointer>
#include <QString>
#include <functional>

namespace serialio {

// Makes the one port object of a link for the device its COM number stands for, and
// replaces it when the number comes to mean another device.
class PortMaker {
  public:
    using Factory = std::function<BytePort *(const QString &device)>;
    using Resolver = std::function<QString(int portNumber)>;

    PortMaker(Factory factory, Resolver resolver)
        : m_factory(std::move(factory)), m_resolver(std::move(resolver)) {}

    // When `port` is missing or was made for another device than portNumber's, closes it,
    // deletes it later (a wait may still hold a connection to it) and makes a new one owned
    // by `owner`; a number with no device gets no port. True when `port` was replaced
    // (possibly by nothing).
    bool renew(QPointer<BytePort> &port, int portNumber, QObject *owner) {
        const QString device = m_resolver ? m_resolver(portNumber) : QString();
        if (port && device == m_device) return false;
        if (port) {
            port->close();
            port->disconnect(owner);
            port->deleteLater();
        }
        m_device = device;
        port = (m_factory && !device.isEmpty()) ? m_factory(device) : nullptr;
        if (port) port->setParent(owner);
        return true;
    }
    QString device() const { return m_device; }

    // Closes and deletes the port (the owner is going away).
    static void dispose(QPointer<BytePort> &port) {
        if (!port) return;
        port->close();
        delete port;
    }

  private:
    Factory m_factory;
    Resolver m_resolver;
    QString m_device;
};

} // namespace serialio
