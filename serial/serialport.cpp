#include "serialport.h"

#include "openfailure.h"

#include <QCoreApplication>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace serialio {

SerialBytePort::SerialBytePort(const QString &device, int baud, QObject *parent)
    : BytePort(parent), m_device(device), m_baud(baud) {
    m_port.setPortName(device);
    connect(&m_port, &QSerialPort::readyRead, this, &BytePort::readyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialBytePort::onError);
}

SerialBytePort::~SerialBytePort() {
    close();
}

bool SerialBytePort::open(QString *reason) {
    if (m_port.isOpen()) return true;
    m_failing = false;
    m_port.setBaudRate(m_baud);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        if (reason)
            *reason = openFailureText(m_device, deviceFacts(m_device), m_port.error(),
                                      m_port.errorString());
        m_port.clearError();
        return false;
    }
    // A pseudo-terminal refuses the modem lines; that is not an error.
    m_port.setRequestToSend(true);
    m_port.setDataTerminalReady(true);
    m_port.clearError();
#ifdef Q_OS_LINUX
    // USB adapters hold received bytes for their latency timer (16 ms) unless asked for
    // low latency; every one-byte exchange would wait that long. Refusal is harmless.
    serial_struct ss{};
    const int fd = static_cast<int>(m_port.handle());
    if (fd >= 0 && ::ioctl(fd, TIOCGSERIAL, &ss) == 0) {
        ss.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &ss);
    }
#endif
    return true;
}

void SerialBytePort::close() {
    if (m_port.isOpen()) m_port.close();
}

void SerialBytePort::setBaudRate(int baud) {
    m_baud = baud;
    if (m_port.isOpen()) m_port.setBaudRate(baud);
}

qint64 SerialBytePort::bytesAvailable() const {
    return m_port.bytesAvailable();
}

int SerialBytePort::readByte() {
    char c;
    if (m_port.bytesAvailable() <= 0 || m_port.read(&c, 1) != 1) return -1;
    return static_cast<quint8>(c);
}

void SerialBytePort::write(const QByteArray &bytes) {
    if (m_port.isOpen()) m_port.write(bytes);
}

void SerialBytePort::flush() {
    if (m_port.isOpen()) m_port.waitForBytesWritten(200);
}

void SerialBytePort::onError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
    // RTS/DTR refused by a pseudo-terminal, or a parameter it cannot take.
    case QSerialPort::UnsupportedOperationError:
    // Failures of open() itself are reported by open().
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
    case QSerialPort::NotOpenError:
        return;
    default:
        break;
    }
    if (!m_port.isOpen() || m_failing) return;
    // The device vanished: Qt would go on reporting read errors in a loop and spin a
    // core. Close at once and say it once.
    m_failing = true;
    const QString reason = lostPortText(m_device);
    m_port.clearError();
    m_port.close();
    emit failed(reason);
}

} // namespace serialio
