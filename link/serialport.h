#pragma once

#include "byteport.h"

#include <QSerialPort>

namespace chlink {

// BytePort over QSerialPort.
class SerialBytePort : public BytePort {
    Q_OBJECT
  public:
    explicit SerialBytePort(const QString &device, QObject *parent = nullptr);
    ~SerialBytePort() override;

    bool open(QString *reason) override;
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    void setBaudRate(int baud) override;
    int baudRate() const override { return m_baud; }
    qint64 bytesAvailable() const override;
    int readByte() override;
    void write(const QByteArray &bytes) override;
    void flush() override;
    QString deviceName() const override { return m_device; }

  private:
    void onError(QSerialPort::SerialPortError error);

    QString m_device;
    QSerialPort m_port;
    int m_baud = 9600;
    bool m_failing = false;
};

} // namespace chlink
