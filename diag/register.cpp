#include "register.h"

#include "exteepr.h"
#include "winkit/windowregistry.h"

namespace diag {

void registerWindows(winkit::WindowRegistry &registry) {
    // Windows not written yet say so when opened.
    registry.add({.id = QStringLiteral("FEtat"), .needsConnection = true});
    registry.add({.id = QStringLiteral("EEprom")});
    // Opened from the microcontroller window without a connection check: disconnected, it
    // reads nothing and shows its files.
    registry.add({.id = QStringLiteral("Exteepr"),
                  .make = [](const winkit::Host &h) { return new Exteepr(h); },
                  .needsConnection = false,
                  .hidesOpener = true});
}

} // namespace diag
