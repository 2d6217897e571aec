#include "app.h"
#include "link/chargerlink.h"
#include "mainwindow.h"
#include "modes/runlog.h"
#include "serial/commap.h"
#include "sim/virtualcharger.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
    // --help needs no display: answer it before the window system is asked for.
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            QCoreApplication core(argc, argv);
            PelmoraApp options;
            QString error;
            options.setUp(QCoreApplication::arguments(), &error); // prints the help and exits
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pelmora"));

    PelmoraApp pelmora;
    QString error;
    if (!pelmora.setUp(QApplication::arguments(), &error)) {
        std::fprintf(stderr, "pelmora: %s\n", qPrintable(error));
        return 2;
    }
    // Run logs go to the program's own data folder unless a window chooses another.
    modes::runLogFolder();
    pelmora.main->show();
    return app.exec();
}
