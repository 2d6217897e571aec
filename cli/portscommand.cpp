#include "commands.h"
#include "serial/devices.h"

#include <QCommandLineParser>

namespace cli {

Command portsCommand() {
    Command c;
    c.name = QStringLiteral("ports");
    c.summary = QStringLiteral("List the COM numbers with the device behind each, then every "
                               "serial device found.");
    c.needsCharger = false;
    c.addOptions = [](QCommandLineParser &) {};
    c.check = [](Bench &b, const QCommandLineParser &p) {
        if (p.positionalArguments().isEmpty()) return int(Ok);
        b.err << "pelmora ports: unexpected argument '" << p.positionalArguments().first() << "'\n";
        return int(Usage);
    };
    c.run = [](Bench &b, const QCommandLineParser &) {
        b.out << serialio::describePorts(*b.ports, serialio::serialDevices());
        return int(Ok);
    };
    return c;
}

} // namespace cli
