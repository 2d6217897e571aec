#include "app.h"
#include "cli/dispatcher.h"
#include "desktop/icon.h"
#include "desktop/qtfrench.h"
#include "desktop/version.h"
#include "link/chargerlink.h"
#include "mainwindow.h"
#include "modes/runlog.h"
#include "serial/commap.h"
#include "sim/virtualcharger.h"
#include "viewer/visionneuse.h"
#include "winkit/windowregistry.h"

#include <QApplication>
#include <QTextStream>
#include <cstdio>

int main(int argc, char **argv) {
    // The options are read before the window system is asked for: --help, --version and a
    // wrong option need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // "pelmora SUBCOMMAND ...": the command line, without any window or display.
    if (arguments.size() > 1 && cli::isSubcommand(arguments.at(1))) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("pelmora"));
        QCoreApplication::setApplicationVersion(desktop::version());
        QTextStream out(stdout), err(stderr);
        return cli::runCommandLine(arguments, out, err);
    }
    const PelmoraOptions options = parseOptions(arguments);
    switch (options.action) {
    case PelmoraOptions::Action::Help:
    case PelmoraOptions::Action::Version:
        std::fputs(qPrintable(options.message), stdout);
        return 0;
    case PelmoraOptions::Action::Error:
        std::fprintf(stderr, "pelmora: %s\nTry 'pelmora --help'.\n", qPrintable(options.message));
        return 2;
    case PelmoraOptions::Action::Run:
        break;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pelmora"));
    QApplication::setApplicationVersion(desktop::version());
    desktop::useQtFrench(app);
    QApplication::setWindowIcon(desktop::appIcon());

    PelmoraApp pelmora;
    QString error;
    if (!pelmora.setUp(options, &error)) {
        std::fprintf(stderr, "pelmora: %s\n", qPrintable(error));
        return 2;
    }
    // Run logs go to the program's own data folder unless a window chooses another.
    modes::runLogFolder();
    if (options.view) {
        // Looking at logs needs no charger: the main window stays hidden and its port
        // untouched, and the program ends when the viewer is closed.
        auto *viewer = qobject_cast<viewer::Visionneuse *>(
            pelmora.main->registry().open(QStringLiteral("Visionneuse"), pelmora.main.get(),
                                          winkit::WindowRegistry::Check::NoConnectionCheck));
        if (!viewer) {
            std::fprintf(stderr, "pelmora: the log viewer could not be opened\n");
            return 1;
        }
        viewer->openFiles(options.viewFiles);
        return app.exec();
    }
    pelmora.main->show();
    return app.exec();
}
