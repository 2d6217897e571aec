#include "linksetup.h"

#include "link/chargerlink.h"
#include "serial/commap.h"
#include "serial/serialport.h"
#include "sim/simport.h"
#include "sim/virtualcharger.h"

#include <QCommandLineParser>
#include <QStandardPaths>

namespace cli {

QString portSettingsFile() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/ports.ini");
}

LinkOptionSet::LinkOptionSet()
    : com(QStringLiteral("com"),
          QStringLiteral("Map port N to a serial device, for example 1=/dev/ttyUSB0 "
                         "(remembered for the next runs). The charger is on COM 1."),
          QStringLiteral("N=DEVICE")),
      demo(QStringLiteral("demo"), QStringLiteral("Talk to the built-in virtual charger.")),
      demoSpeed(QStringLiteral("demo-speed"),
                QStringLiteral("Clock speed factor of the virtual charger (default 20: "
                               "a one-hour charge takes three minutes)."),
                QStringLiteral("factor"), QStringLiteral("20")) {}

void LinkOptionSet::addTo(QCommandLineParser &p) const {
    p.addOptions({com, demo, demoSpeed});
}

bool LinkOptionSet::read(const QCommandLineParser &p, LinkOptions *o, QString *error) const {
    o->mappings = p.values(com);
    o->demo = p.isSet(demo);
    bool ok = false;
    o->demoSpeed = p.value(demoSpeed).toDouble(&ok);
    if (!ok || o->demoSpeed <= 0 || o->demoSpeed > 1000) {
        *error = QStringLiteral("--demo-speed expects a number from 0 to 1000");
        return false;
    }
    return true;
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
