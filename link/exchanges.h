#pragma once

#include "session.h"

#include <QByteArray>
#include <optional>

namespace chlink {

// The charger's clock.
struct ClockTime {
    int hours = 0, minutes = 0, seconds = 0;
    int totalSeconds() const { return 3600 * hours + 60 * minutes + seconds; }
};

// The short exchanges every window uses: one command and its reply kind. Each returns
// nothing (or false) when the charger did not answer; session.error() says why. Exchanges
// of a single window belong in that window's folder, written the same way. A Session is a
// light handle on the one link, taken by value.

// Frame of 2: 256 * high + low.
std::optional<int> readChannel(Session s, Cmd code);
// 27, code, value and its answer byte.
bool setOutput(Session s, Cmd code, quint8 value);
// Frame of 3: hours, minutes, seconds.
std::optional<ClockTime> readClock(Session s);
// One byte of a controller's internal EEPROM (target 1 master, 2 slave), frame of 1.
std::optional<quint8> eeRead(Session s, int target, quint8 address);
// Writes one byte and waits for the ACK.
bool eeWrite(Session s, int target, quint8 address, quint8 value);
// Writes one byte and takes the first byte of the answer.
bool eeWriteAnswerByte(Session s, int target, quint8 address, quint8 value);
// The link test: frame of 3 (the third byte 6 when the slave answered).
std::optional<QByteArray> linkStatus(Session s);

} // namespace chlink
