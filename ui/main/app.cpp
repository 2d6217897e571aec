#include "app.h"

#include "link/chargerlink.h"
#include "link/portmap.h"
#include "link/serialport.h"
#include "mainwindow.h"
#include "sim/simport.h"
#include "sim/virtualcharger.h"
#include "windows.h"

#include <QCommandLineParser>

PelmoraApp::~PelmoraApp() {
    main.reset();
    link.reset();
}

bool PelmoraApp::setUp(const QStringList &arguments, QString *error) {
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("Fast charger controller."));
    p.addHelpOption();
    QCommandLineOption demo(QStringLiteral("demo"),
                            QStringLiteral("Connect COM 1 to the built-in virtual charger."));
    QCommandLineOption com(QStringLiteral("com"),
                           QStringLiteral("Map port N to a serial device, for example "
                                          "1=/dev/ttyUSB0 (remembered for the next runs)."),
                           QStringLiteral("N=DEVICE"));
    p.addOptions({demo, com});
    p.process(arguments);

    ports = std::make_unique<chlink::PortMap>(QStringLiteral("pelmora"));
    for (const QString &spec : p.values(com))
        if (!ports->parseAndSet(spec, true, error)) return false;
    if (p.isSet(demo)) {
        demoCharger = std::make_unique<sim::VirtualCharger>();
        ports->set(1, QLatin1String(kVirtualDevice), false);
    }

    sim::VirtualCharger *charger = demoCharger.get();
    link = std::make_unique<chlink::ChargerLink>(
        [charger](const QString &device) -> chlink::BytePort * {
            if (charger && device == QLatin1String(kVirtualDevice))
                return new sim::SimBytePort(charger);
            return new chlink::SerialBytePort(device);
        },
        [this](int n) { return ports->device(n); });
    main = std::make_unique<Main>(*link, *ports);
    main->setOpener(&openWindow);
    return true;
}
