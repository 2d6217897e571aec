#include "register.h"

#include "winkit/windowregistry.h"

namespace calib {

void registerWindows(winkit::WindowRegistry &registry) {
    // Windows not written yet say so when opened.
    registry.add({.id = QStringLiteral("Reglage")});
}

} // namespace calib
