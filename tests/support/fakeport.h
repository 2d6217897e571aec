#pragma once

#include "serial/byteport.h"

#include <QTimer>

// A byte port whose device is played by the test: what the device sends is queued and
// arrives on the event loop, as it would from a real port. Subclasses decide what the device
// answers in write().
class FakePort : public serialio::BytePort {
    Q_OBJECT
  public:
    using serialio::BytePort::BytePort;

    bool openOk = true; // false: open() refuses, as a missing or busy device does
    int opens = 0;

    bool open(QString *reason) override {
        if (!openOk) {
            if (reason) *reason = deviceName() + QStringLiteral(" : refused");
            return false;
        }
        ++opens;
        m_open = true;
        return true;
    }
    void close() override {
        m_open = false;
        m_rx.clear();
    }
    bool isOpen() const override { return m_open; }
    void setBaudRate(int baud) override { m_baud = baud; }
    int baudRate() const override { return m_baud; }
    qint64 bytesAvailable() const override { return m_rx.size(); }
    int readByte() override {
        if (m_rx.isEmpty()) return -1;
        const int b = quint8(m_rx.at(0));
        m_rx.remove(0, 1);
        return b;
    }
    QString deviceName() const override { return QStringLiteral("fake"); }

    // Bytes from the device's side, after delayMs, on the event loop.
    void deliver(const QByteArray &bytes, int delayMs = 0) {
        if (bytes.isEmpty()) return;
        QTimer::singleShot(delayMs, this, [this, bytes] {
            if (!m_open) return;
            m_rx += bytes;
            emit readyRead();
        });
    }
    // The adapter is unplugged.
    void vanish() {
        m_open = false;
        emit failed(deviceName() + QStringLiteral(" : device vanished"));
    }

  protected:
    bool m_open = false;
    int m_baud = 9600;
    QByteArray m_rx;
};
