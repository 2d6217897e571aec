#include "linksetup.h"

#include "link/chargerlink.h"
#include "serial/commap.h"
#include "serial/serialport.h"
#include "sim/simport.h"
#include "sim/virtualcharger.h"

#include <QStandardPaths>

namespace cli {

QString portSettingsFile() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/ports.ini");
}

LinkSetup::LinkSetup() = default;

LinkSetup::~LinkSetup() {
    // The link's port may belong to the virtual charger: the link goes first.
    link.reset();
    demoCharger.reset();
}

bool LinkSetup::setUp(const LinkOptions &o, QString *error) {
    ports = std::make_unique<serialio::ComMap>(4, portSettingsFile());
    for (const QString &spec : o.mappings)
        if (!ports->parseAndSet(spec, true, error)) return false;
    if (!o.device.isEmpty()) ports->set(1, o.device, false);
    if (o.demo) {
        demoCharger = std::make_unique<sim::VirtualCharger>();
        demoCharger->setSpeed(o.demoSpeed);
        ports->set(1, QLatin1String(kVirtualDevice), false);
    }

    sim::VirtualCharger *charger = demoCharger.get();
    serialio::ComMap *map = ports.get();
    link = std::make_unique<chlink::ChargerLink>(
        [charger](const QString &device) -> chlink::BytePort * {
            if (charger && device == QLatin1String(kVirtualDevice))
                return new sim::SimBytePort(charger);
            return new chlink::SerialBytePort(device);
        },
        [map](int n) { return map->device(n); });
    return true;
}

} // namespace cli
