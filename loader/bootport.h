#pragma once

#include "serial/byteport.h"
#include "serial/commap.h"
#include "serial/serialport.h"

namespace loader {

// The byte pipe to the boot loader. The real one is a serial port at the boot loader's
// speed; tests put the virtual charger or a scripted fake behind the same interface.
using BootPort = serialio::BytePort;

class SerialBootPort : public serialio::SerialBytePort {
    Q_OBJECT
  public:
    static constexpr int kBaud = 19200;
    explicit SerialBootPort(const QString &device, QObject *parent = nullptr)
        : serialio::SerialBytePort(device, kBaud, parent) {}
};

using serialio::ComMap;
// sparlo offers "COM 1" to "COM 12".
constexpr int kComPorts = 12;

} // namespace loader
