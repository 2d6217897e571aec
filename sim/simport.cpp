#include "simport.h"

#include "virtualcharger.h"

#include <QTimer>

#include <utility>

namespace sim {

SimBytePort::SimBytePort(VirtualCharger *charger, QObject *parent)
    : serialio::BytePort(parent), m_charger(charger) {
    connect(charger, &VirtualCharger::transmit, this, &SimBytePort::onTransmit);
    connect(charger, &VirtualCharger::vanishRequested, this, &SimBytePort::vanish);
}

bool SimBytePort::open(QString *reason) {
    if (!m_charger) {
        if (reason) *reason = QStringLiteral("chargeur virtuel absent");
        return false;
    }
    m_open = true;
    m_rx.clear();
    m_rxPos = 0;
    return true;
}

void SimBytePort::close() {
    m_open = false;
    m_tx.clear();
    m_rx.clear();
    m_rxPos = 0;
}

int SimBytePort::readByte() {
    if (m_rxPos >= m_rx.size()) return -1;
    const int b = quint8(m_rx.at(m_rxPos++));
    if (m_rxPos == m_rx.size()) {
        m_rx.clear();
        m_rxPos = 0;
    }
    return b;
}

void SimBytePort::write(const QByteArray &bytes) {
    if (!m_open || !m_charger) return;
    // The charger works on the bytes after the write returns, as a real one would.
    m_tx.append(bytes);
    if (!m_txQueued) {
        m_txQueued = true;
        QTimer::singleShot(0, this, &SimBytePort::flush);
    }
}

void SimBytePort::flush() {
    m_txQueued = false;
    if (m_tx.isEmpty() || !m_charger) return;
    const QByteArray bytes = std::exchange(m_tx, QByteArray());
    if (strictBaud && m_baud != m_charger->baudRate())
        m_charger->receiveGarbled(int(bytes.size()));
    else
        m_charger->receive(bytes);
}

void SimBytePort::onTransmit(const QByteArray &bytes) {
    if (!m_open) return;
    const bool garbled = strictBaud && m_charger && m_baud != m_charger->baudRate();
    m_rx.append(garbled ? QByteArray(bytes.size(), char(0xF8)) : bytes);
    if (!m_notifyQueued) {
        m_notifyQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_notifyQueued = false;
            if (m_open && bytesAvailable() > 0) emit readyRead();
        });
    }
}

void SimBytePort::vanish() {
    if (!m_open) return;
    close();
    emit failed(deviceName() + QStringLiteral(" : le port a disparu"));
}

} // namespace sim
