#pragma once

// The program-memory exchanges of the microcontroller window, written against the session:
// read-back of a controller's program words (commands 45/46), the master's block write
// (command 47) and the slave's word write (command 48). Every reply wait is bounded; on a
// time-out, a refused write or a stop request the transfer stops and says which address
// it reached.

#include "link/session.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <functional>

namespace firmware {

// Master flash programming covers 0x1000..0x7FFF in blocks of 64 bytes (448 blocks): the
// first 4096 bytes are never sent.
constexpr int kMasterWriteFirst = 0x1000;
constexpr int kMasterBlockBytes = 64;
constexpr int kMasterBlocks = (0x8000 - kMasterWriteFirst) / kMasterBlockBytes;
// Slave words 6144..8191 are the slave's protected zone.
constexpr int kSlaveProtectedFirst = 6144;

// What a transfer reports as it goes, and how its window stops it.
struct FlashProgress {
    std::function<void(int)> bar;              // ProgBar1 value
    std::function<void(const QString &)> info; // LBinfos caption
    // Asked before each exchange: true stops the transfer there (the window is closing).
    std::function<bool()> stopRequested;
};

enum class Transfer { ReadBack, MasterWrite, SlaveWrite, Verify };

struct FlashResult {
    Transfer transfer = Transfer::ReadBack;
    bool ok = false;
    bool stopped = false; // stopped by stopRequested, not by a fault
    chlink::LinkError linkError = chlink::LinkError::None;
    int refusal = -1;  // the charger's answer to a write when it was not the ACK 6
    int address = 0;   // the address (byte for the master, word for the slave) reached
    QString error;     // French, where and why the transfer stopped; empty when ok
    int exchanges = 0; // commands sent
    int done = 0;      // blocks or words acknowledged (read for a read-back)
    int total = 0;     // blocks or words the transfer had to send or read
    int target = 1;    // 1 master, 2 slave
};

// The message box text of a transfer that did not end: where and why it stopped, then
// what that leaves in the controller's memory (partly written, unchanged, not verified).
QString stopReport(const FlashResult &r);

// Reads words 0..lastWord (inclusive) of the program memory of `target` (1 master with
// command 45, 2 slave with 46) into *words (resized to lastWord + 1). A slave word above
// 0x3FFF is a read error.
FlashResult readFlash(chlink::Session &session, int target, int lastWord, QVector<quint16> *words,
                      const FlashProgress &progress = {});

// Sends the 448 blocks of 64 bytes of `image` (0x8000 bytes) from 0x1000 upwards, each
// acknowledged before the next. The charger answers each block with one byte: 6 when it
// wrote it; any other answer is a refusal and stops the transfer at once.
FlashResult writeMasterFlash(chlink::Session &session, const QByteArray &image,
                             const FlashProgress &progress = {});

// Sends, in index order, every word of `image` whose `changed` flag is set; `remaining`
// starts at the number of changed words and is shown as it counts down. Answers as for
// the master's blocks.
FlashResult writeSlaveFlash(chlink::Session &session, const QVector<quint16> &image,
                            const QVector<bool> &changed, const FlashProgress &progress = {});

// Reads back each changed word after a slave write and compares it with the image.
struct VerifyResult {
    FlashResult read; // ok false when the read-back itself failed
    int mismatches = 0;
    int firstMismatch = -1;
};
VerifyResult verifySlaveFlash(chlink::Session &session, const QVector<quint16> &image,
                              const QVector<bool> &changed, const FlashProgress &progress = {});

// The comparison of the slave image with the read-back over words 0..lastWord.
struct SlaveDiff {
    QVector<bool> changed; // same size as the image
    int count = 0;
    int protectedCount = 0; // changes at word 6144 and above
};
SlaveDiff compareSlave(const QVector<quint16> &image, const QVector<quint16> &readBack,
                       int lastWord);

// Where the data of a master HEX text lie within [from, to), from the spans its records
// wrote. first and last are -1 and count 0 when no byte of [from, to) is defined, or when
// the text does not load.
struct DataExtent {
    int first = -1;
    int last = -1;
    int count = 0;
};
DataExtent masterDataExtent(const QByteArray &text, int from = 0, int to = 0x8000);

// "0x1040": addresses in reports.
QString hexAddress(int address);

} // namespace firmware
