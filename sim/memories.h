#pragma once

#include <QByteArray>
#include <QVector>

#include <cmath>

namespace sim {

// The charger's design constants. What this unit's converters and potentiometers really do
// is its hardware truth (truth.h); the factory calibration in the internal EEPROMs is
// computed from that truth, within the factory bench's errors.
namespace hw {
constexpr int kAdcMax = 1023;
constexpr int kPotCoefficient = 50; // nominal potentiometer steps per ampere

// The delta amplifier: (battery volts - offset) * gain * 50 counts per volt. The offset
// potentiometer steps 15 mV (0 to 3.8 V); the gain doubles every 64 steps (1 to 15.8), fine
// enough at low gain for an adjustment in steps of ten to land close to its target.
constexpr double kDeltaCountsPerVolt = 50.0;
constexpr double kDeltaOffsetStep = 0.015;
inline double deltaGain(int gainPot) {
    return std::exp2(gainPot / 64.0);
}
} // namespace hw

// Calibration constants (of HardwareTruth::unit(), within the factory's errors) and an
// identification text, as the factory leaves them.
QByteArray defaultMasterEeprom();
QByteArray defaultSlaveEeprom();

// The first external EEPROM: 256 text records of 16 characters.
QByteArray defaultTextEeprom();
// The second: a header record and charge programs of 32 bytes.
QByteArray defaultProgramEeprom();

constexpr int kExtEepromBytes = 4096;

// The charger's memories, with their factory contents (the tests may look at or set them
// through the virtual charger).
struct ChargerMemories {
    ChargerMemories();

    // The internal EEPROMs of the master and the slave.
    QByteArray eepromMaster;
    QByteArray eepromSlave;
    QByteArray extEeprom[2];     // the two external EEPROMs, 4096 bytes each
    QByteArray masterFlash;      // 32768 bytes, byte-addressed, erased 0xFF
    QVector<quint16> slaveFlash; // 8192 words of 14 bits, erased 0x3FFF
    bool slavePresent = true;

    static constexpr int kMasterFlashBytes = 32768;
    static constexpr int kSlaveFlashWords = 8192;
    // The boot loader lives at the top of the master's memory and refuses to overwrite it.
    static constexpr int kBootLoaderStart = 0x7800;
};

} // namespace sim
