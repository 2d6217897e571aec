#pragma once

#include "link/byteport.h"

#include <QTimer>
#include <functional>

// A byte port whose "charger" is a function of the bytes written: whatever it returns is
// delivered on the event loop, as a real port would. Records everything written.
class ScriptedPort : public chlink::BytePort {
    Q_OBJECT
  public:
    using Script = std::function<QByteArray(const QByteArray &written)>;

    explicit ScriptedPort(Script script = {}, QObject *parent = nullptr)
        : chlink::BytePort(parent), script(std::move(script)) {}

    Script script;
    QByteArray written;
    bool openOk = true;
    int opens = 0;

    bool open(QString *reason) override {
        if (!openOk) {
            if (reason) *reason = QStringLiteral("test: refused");
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
    void setBaudRate(int b) override { m_baud = b; }
    int baudRate() const override { return m_baud; }
    qint64 bytesAvailable() const override { return m_rx.size(); }
    int readByte() override {
        if (m_rx.isEmpty()) return -1;
        const int b = quint8(m_rx.at(0));
        m_rx.remove(0, 1);
        return b;
    }
    void write(const QByteArray &bytes) override {
        if (!m_open) return;
        written += bytes;
        if (script) deliver(script(bytes));
    }
    QString deviceName() const override { return QStringLiteral("scripted"); }

    // Bytes arriving from the charger's side, on the event loop.
    void deliver(const QByteArray &bytes) {
        if (bytes.isEmpty()) return;
        QTimer::singleShot(0, this, [this, bytes] {
            if (!m_open) return;
            m_rx += bytes;
            emit readyRead();
        });
    }
    void breakDown() {
        m_open = false;
        emit failed(QStringLiteral("scripted : device vanished"));
    }

  private:
    bool m_open = false;
    int m_baud = 9600;
    QByteArray m_rx;
};
