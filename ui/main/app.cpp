#include "app.h"

#include "calib/register.h"
#include "cli/dispatcher.h"
#include "desktop/version.h"
#include "diag/register.h"
#include "firmware/register.h"
#include "link/chargerlink.h"
#include "mainwindow.h"
#include "modes/register.h"
#include "serial/commap.h"
#include "viewer/register.h"
#include "winkit/windowregistry.h"

#include <QCommandLineParser>

PelmoraApp::~PelmoraApp() {
    main.reset();
}

PelmoraOptions parseOptions(const QStringList &arguments) {
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Fast charger controller: without a subcommand it opens its windows."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Connect COM 1 to the built-in virtual charger."));
    const QCommandLineOption com(QStringLiteral("com"),
                                 QStringLiteral("Map port N to a serial device, for example "
                                                "1=/dev/ttyUSB0 (remembered for the next runs)."),
                                 QStringLiteral("N=DEVICE"));
    const QCommandLineOption speed(
        QStringLiteral("demo-speed"),
        QStringLiteral("Clock speed factor of the virtual charger (default 20: "
                       "a one-hour charge takes three minutes)."),
        QStringLiteral("factor"), QStringLiteral("20"));
    const QCommandLineOption view(
        QStringLiteral("view"),
        QStringLiteral("Open the run-log viewer with the given log files (charge, discharge, "
                       "capacity or monitor logs) instead of the main window."));
    p.addOptions({help, version, demo, com, speed, view});
    p.addPositionalArgument(QStringLiteral("FILE"),
                            QStringLiteral("With --view: run logs to open."),
                            QStringLiteral("[FILE...]"));

    PelmoraOptions o;
    if (!p.parse(arguments)) {
        o.action = PelmoraOptions::Action::Error;
        o.message = p.errorText();
        return o;
    }
    if (p.isSet(help)) {
        o.action = PelmoraOptions::Action::Help;
        o.message = p.helpText() + QLatin1Char('\n') + cli::subcommandHelp();
        return o;
    }
    if (p.isSet(version)) {
        o.action = PelmoraOptions::Action::Version;
        o.message = QStringLiteral("pelmora %1\n").arg(desktop::version());
        return o;
    }
    o.view = p.isSet(view);
    if (o.view) o.viewFiles = p.positionalArguments();
    if (!o.view && !p.positionalArguments().isEmpty()) {
        o.action = PelmoraOptions::Action::Error;
        const QString first = p.positionalArguments().first();
        o.message =
            cli::isSubcommand(first)
                ? QStringLiteral("the subcommand comes first: pelmora %1 [options]").arg(first)
                : QStringLiteral("unknown subcommand or argument '%1'").arg(first);
        return o;
    }
    o.mappings = p.values(com);
    o.demo = p.isSet(demo);
    bool ok = false;
    o.demoSpeed = p.value(speed).toDouble(&ok);
    if (!ok || o.demoSpeed <= 0 || o.demoSpeed > 1000) {
        o.action = PelmoraOptions::Action::Error;
        o.message = QStringLiteral("--demo-speed expects a number from 0 to 1000");
    }
    return o;
}

bool PelmoraApp::setUp(const PelmoraOptions &o, QString *error) {
    cli::LinkOptions lo;
    lo.mappings = o.mappings;
    lo.demo = o.demo;
    lo.demoSpeed = o.demoSpeed;
    if (!linkSetup.setUp(lo, error)) return false;
    main = std::make_unique<Main>(*linkSetup.link, *linkSetup.ports);
    registerWindows(main->registry());
    return true;
}

void registerWindows(winkit::WindowRegistry &registry) {
    // Windows whose subsystem is not written yet say so when opened.
    modes::registerWindows(registry);
    firmware::registerWindows(registry);
    diag::registerWindows(registry);
    calib::registerWindows(registry);
    viewer::registerWindows(registry);
}
