#pragma once

// The external EEPROM editor's transfers on the session: a whole memory read byte by byte
// (command 49, a reply frame of one byte each) and a list of bytes written (command 50, each
// acknowledged by a 6 before the next). Every wait is bounded; after each one the transfer
// stops at once when its window asks (closing) or the link failed, and says where.

#include "exteeprlogic.h"
#include "link/session.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <functional>

namespace diag::exteepr {

struct TransferProgress {
    // After each byte: its address and the bytes done so far.
    std::function<void(int address, int done)> step;
    // Asked after each wait: true stops the transfer there.
    std::function<bool()> stopRequested;
};

struct TransferResult {
    bool ok = false;
    bool stopped = false; // stopped on request, not by a fault
    chlink::LinkError linkError = chlink::LinkError::None;
    int address = 0; // the address the transfer stopped at
    int done = 0;    // bytes read, or written and acknowledged
    int total = 0;
    QString context; // French, where it stopped ("Lecture EEprom2 adresse 37 : ")
};

// Reads the 4096 bytes of `selection`'s memory into *memory (left unchanged unless the
// whole memory was read).
TransferResult readMemory(chlink::Session &session, int selection, QByteArray *memory,
                          const TransferProgress &progress = {});
// Writes `writes` in order to `selection`'s memory.
TransferResult writeMemory(chlink::Session &session, int selection, const QVector<Write> &writes,
                           const TransferProgress &progress = {});

} // namespace diag::exteepr
