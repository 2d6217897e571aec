#pragma once

#include <QList>
#include <QString>
#include <functional>

namespace serialio {

class ComMap;

// A serial device as the system lists it.
struct SerialDevice {
    QString device; // what a port is opened with: "/dev/ttyUSB0", "COM3"
    QString description;
    QString manufacturer;
    QString serialNumber;
    QString usbIds; // "0403:6001", or empty when the system gives no USB ids
};

// Every serial device the system lists, in device-name order (numbers in names compared as
// numbers: ttyS2 before ttyS10).
QList<SerialDevice> serialDevices();

// Replaces where serialDevices() asks (tests); an empty lister asks the system again.
using DeviceLister = std::function<QList<SerialDevice>()>;
void setDeviceLister(DeviceLister lister);

// One line: "/dev/ttyUSB0  FT232R USB UART (0403:6001)"; the manufacturer stands in for a
// missing description.
QString deviceLine(const SerialDevice &d);

// For the command line, in English: the COM table ("COM 1  /dev/ttyUSB0  ...") then the
// devices found.
QString describePorts(const ComMap &map, const QList<SerialDevice> &devices);

// For the program's boxes, in French: the devices found, one a line, or that none was found.
QString foundDevicesText(const QList<SerialDevice> &devices);
// A port error's reason followed by the devices the system lists now, so that the user sees
// which one to pick.
QString withFoundDevices(const QString &reason);

// Name order with the digits of a name compared as numbers.
bool deviceNameLess(const QString &a, const QString &b);

} // namespace serialio
