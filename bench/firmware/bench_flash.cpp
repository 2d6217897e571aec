// Master flash write of a full image (448 blocks of 64 bytes from 0x1000) through chargersim
// on a pseudo-terminal, paced at the charger's 9600 baud: wall time against the wire's own
// time (every byte both ways, 10 bits each at 9600 baud).
// Usage: bench_flash [--no-pace] [runs]

#include "firmware/flashtransfer.h"
#include "firmware/heximage.h"
#include "serial/serialport.h"

#include "support/process.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>

#include <cstdio>
#include <ctime>

using namespace firmware;

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool pace = !args.removeAll(QStringLiteral("--no-pace"));
    const int runs = args.isEmpty() ? 3 : qMax(1, args.first().toInt());

    QProcess sim;
    const QString dev =
        startChargersim(sim, QStringLiteral(CHARGERSIM_PATH),
                        pace ? QStringList{QStringLiteral("--pace")} : QStringList{});
    if (dev.isEmpty()) {
        std::fprintf(stderr, "chargersim did not start\n");
        return 1;
    }
    chlink::ChargerLink link([](const QString &d) { return new chlink::SerialBytePort(d); },
                             [dev](int) { return dev; });
    link.portSetup();
    QString reason;
    if (!link.openPort(&reason)) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(dev), qPrintable(reason));
        return 1;
    }

    QByteArray image = blankMasterImage();
    QRandomGenerator rng(1);
    for (int i = kMasterWriteFirst; i < kMasterImageSize; ++i)
        image[i] = char(rng.bounded(256));

    // Per block: ESC, 47, address high, low, 64 data bytes out; the ACK back.
    const qint64 wireBytes = qint64(kMasterBlocks) * (4 + kMasterBlockBytes + 1);
    const double wireS = wireBytes * 10 / 9600.0;
    const double pacedS = kMasterBlocks * 10 / 9600.0; // what the pseudo-terminal paces
    std::printf("master flash write, %d blocks, %lld bytes on the wire, wire time %.2f s at "
                "9600 baud (%s)\n",
                kMasterBlocks, static_cast<long long>(wireBytes), wireS,
                pace ? "charger output paced" : "not paced");
    chlink::Session session(link);
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer t;
        const double cpu0 = cpuSeconds();
        t.start();
        const FlashResult r = writeMasterFlash(session, image);
        const double wallS = t.nsecsElapsed() / 1e9;
        const double cpuS = cpuSeconds() - cpu0;
        if (!r.ok) {
            std::fprintf(stderr, "write failed: %s\n", qPrintable(r.error));
            return 1;
        }
        // The pseudo-terminal paces only the charger's output (the ACKs); on a real line the
        // blocks take their wire time too, and what the program adds is wall - paced.
        const double overheadS = qMax(0.0, wallS - (pace ? pacedS : 0.0));
        std::printf("run %d: wall %.3f s, ratio to wire time %.3f; %.3f ms per block of which "
                    "%.3f ms paced ACK; program overhead %.3f ms per block, projected on a real "
                    "9600 baud line %.2f s (ratio %.4f); CPU %.3f s\n",
                    run + 1, wallS, wallS / wireS, wallS * 1000 / kMasterBlocks,
                    pace ? pacedS * 1000 / kMasterBlocks : 0.0, overheadS * 1000 / kMasterBlocks,
                    wireS + overheadS, (wireS + overheadS) / wireS, cpuS);
    }

    // Spot check: the last block read back with command 45 (words, low byte first).
    bool same = true;
    for (int w = 0x3FE0; w <= 0x3FFF; ++w) {
        link.command(chlink::CMD_FLASH_READ_MASTER, {quint8(w >> 8), quint8(w & 0xFF)});
        const auto f = link.readFrame(2);
        const int want = 256 * quint8(image[2 * w + 1]) + quint8(image[2 * w]);
        same = same && f && 256 * quint8(f->at(0)) + quint8(f->at(1)) == want;
    }
    std::printf("read-back of the last block: %s\n", same ? "matches" : "DIFFERS");
    link.closePort();
    sim.terminate();
    sim.waitForFinished(2000);
    return same ? 0 : 1;
}
