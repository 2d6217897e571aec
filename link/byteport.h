#pragma once

#include "serial/byteport.h"
#include "serial/serialport.h"

namespace chlink {
using serialio::BytePort;
using serialio::SerialBytePort;
} // namespace chlink
