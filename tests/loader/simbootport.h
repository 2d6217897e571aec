#pragma once

// The virtual charger behind sparlo's port interface, in-process. Replies arrive on the
// event loop, never inside write(), as they would from a real port.

#include "loader/bootport.h"
#include "sim/virtualcharger.h"

#include <QPointer>
#include <QTimer>

class SimBootPort : public loader::BootPort {
    Q_OBJECT
  public:
    explicit SimBootPort(sim::VirtualCharger *charger, QObject *parent = nullptr)
        : loader::BootPort(parent), m_charger(charger) {
        connect(charger, &sim::VirtualCharger::transmit, this, [this](const QByteArray &b) {
            if (!m_open) return;
            m_rx += b;
            if (!m_notify) {
                m_notify = true;
                QTimer::singleShot(0, this, [this] {
                    m_notify = false;
                    if (m_open && !m_rx.isEmpty()) emit readyRead();
                });
            }
        });
        connect(charger, &sim::VirtualCharger::vanishRequested, this, [this] {
            if (!m_open) return;
            m_open = false;
            QTimer::singleShot(0, this,
                               [this] { emit failed(QStringLiteral("virtuel : disparu")); });
        });
    }
    bool open(QString *) override {
        m_open = true;
        m_rx.clear();
        return true;
    }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    qint64 bytesAvailable() const override { return m_rx.size(); }
    int readByte() override {
        if (m_rx.isEmpty()) return -1;
        const int b = quint8(m_rx.at(0));
        m_rx.remove(0, 1);
        return b;
    }
    void write(const QByteArray &bytes) override {
        if (m_open && m_charger) m_charger->receive(bytes);
    }
    QString deviceName() const override { return QStringLiteral("virtual"); }

  private:
    QPointer<sim::VirtualCharger> m_charger;
    QByteArray m_rx;
    bool m_open = false;
    bool m_notify = false;
};
