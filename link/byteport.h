#pragma once

#include <QObject>
#include <QString>

namespace chlink {

// The byte pipe to a charger: a real serial port or the in-process virtual charger.
// Nothing above the link knows which one it talks to.
class BytePort : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;
    ~BytePort() override = default;

    // Opens with 8N1, no flow control, RTS and DTR raised. On failure returns false
    // and puts a readable reason (with the device) in *reason.
    virtual bool open(QString *reason) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual void setBaudRate(int baud) = 0;
    virtual int baudRate() const = 0;
    virtual qint64 bytesAvailable() const = 0;
    // Reads one pending byte; -1 when nothing is pending.
    virtual int readByte() = 0;
    virtual void write(const QByteArray &bytes) = 0;
    // Blocks until written bytes have left (only for the real port; used before a close
    // so a last command is not lost).
    virtual void flush() {}
    // What the user sees in the port list: "/dev/ttyUSB0", "virtual charger", ...
    virtual QString deviceName() const = 0;

  signals:
    void readyRead();
    // The port broke while open (adapter unplugged, other side closed). Emitted once;
    // the port is closed when this is emitted.
    void failed(const QString &reason);
};

} // namespace chlink
