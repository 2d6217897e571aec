#include "register.h"

#include "chargeur.h"
#include "dechargeur.h"
#include "mescapa.h"
#include "moni.h"
#include "selmoni.h"
#include "winkit/windowregistry.h"

namespace modes {

namespace {
// The mode windows need a connection, hide their opener and stop the main window's
// handshake timers while open.
template <class W> winkit::WindowEntry entry(const char *id) {
    return {.id = QLatin1String(id),
            .make = [](const winkit::Host &h) -> winkit::ChargerWindow * { return new W(h); },
            .needsConnection = true,
            .hidesOpener = true,
            .stopsMainTimers = true};
}
} // namespace

void registerWindows(winkit::WindowRegistry &registry) {
    registry.add(entry<Chargeur>("Chargeur"));
    registry.add(entry<Dechargeur>("Dechargeur"));
    registry.add(entry<MesCapa>("MesCapa"));
    // The monitor opens without the connection check: it takes the port over itself.
    registry.add(
        {.id = QStringLiteral("SelMoni"),
         .make = [](const winkit::Host &h) -> winkit::ChargerWindow * { return new SelMoni(h); },
         .needsConnection = false,
         .hidesOpener = true,
         .stopsMainTimers = false});
    winkit::WindowEntry moni = entry<Moni>("Moni");
    moni.needsConnection = false;
    registry.add(std::move(moni));
}

} // namespace modes
