#include "register.h"

#include "link/host.h"
#include "micro.h"
#include "winkit/windowregistry.h"

namespace firmware {

void registerWindows(winkit::WindowRegistry &registry, chlink::ChargerLink &link) {
    registry.add({.id = QStringLiteral("Micro"),
                  .makeWidget = [&link, &registry](const winkit::Host &h) -> QWidget * {
                      chlink::Host host{&link, h.opener, h.stopMainTimers};
                      auto *w = new Micro(host);
                      w->setRegistry(&registry);
                      w->show();
                      return w;
                  }});
    registry.add({.id = QStringLiteral("FEtat"), .needsConnection = true});
    registry.add({.id = QStringLiteral("EEprom")});
    registry.add({.id = QStringLiteral("Exteepr")});
}

} // namespace firmware
