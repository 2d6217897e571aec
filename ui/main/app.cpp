#include "app.h"

#include "calib/register.h"
#include "diag/register.h"
#include "firmware/register.h"
#include "link/chargerlink.h"
#include "mainwindow.h"
#include "modes/register.h"
#include "serial/commap.h"
#include "serial/serialport.h"
#include "sim/simport.h"
#include "sim/virtualcharger.h"
#include "winkit/windowregistry.h"

#include <QCommandLineParser>
#include <QStandardPaths>

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
    QCommandLineOption speed(
        QStringLiteral("demo-speed"),
        QStringLiteral("Clock speed factor of the virtual charger (default 20: "
                       "a one-hour charge takes three minutes)."),
        QStringLiteral("factor"), QStringLiteral("20"));
    p.addOptions({demo, com, speed});
    p.process(arguments);

    ports = std::make_unique<serialio::ComMap>(
        4, QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
               QStringLiteral("/ports.ini"));
    for (const QString &spec : p.values(com))
        if (!ports->parseAndSet(spec, true, error)) return false;
    if (p.isSet(demo)) {
        bool ok = false;
        const double factor = p.value(speed).toDouble(&ok);
        if (!ok || factor <= 0 || factor > 1000) {
            *error = QStringLiteral("--demo-speed expects a number from 0 to 1000");
            return false;
        }
        demoCharger = std::make_unique<sim::VirtualCharger>();
        demoCharger->setSpeed(factor);
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
    registerWindows(main->registry());
    return true;
}

void registerWindows(winkit::WindowRegistry &registry) {
    // Windows whose subsystem is not written yet say so when opened.
    registry.add({.id = QStringLiteral("SelMoni")});
    modes::registerWindows(registry);
    firmware::registerWindows(registry);
    diag::registerWindows(registry);
    calib::registerWindows(registry);
}
