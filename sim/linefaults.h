#pragma once

#include "faults.h"

#include <QByteArray>

#include <functional>
#include <optional>

namespace sim {

// The charger's end of the serial line with its injected faults: every byte the charger
// sends goes through here (silence after n bytes, stray bytes before replies), and so does
// every byte it receives (the port vanishing after n bytes). Also the flash and boot loader
// faults that the firmware and the boot loader consult.
class LineFaults {
  public:
    using Transmit = std::function<void(const QByteArray &)>;
    LineFaults(Faults &faults, Transmit transmit);

    // ---- Receiving ----
    // The line is gone: nothing more reaches the charger.
    bool gone() const { return m_faults.vanishAfterBytes == 0; }
    // Counts one byte taken by the charger; true when the port must vanish now.
    bool byteTaken();

    // ---- Sending ----
    void send(const QByteArray &bytes);  // raw output, subject to the silence fault
    void reply(const QByteArray &bytes); // a reply, subject to the stray-byte faults
    void frame(const QByteArray &data);  // a reply frame: 27, the data, a trailing 0

    // ---- Memory faults ----
    // Whether the flash write at `address` fails (and uses up one failure if so).
    bool flashWriteFails(int address);
    void failFlashWrites(int count, int address);
    // Whether a write to the EEPROM cell fails (a worn cell: every write there fails).
    bool eepromWriteFails(EepromMemory memory, int address) const {
        return m_faults.failingEepromCells.contains(eepromCell(memory, address));
    }
    // Boot loader: the scripted answer for the block at byteAddress, if one is left.
    std::optional<quint8> takeBootAnswer(int byteAddress);
    void scriptBootAnswer(int byteAddress, quint8 answer, int times);

  private:
    Faults &m_faults;
    Transmit m_transmit;
    int m_replies = 0;
};

} // namespace sim
