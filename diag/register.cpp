#include "register.h"

#include "winkit/windowregistry.h"

namespace diag {

void registerWindows(winkit::WindowRegistry &registry) {
    // Windows not written yet say so when opened.
    registry.add({.id = QStringLiteral("FEtat"), .needsConnection = true});
    registry.add({.id = QStringLiteral("EEprom")});
    registry.add({.id = QStringLiteral("Exteepr")});
}

} // namespace diag
