#include "register.h"

#include "visionneuse.h"
#include "winkit/windowregistry.h"

namespace viewer {

void registerWindows(winkit::WindowRegistry &registry) {
    // Looking at logs never touches the charger: no connection needed, and the main window
    // stays as it is (a run may be going on in another window meanwhile).
    registry.add({.id = QStringLiteral("Visionneuse"),
                  .make = [](const winkit::Host &h) -> winkit::ChargerWindow * {
                      return new Visionneuse(h);
                  },
                  .needsConnection = false,
                  .hidesOpener = false,
                  .stopsMainTimers = false});
}

} // namespace viewer
