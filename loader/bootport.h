#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

namespace loader {

// The byte pipe to the boot loader. The real one is a serial port; tests put the virtual
// charger or a scripted fake behind the same interface.
class BootPort : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;
    ~BootPort() override = default;

    // Opens at 19200 baud, 8N1, no flow control, RTS and DTR raised. On failure returns
    // false with a readable reason (naming the device) in *reason.
    virtual bool open(QString *reason) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual qint64 bytesAvailable() const = 0;
    // One pending byte, or -1 when nothing is pending.
    virtual int readByte() = 0;
    virtual void write(const QByteArray &bytes) = 0;
    // Lets written bytes leave before a close (real port only).
    virtual void flush() {}
    virtual QString deviceName() const = 0;

  signals:
    void readyRead();
    // The port broke while open (adapter unplugged, other end gone). Emitted once; the
    // port is already closed when this is emitted.
    void failed(const QString &reason);
};

// BootPort over QSerialPort.
class SerialBootPort : public BootPort {
    Q_OBJECT
  public:
    static constexpr int kBaud = 19200;

    explicit SerialBootPort(const QString &device, QObject *parent = nullptr);
    ~SerialBootPort() override;

    bool open(QString *reason) override;
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    qint64 bytesAvailable() const override { return m_port.bytesAvailable(); }
    int readByte() override;
    void write(const QByteArray &bytes) override;
    void flush() override;
    QString deviceName() const override { return m_device; }

  private:
    void onError(QSerialPort::SerialPortError error);

    QString m_device;
    QSerialPort m_port;
    bool m_failing = false;
};

} // namespace loader
