#pragma once

#include "serial/byteport.h"

#include <QByteArray>
#include <QPointer>

namespace sim {

class VirtualCharger;

// The in-process virtual charger behind the link's byte-port interface. Replies arrive
// on the event loop, never inside write(), as they would from a real port.
class SimBytePort : public serialio::BytePort {
    Q_OBJECT
  public:
    explicit SimBytePort(VirtualCharger *charger, QObject *parent = nullptr);

    bool open(QString *reason) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    void setBaudRate(int baud) override { m_baud = baud; }
    int baudRate() const override { return m_baud; }
    qint64 bytesAvailable() const override { return m_rx.size() - m_rxPos; }
    int readByte() override;
    void write(const QByteArray &bytes) override;
    // Hands the written bytes to the charger now (before a close, as a real port drains).
    void flush() override;
    QString deviceName() const override { return QStringLiteral("chargeur virtuel"); }

    // With a strict line, bytes pass only when this port's speed is the charger's line
    // speed; otherwise the charger drops what it receives and the PC reads 0xF8s.
    bool strictBaud = false;

    // Makes the port break as an unplugged adapter would.
    void vanish();

  private:
    void onTransmit(const QByteArray &bytes);

    QPointer<VirtualCharger> m_charger;
    QByteArray m_rx;
    QByteArray m_tx; // written, not yet taken by the charger
    bool m_txQueued = false;
    qsizetype m_rxPos = 0;
    bool m_open = false;
    bool m_notifyQueued = false;
    int m_baud = 9600;
};

} // namespace sim
