#include "register.h"

#include "micro.h"
#include "winkit/windowregistry.h"

namespace firmware {

void registerWindows(winkit::WindowRegistry &registry) {
    registry.add({.id = QStringLiteral("Micro"),
                  .make = [](const winkit::Host &h) { return new Micro(h); },
                  .needsConnection = false,
                  .hidesOpener = true,
                  .stopsMainTimers = false});
}

} // namespace firmware
