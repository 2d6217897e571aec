#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSet>

namespace sim {

// The EEPROMs a write command reaches: the master's and the slave's internal ones (commands
// 39, 40) and the two external ones (command 50, device 0 or 1).
enum class EepromMemory { Master, Slave, External0, External1 };
constexpr int eepromCell(EepromMemory m, int address) {
    return int(m) << 16 | address;
}

// Misbehaviours the virtual charger can be told to show, so that every failure path of the
// programs can be exercised. All are off by default.
struct Faults {
    // The charger sends this many more bytes, then nothing at all (-1: never silent).
    qint64 silenceAfterBytes = -1;
    // Bytes sent once before the next reply (consumed by that reply).
    QByteArray strayOnce;
    // Bytes sent before every n-th reply (0: never).
    int strayEvery = 0;
    QByteArray strayBytes = QByteArray(1, char(0x11));
    // The port disappears after the charger has received this many more bytes (-1: never).
    qint64 vanishAfterBytes = -1;
    // Boot loader: scripted answers (7 NACK, 8 ERFLASH) for the block at a byte address; each
    // arrival of that block takes the next answer, then the block is handled normally.
    QMap<int, QList<quint8>> bootAnswers;
    // Flash writes (commands 47 and 48, boot loader blocks) that fail: how many of the next
    // writes fail, at the given address (master byte address or slave word address, -1 for
    // any). A failed write leaves the memory untouched; the boot loader answers 8 and the
    // firmware answers 8 in place of its ACK.
    int flashFailures = 0;
    int flashFailAddress = -1;
    // EEPROM cells whose writes fail (worn cells), as eepromCell() keys. Such a write takes
    // its time and is acknowledged as any other (the charger has no error reply), but the
    // cell keeps its old byte: only a read-back shows the failure.
    QSet<int> failingEepromCells;
};

} // namespace sim
