// chargersim: a virtual charger served on a pseudo-terminal.
#include "ptyserver.h"
#include "virtualcharger.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("chargersim"));

    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Virtual fast charger on a pseudo-terminal. Prints the device path, then "
                       "serves the charger's serial protocol until stopped (Ctrl-C).\n"
                       "Point pelmora at it with: pelmora --com 1=DEVICE"));
    p.addHelpOption();
    QCommandLineOption pace(
        QStringLiteral("pace"),
        QStringLiteral("Send replies at the byte time of the line (9600 baud)."));
    QCommandLineOption noSlave(QStringLiteral("no-slave"),
                               QStringLiteral("The slave controller does not answer over I2C."));
    QCommandLineOption speed(QStringLiteral("speed"),
                             QStringLiteral("Charger clock speed factor (default 1)."),
                             QStringLiteral("factor"), QStringLiteral("1"));
    p.addOptions({pace, noSlave, speed});
    p.process(app);

    sim::VirtualCharger charger;
    charger.slavePresent = !p.isSet(noSlave);
    bool ok = false;
    const double factor = p.value(speed).toDouble(&ok);
    if (!ok || factor <= 0) {
        std::fprintf(stderr, "chargersim: --speed expects a positive number\n");
        return 2;
    }
    charger.setSpeed(factor);

    sim::PtyServer server(&charger);
    QString reason;
    if (!server.start(&reason)) {
        std::fprintf(stderr, "chargersim: cannot create a pseudo-terminal: %s\n",
                     qPrintable(reason));
        return 1;
    }
    if (p.isSet(pace)) server.setPacing(9600);
    std::printf("%s\n", qPrintable(server.slavePath()));
    std::fflush(stdout);

    std::signal(SIGINT, [](int) { QCoreApplication::quit(); });
    std::signal(SIGTERM, [](int) { QCoreApplication::quit(); });
    return app.exec();
}
