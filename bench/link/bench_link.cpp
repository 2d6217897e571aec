// Link benchmark through chargersim on a pseudo-terminal:
//  - microseconds per EEPROM read exchange (ESC 37 addr -> ESC byte trailer), 4096 reads;
//  - CPU seconds used while waiting 5 s on a silent charger.
#include "link/chargerlink.h"
#include "link/exchanges.h"
#include "serial/serialport.h"

#include "support/process.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>
#include <ctime>

using namespace chlink;

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStringList simArgs = app.arguments().mid(1); // e.g. --pace
    QProcess sim;
    const QString dev = startChargersim(sim, QStringLiteral(CHARGERSIM_PATH), simArgs);
    if (dev.isEmpty()) {
        std::fprintf(stderr, "chargersim did not start\n");
        return 1;
    }

    ChargerLink link([](const QString &d) { return new SerialBytePort(d); },
                     [dev](int) { return dev; });
    link.portSetup();
    QString reason;
    if (!link.openPort(&reason)) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(dev), qPrintable(reason));
        return 1;
    }

    const int reads = 4096;
    QElapsedTimer t;
    const double cpu0 = cpuSeconds();
    t.start();
    for (int i = 0; i < reads; ++i) {
        if (!chlink::eeRead(chlink::Session(link), 1, quint8(i)).has_value()) {
            std::fprintf(stderr, "read %d failed\n", i);
            return 1;
        }
    }
    const double us = t.nsecsElapsed() / 1e3 / reads;
    const double cpuPerRead = (cpuSeconds() - cpu0) / reads * 1e6;
    // On the wire: 3 bytes out, 3 bytes back, 10 bits each at 9600 baud.
    const double wireUs = 6 * 10 / 9600.0 * 1e6;
    std::printf("EEPROM read exchange: %.1f us each over %d reads (%.1f us CPU each); "
                "wire time at 9600 baud %.0f us (ratio %.2f)\n",
                us, reads, cpuPerRead, wireUs, us / wireUs);

    const double c0 = cpuSeconds();
    QElapsedTimer w;
    w.start();
    const bool got = link.waitByte(5000);
    std::printf("silent charger: waited %.2f s, %.4f s of CPU (%.3f %% of a core)%s\n",
                w.elapsed() / 1000.0, cpuSeconds() - c0,
                (cpuSeconds() - c0) / (w.elapsed() / 1000.0) * 100, got ? " (got a byte?)" : "");
    link.closePort();
    sim.terminate();
    sim.waitForFinished(2000);
    return 0;
}
