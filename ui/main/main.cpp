#include "app.h"
#include "link/chargerlink.h"
#include "link/portmap.h"
#include "mainwindow.h"
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
    pelmora.main->show();
    return app.exec();
}
