#pragma once

#include "link/session.h"

#include <QByteArray>
#include <QString>
#include <functional>

// The internal EEPROM editor's exchanges: a controller's EEPROM read into an image, an
// image written back and read again to check it.
namespace diag {

struct EeProgress {
    std::function<void(int address)> at; // after each byte
    std::function<bool()> interrupted;   // checked after every wait
};

// How a transfer ended: ok, or stopped at `address` (interrupted: the window is closing; else
// the charger did not answer, session.error() says why).
struct EeResult {
    bool ok = true;
    bool interrupted = false;
    int address = -1;
    // For a check after writing: the addresses whose byte read back differs.
    QList<int> mismatches;
};

// Reads addresses first..last of controller `target` (1 master, 2 slave) into `image` byte
// by byte, each stored as it arrives.
EeResult readEeprom(chlink::Session s, int target, int first, int last, QByteArray &image,
                    const EeProgress &p);
// Writes addresses first..last of `image`, each acknowledged by 6 before the next.
EeResult writeEeprom(chlink::Session s, int target, int first, int last, const QByteArray &image,
                     const EeProgress &p);
// Reads addresses first..last back and lists those that differ from `image`.
EeResult checkEeprom(chlink::Session s, int target, int first, int last, const QByteArray &image,
                     const EeProgress &p);

// "Lecture EEPROM Master adresse 37 : " and the like, before the link's error text.
QString eeContext(bool write, int target, int address);

} // namespace diag
