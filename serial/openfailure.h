#pragma once

#include <QSerialPort>
#include <QString>

namespace serialio {

// What the system says about a device that would not open, looked up after the failure.
struct DeviceFacts {
    bool exists = false;
    bool charDevice = false; // a character device (every serial port is one)
    bool accessible = false; // this user may read and write it
    QString group;           // the device's group
};

DeviceFacts deviceFacts(const QString &device);

// Why a device would not open, whatever the words the program then uses.
enum class OpenFailure {
    NoDevice,  // nothing there (unplugged?)
    NotSerial, // not a serial port
    Denied,    // this user may not use it; groupToJoin() says which group would help
    InUse,     // allowed, yet refused: another program holds it
    Other,     // the system's own reason
};
OpenFailure classifyOpenFailure(const DeviceFacts &facts, QSerialPort::SerialPortError error);
// The device's group when joining it would give access (never root's); empty otherwise.
QString groupToJoin(const DeviceFacts &facts);

// One text per kind of failure, whatever the system's own wording: missing device, not a
// serial port, not allowed (with the group to join and the command that does it), in use by
// another program, or else the system's text.
QString openFailureText(const QString &device, const DeviceFacts &facts,
                        QSerialPort::SerialPortError error, const QString &systemText);

// The port broke while open (adapter unplugged, other end gone).
QString lostPortText(const QString &device);

} // namespace serialio
