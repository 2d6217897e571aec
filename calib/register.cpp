#include "register.h"

#include "caliblogic.h"
#include "cellwindows.h"
#include "currentwindows.h"
#include "paramwindows.h"
#include "reglage.h"
#include "scalewindows.h"
#include "winkit/windowregistry.h"

namespace calib {

void registerWindows(winkit::WindowRegistry &registry) {
    registerWindows(registry, Arithmetic::standard());
}

void registerWindows(winkit::WindowRegistry &registry, const Arithmetic &arithmetic) {
    registry.add({.id = QStringLiteral("Reglage"),
                  .make = [](const winkit::Host &h) { return new Reglage(h); },
                  .needsConnection = false,
                  .hidesOpener = true,
                  .stopsMainTimers = false});
    // The calibration windows open beside the selector, which stays on the screen.
    const auto window = [&registry](const QString &id, auto make, bool managed = true) {
        registry.add({.id = id,
                      .make = make,
                      .needsConnection = true,
                      .hidesOpener = false,
                      .stopsMainTimers = false,
                      .group = managed ? kManagedGroup : QString()});
    };
    const Arithmetic *a = &arithmetic;
    window(QStringLiteral("Temper"), [](const winkit::Host &h) { return new Temper(h); });
    window(QStringLiteral("Reglageauto"), [](const winkit::Host &h) { return new Reglageauto(h); });
    window(QStringLiteral("Vout"), [a](const winkit::Host &h) { return new Vout(h, *a); });
    window(QStringLiteral("Vfiltrage"),
           [a](const winkit::Host &h) { return new Vfiltrage(h, *a); });
    window(QStringLiteral("Rcourant"), [a](const winkit::Host &h) {
        return new CurrentWindow(CurrentWindow::Kind::Charge, h, *a);
    });
    // The discharge-current window stays open when the selector closes the others.
    window(
        QStringLiteral("RglDech"),
        [a](const winkit::Host &h) {
            return new CurrentWindow(CurrentWindow::Kind::Discharge, h, *a);
        },
        false);
    window(QStringLiteral("RegLIPO"),
           [](const winkit::Host &h) { return new CellWindow(charger::CellBlock::Lithium, h); });
    window(QStringLiteral("RegPB"),
           [](const winkit::Host &h) { return new CellWindow(charger::CellBlock::LeadAcid, h); });
}

} // namespace calib
