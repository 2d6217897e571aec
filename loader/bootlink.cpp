#include "bootlink.h"

#include <QCoreApplication>

namespace loader {

BootLink::BootLink(PortFactory factory, PortResolver resolver, QObject *parent)
    : QObject(parent), m_maker(std::move(factory), std::move(resolver)) {
    connect(&m_waiter, &serialio::ByteWaiter::portLost, this, &BootLink::onPortFailed);
}

BootLink::~BootLink() {
    serialio::PortMaker::dispose(m_port);
}

void BootLink::portSetup() {
    if (m_maker.renew(m_port, portNumber, this)) m_waiter.setPort(m_port);
    connectionState = 1;
    portFault = false;
}

bool BootLink::openPort(QString *reason) {
    if (!m_port) portSetup();
    if (!m_port) {
        if (reason) *reason = QStringLiteral("aucun port série associé");
        return false;
    }
    if (m_port->isOpen()) return true;
    m_waiter.clearFailure();
    m_failReason.clear();
    return m_port->open(reason);
}

void BootLink::closePort() {
    if (m_port && m_port->isOpen()) {
        m_port->flush(); // the last bytes (the end sequence) go out before the close
        m_port->close();
    }
}

bool BootLink::isOpen() const {
    return m_port && m_port->isOpen();
}

void BootLink::sendByte(quint8 b) {
    send(QByteArray(1, char(b)));
}

void BootLink::send(const QByteArray &bytes) {
    if (isOpen()) m_port->write(bytes);
}

int BootLink::drain() {
    int last = -1;
    while (isOpen() && m_port->bytesAvailable() > 0) {
        const int b = m_port->readByte();
        if (b < 0) break;
        last = b;
    }
    return last;
}

WaitResult BootLink::waitByte(int timeoutMs) {
    lastByte = 0;
    if (!isOpen()) return m_waiter.portFailed() ? WaitResult::PortFailed : WaitResult::NotOpen;
    return m_waiter.waitByte(timeoutMs, &lastByte);
}

void BootLink::sleep(int ms) {
    m_waiter.sleep(ms);
}

HandshakeResult BootLink::handshake(const std::function<void(int)> &onProbe, int maxProbes) {
    if (stopped()) return HandshakeResult::Stopped;
    m_inHandshake = true;
    m_closeAfterProbe = false;
    struct Leave {
        BootLink *link;
        ~Leave() { link->m_inHandshake = false; }
    } leave{this};

    QString reason;
    if (!isOpen() && !openPort(&reason)) {
        m_failReason = reason;
        return HandshakeResult::PortError;
    }
    drain();
    userDisconnected = false;
    drain();
    for (int n = 0;; ++n) {
        if (onProbe) onProbe(n);
        connectionState = 2;
        QCoreApplication::processEvents();
        if (stopped()) return HandshakeResult::Stopped;
        if (!userDisconnected) {
            sendByte(kProbe1);
            sendByte(kProbe2);
        }
        connectionState = 0;
        if (!userDisconnected) sleep(kProbeMs);
        if (stopped()) return HandshakeResult::Stopped;
        if (m_waiter.portFailed() || !isOpen()) {
            if (userDisconnected && !m_waiter.portFailed()) return HandshakeResult::Disconnected;
            return HandshakeResult::PortError;
        }
        if (drain() == kAnswer && !userDisconnected) {
            connectionState = 1;
            return HandshakeResult::Connected;
        }
        if (userDisconnected) {
            if (m_closeAfterProbe) {
                // The probe has gone out; now the port may close.
                m_port->flush();
                closePort();
            }
            return HandshakeResult::Disconnected;
        }
        if (maxProbes > 0 && n + 1 >= maxProbes) return HandshakeResult::GaveUp;
    }
}

void BootLink::disconnectPort() {
    if (m_inHandshake) {
        // The handshake is waiting below us: let its probe finish, it closes the port.
        m_closeAfterProbe = true;
        userDisconnected = true;
        m_waiter.wake();
        return;
    }
    if (isOpen()) {
        m_port->flush();
        closePort();
    }
    m_waiter.wake(); // an upload waiting for an answer stops at once
}

void BootLink::stop() {
    m_waiter.stop();
}

void BootLink::onPortFailed(const QString &reason) {
    // The waiter has marked the port failed (once per failure) and woken every wait.
    m_failReason = reason;
    connectionState = 0;
    emit portLost(reason);
}

} // namespace loader
