// Upload benchmark: a full 30 KB image (0x0000..0x77FF, 480 blocks) sent by the sparlo
// program to chargersim's boot loader, the line paced both ways at 19200 baud (chargersim
// --pace --strict-baud), measured as the wall time of the whole sparlo run (start, handshake,
// upload, end sequence) against the wire's own time. The wire time counts every byte that
// must cross the line, both ways, 10 bits each at 19200 baud: "C", "D" and the answer "c";
// 480 blocks of 69 bytes, each answered by one byte; the end sequence 27, 255, 0. Each block
// waits for its answer, so the two directions add up.
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

    // Both ways at 19200 baud, 10 bits a byte (see the top of the file).
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
        // The handshake listens 200 ms for the answer to its probe whatever the line: part
        // of what the user waits for, shown apart.
        std::printf("run %d: %d blocks (%d bytes on the wire) in %.2f s wall (%.2f ms a block, "
                    "the start and the 200 ms probe included); wire time at 19200 baud %.2f s; "
                    "ratio to wire time %.3f (%.3f without the probe's 200 ms)\n",
                    run + 1, blocks, wireBytes, wall, wall * 1000 / blocks, wireSeconds,
                    wall / wireSeconds, (wall - 0.2) / wireSeconds);
        std::fflush(stdout);
        sim.terminate();
        sim.waitForFinished(2000);
    }
    return 0;
}
