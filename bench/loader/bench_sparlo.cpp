// Upload benchmark: a full 30 KB image (0x0000..0x77FF, 480 blocks) sent by the sparlo
// program to chargersim's boot loader paced at 19200 baud, measured as the wall time of the
// whole sparlo run against the wire's own time at 19200 baud.
// Usage: bench_sparlo [runs]
#include "support/hexwriter.h"
#include "support/process.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    constexpr int kImage = 0x7800; // 30720 bytes: everything below the boot loader
    QByteArray image(kImage, 0);
    for (int i = 0; i < kImage; ++i)
        image[i] = char((i * 37 + (i >> 7)) & 0xFF);
    QTemporaryDir dir;
    const QString hex = dir.filePath(QStringLiteral("FULL.HEX"));
    QFile f(hex);
    if (!f.open(QIODevice::WriteOnly)) return 1;
    f.write(hexText(image, 0, 32));
    f.close();

    // On the wire at 19200 baud, 10 bits a byte: "C","D" and "c"; 480 blocks of 69 bytes,
    // each answered by one byte; the end sequence.
    const int blocks = kImage / 64;
    const int wireBytes = 3 + blocks * (69 + 1) + 3;
    const double wireSeconds = wireBytes * 10 / 19200.0;

    for (int run = 0; run < runs; ++run) {
        QProcess sim;
        const QString dev =
            startChargersim(sim, QStringLiteral(CHARGERSIM_PATH),
                            {QStringLiteral("--bootloader"), QStringLiteral("--pace"),
                             QStringLiteral("--strict-baud"), QStringLiteral("--no-console")});
        if (dev.isEmpty()) {
            std::fprintf(stderr, "chargersim did not start\n");
            return 1;
        }
        QProcess sparlo;
        QElapsedTimer t;
        t.start();
        sparlo.start(QStringLiteral(SPARLO_PATH),
                     {QStringLiteral("--port"), dev, QStringLiteral("--file"), hex,
                      QStringLiteral("--yes")});
        sparlo.waitForFinished(120000);
        const double wall = t.nsecsElapsed() / 1e9;
        if (sparlo.exitCode() != 0) {
            std::fprintf(stderr, "sparlo failed (%d): %s\n", sparlo.exitCode(),
                         sparlo.readAllStandardError().constData());
            return 1;
        }
        // The pseudo-terminal paces only chargersim's own bytes (its answers); sparlo's blocks
        // cross it at once. So the wall time is sparlo's own cost (start, the 200 ms probe,
        // one round trip per block); on a real line it adds to the wire time, at worst.
        std::printf("run %d: %d blocks (%d bytes on the wire) in %.2f s wall (%.2f ms a block "
                    "with the start and the 200 ms probe); wire time at 19200 baud %.2f s; "
                    "ratio wall/wire %.3f; on a real line at worst (wire + wall) / wire = %.3f\n",
                    run + 1, blocks, wireBytes, wall, wall * 1000 / blocks, wireSeconds,
                    wall / wireSeconds, (wireSeconds + wall) / wireSeconds);
        std::fflush(stdout);
        sim.terminate();
        sim.waitForFinished(2000);
    }
    return 0;
}
