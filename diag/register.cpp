#include "register.h"

#include "eeprom.h"
#include "fetat.h"
#include "winkit/windowregistry.h"

namespace diag {

void registerWindows(winkit::WindowRegistry &registry) {
    // Windows not written yet say so when opened.
    registry.add({.id = QStringLiteral("FEtat"), .needsConnection = true});
    registry.add({.id = QStringLiteral("EEprom")});
    registry.add({.id = QStringLiteral("Exteepr")});
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
}

} // namespace diag
