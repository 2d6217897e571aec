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
    const cli::LinkOptionSet linkOptions;
    const QCommandLineOption view(
        QStringLiteral("view"),
        QStringLiteral("Open the run-log viewer with the given log files (charge, discharge, "
                       "capacity or monitor logs) instead of the main window."));
    p.addOptions({help, version, view});
    linkOptions.addTo(p);
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
        o.message = cli::usageHelp(p) + QLatin1Char('\n') + cli::subcommandHelp();
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
    if (!linkOptions.read(p, &o.link, &o.message)) o.action = PelmoraOptions::Action::Error;
    return o;
}

bool PelmoraApp::setUp(const PelmoraOptions &o, QString *error) {
    if (!linkSetup.setUp(o.link, error)) return false;
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
