#include "handshake.h"

#include "chargerlink.h"
#include "exchanges.h"
#include "numtext.h"

namespace chlink {

Handshake::Handshake(ChargerLink &link, QTimer *timer1, QTimer *timer2, QObject *parent)
    : QObject(parent), m_link(link), m_timer1(timer1), m_timer2(timer2) {}

void Handshake::cancel() {
    if (!m_running) return;
    m_cancel = true;
    m_link.wake();
}

void Handshake::stopRetryTimer() {
    if (m_timer1) m_timer1->stop();
    // A tick between the last probe and here would leave every later wait returning at once.
    m_link.setAbortFlag(0);
}

Handshake::Result Handshake::run() {
    if (m_running) {
        m_restart = true;
        m_link.wake();
        return Result::Cancelled;
    }
    m_running = true;
    Result r;
    bool restarting = false;
    do {
        m_restart = false;
        m_cancel = false;
        if (restarting) // start from a closed port, as a fresh reconnection does
            m_link.closePort();
        r = runOnce();
        restarting = true;
    } while (m_restart && !m_cancel);
    m_running = false;
    m_cancel = false;
    return r;
}

Handshake::Result Handshake::runOnce() {
    const auto stopped = [this] { return m_cancel || m_restart || m_link.isShuttingDown(); };
    if (m_timer1) m_timer1->start();
    m_link.setProbeTimeoutFlag(0);
    bool connected = false;
    int counter = 0;
    quint8 lastDrained = 0;
    const auto drain = [&] {
        int b;
        while ((b = m_link.readPending()) >= 0)
            lastDrained = quint8(b);
    };

    QString reason;
    if (!m_link.openPort(&reason)) {
        stopRetryTimer();
        m_link.portFault = true;
        emit portError(reason);
        return Result::PortError;
    }
    drain();

    while (!connected) {
        if (stopped()) {
            stopRetryTimer();
            return Result::Cancelled;
        }
        if (!m_link.isOpen()) {
            stopRetryTimer();
            return Result::PortLost;
        }
        if (m_link.abortFlag()) {
            m_link.setAbortFlag(0);
            emit display(QStringLiteral("Essais de Connection\r\n") + numText(counter));
            ++counter;
            m_link.sendByte(PROBE);
            m_link.setProbeTimeoutFlag(0);
            if (m_timer2) {
                m_timer2->setInterval(kProbeWaitMs);
                m_timer2->start();
            }
            m_link.waitUntil(
                [&] { return m_link.pending() > 0 || m_link.probeTimeoutFlag() || stopped(); },
                kProbeWaitMs * 4);
            if (m_timer2) m_timer2->stop();
            drain();
            if (lastDrained == ESC && !stopped()) {
                m_link.sendByte(CONFIRM);
                m_link.waitUntil([&] { return m_link.pending() > 0 || stopped(); }, kConfirmWaitMs);
                drain();
                if (lastDrained == PROBE) {
                    stopRetryTimer();
                    connected = true;
                    m_link.connectionFlag = 1;
                }
            }
        }
        if (!connected) // sleep until the next tick of the retry timer
            m_link.waitUntil([&] { return m_link.abortFlag() || stopped(); }, -1);
    }

    stopRetryTimer();
    drain();
    emit display(QStringLiteral("Connecté"));

    Session session(m_link);
    const auto status = linkStatus(session);
    if (!status) {
        if (m_link.error() == LinkError::Timeout) emit timedOut(QStringLiteral("Test de liaison"));
        return m_link.error() == LinkError::PortFailed ? Result::PortLost : Result::Timeout;
    }
    const int a = quint8(status->at(0)), b = quint8(status->at(1)), c = quint8(status->at(2));
    const QString i2c = QStringLiteral("I2C err :") + numText(a) + QLatin1Char(',') + numText(b) +
                        QLatin1Char(',') + numText(c);
    emit display(QStringLiteral("Srl Connecté\r\n") +
                 (c == ACK ? QStringLiteral("Slave Connecté.") : i2c));

    emit loadVisible(true);
    for (int t = 0; t < 2; ++t) {
        QByteArray &table = t == 0 ? m_link.tableA : m_link.tableB;
        for (int i = 0; i < 16; ++i) {
            emit loadProgress(i + 16 * t, 32);
            const auto v = eeRead(session, t == 0 ? 1 : 2, quint8(i));
            if (!v) {
                emit loadVisible(false);
                if (m_link.error() == LinkError::Timeout)
                    emit timedOut(
                        QStringLiteral("Lecture EEPROM %1 adresse %2 :")
                            .arg(t == 0 ? QStringLiteral("maître") : QStringLiteral("esclave"))
                            .arg(i));
                return m_link.error() == LinkError::PortFailed ? Result::PortLost : Result::Timeout;
            }
            table[i] = char(*v);
        }
    }
    emit loadVisible(false);
    return Result::Connected;
}

} // namespace chlink
