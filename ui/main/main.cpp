#include "app.h"
#include "link/chargerlink.h"
#include "link/portmap.h"
#include "mainwindow.h"
#include "modes/runlog.h"
#include "sim/virtualcharger.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pelmora"));
    QApplication::setOrganizationName(QStringLiteral("pelmora"));

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
