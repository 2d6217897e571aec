#include "bootport.h"

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace loader {

SerialBootPort::SerialBootPort(const QString &device, QObject *parent)
    : BootPort(parent), m_device(device) {
    m_port.setPortName(device);
    connect(&m_port, &QSerialPort::readyRead, this, &BootPort::readyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialBootPort::onError);
}

SerialBootPort::~SerialBootPort() {
    close();
}

static QString openErrorText(QSerialPort::SerialPortError e) {
    switch (e) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("périphérique introuvable");
    case QSerialPort::PermissionError:
        return QStringLiteral("accès refusé (port déjà utilisé ou droits insuffisants)");
    case QSerialPort::OpenError:
        return QStringLiteral("port déjà ouvert");
    default:
        return QString();
    }
}

bool SerialBootPort::open(QString *reason) {
    if (m_port.isOpen()) return true;
    if (m_device.isEmpty()) {
        if (reason) *reason = QStringLiteral("aucun port série associé");
        return false;
    }
    m_failing = false;
    m_port.setBaudRate(kBaud);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        if (reason) {
            QString why = openErrorText(m_port.error());
            if (why.isEmpty()) why = m_port.errorString();
            *reason = m_device + QStringLiteral(" : ") + why;
        }
        m_port.clearError();
        return false;
    }
    // A pseudo-terminal refuses the modem lines; the boot loader does not need them there.
    m_port.setRequestToSend(true);
    m_port.setDataTerminalReady(true);
    m_port.clearError();
#ifdef Q_OS_LINUX
    // USB adapters otherwise hold each answer byte for their latency timer (16 ms).
    serial_struct ss{};
    const int fd = static_cast<int>(m_port.handle());
    if (fd >= 0 && ::ioctl(fd, TIOCGSERIAL, &ss) == 0) {
        ss.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &ss);
    }
#endif
    return true;
}

void SerialBootPort::close() {
    if (m_port.isOpen()) m_port.close();
}

int SerialBootPort::readByte() {
    char c;
    if (m_port.bytesAvailable() <= 0 || m_port.read(&c, 1) != 1) return -1;
    return static_cast<quint8>(c);
}

void SerialBootPort::write(const QByteArray &bytes) {
    if (m_port.isOpen()) m_port.write(bytes);
}

void SerialBootPort::flush() {
    if (m_port.isOpen()) m_port.waitForBytesWritten(200);
}

void SerialBootPort::onError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
    case QSerialPort::UnsupportedOperationError: // RTS/DTR refused by a pseudo-terminal
    case QSerialPort::DeviceNotFoundError:       // open() reports its own failures
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
    case QSerialPort::NotOpenError:
        return;
    default:
        break;
    }
    if (!m_port.isOpen() || m_failing) return;
    // The device vanished. Qt would keep reporting read errors and spin a core: close at
    // once and say it once.
    m_failing = true;
    const QString reason = m_device + QStringLiteral(" : ") + m_port.errorString();
    m_port.clearError();
    m_port.close();
    emit failed(reason);
}

} // namespace loader
