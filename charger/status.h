#pragma once

#include "link/commands.h"

#include <QVector>

// The status bytes the charger answers to commands 26, 28 and 31 (a reply frame of one
// byte): which bit reports what. Bit 0 is the least significant bit; bits not listed are
// not used.
namespace charger {

// What a set bit says.
enum class Status {
    DoublerCut,   // 28 bit 0: the voltage doubler (or booster) is cut
    LedOn,        // 28 bit 1
    FanOn,        // 28 bit 5
    DischargeCut, // 31 bit 0: the discharge path is cut
    ChargeCut,    // 31 bit 1: the charge path is cut
    PowerCut,     // 31 bit 2: the power path is cut
    Sw1Released,  // 31 bits 3..7: push-buttons SW1..SW5 (a pressed button reads 0)
    Sw2Released,
    Sw3Released,
    Sw4Released,
    Sw5Released,
    Sw6Released, // 26 bit 0
};

struct StatusBit {
    Status status;
    chlink::Cmd command;
    int bit;
    const char *meaning;
};

// Every status bit, in the order above.
const QVector<StatusBit> &statusBits();
const StatusBit &statusBit(Status s);
// The status of push-button SW n (1..6).
Status buttonStatus(int n);

bool isSet(Status s, quint8 reply);
// The reply byte with the status's bit set or cleared.
quint8 withStatus(quint8 reply, Status s, bool set);

} // namespace charger
