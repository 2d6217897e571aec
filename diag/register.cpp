#include "register.h"

#include "eeprom.h"
#include "exteepr.h"
#include "fetat.h"
#include "winkit/windowregistry.h"

namespace diag {

void registerWindows(winkit::WindowRegistry &registry) {
    registry.add({.id = QStringLiteral("FEtat"),
                  .make = [](const winkit::Host &h) { return new FEtat(h); },
                  .needsConnection = true,
                  .hidesOpener = true,
                  .stopsMainTimers = false});
    registry.add({.id = QStringLiteral("EEprom"),
                  .make = [](const winkit::Host &h) { return new EEprom(h); },
                  .needsConnection = false,
                  .hidesOpener = true,
                  .stopsMainTimers = false});
    // Opened from the microcontroller window without a connection check: disconnected, it
    // reads nothing and shows its files.
    registry.add({.id = QStringLiteral("Exteepr"),
                  .make = [](const winkit::Host &h) { return new Exteepr(h); },
                  .needsConnection = false,
                  .hidesOpener = true});
}

} // namespace diag
