#include "register.h"

#include "chargeur.h"
#include "dechargeur.h"
#include "winkit/windowregistry.h"

namespace modes {

namespace {
// The mode windows show themselves, hide their opener and stop the main window's timers
// as they load.
template <class W> winkit::WindowEntry entry(const char *id, chlink::ChargerLink &link) {
    return {.id = QLatin1String(id),
            .needsConnection = true,
            .hidesOpener = true,
            .stopsMainTimers = true,
            .makeWidget = [&link](const winkit::Host &h) -> QWidget * {
                return new W(chlink::Host{&link, h.opener, h.stopMainTimers});
            }};
}
} // namespace

void registerWindows(winkit::WindowRegistry &registry, chlink::ChargerLink &link) {
    registry.add(entry<Chargeur>("Chargeur", link));
    registry.add(entry<Dechargeur>("Dechargeur", link));
}

} // namespace modes
