// Master and slave flash programming through chargersim on a pseudo-terminal, the line paced
// both ways at the charger's 9600 baud (chargersim --pace): wall time against the wire's own
// time. The wire time counts every byte that must cross the line, both ways, 10 bits each
// at 9600 baud; every exchange waits for its answer, so the two directions add up.
//  - master: the 448 blocks of 64 bytes from 0x1000; a block is ESC, 47, address high, low
//    and 64 bytes out, the ACK back: 69 bytes.
//  - slave: the microcontroller window's operation on a program of 1024 words (last address
//    1024): read-back of words 0..1024, each ESC, 46, high, low out and ESC, high, low, a
//    trailing byte back (8 bytes); the comparison; the write of each changed word (all 1024),
//    ESC, 48, address high, low, word high, low out and the ACK back (7 bytes).
// Usage: bench_flash [--no-pace] [--master | --slave] [runs]   (runs default 1)

#include "firmware/flashtransfer.h"
#include "firmware/heximage.h"
#include "serial/serialport.h"

#include "support/process.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>

#include <cstdio>

using namespace firmware;

namespace {

constexpr double kByteS = 10 / 9600.0;
constexpr int kSlaveWords = 1024;

double ratio(double wallS, qint64 wireBytes) {
    return wallS / (wireBytes * kByteS);
}

bool benchMaster(chlink::Session &link, int runs) {
    const qint64 wireBytes = qint64(kMasterBlocks) * (4 + kMasterBlockBytes + 1);
    std::printf("master flash write: %d blocks, %lld bytes both ways, wire time %.2f s\n",
                kMasterBlocks, static_cast<long long>(wireBytes), wireBytes * kByteS);
    QByteArray image = blankMasterImage();
    QRandomGenerator rng(1);
    for (int run = 0; run < runs; ++run) {
        for (int i = kMasterWriteFirst; i < kMasterImageSize; ++i)
            image[i] = char(rng.bounded(256));
        QElapsedTimer t;
        const double cpu0 = cpuSeconds();
        t.start();
        const FlashResult r = writeMasterFlash(link, image);
        const double wallS = t.nsecsElapsed() / 1e9;
        if (!r.ok) {
            std::fprintf(stderr, "master write failed: %s\n", qPrintable(r.error));
            return false;
        }
        std::printf("  run %d: wall %.3f s, ratio to wire time %.3f (%.3f ms a block); CPU "
                    "%.3f s\n",
                    run + 1, wallS, ratio(wallS, wireBytes), wallS * 1000 / kMasterBlocks,
                    cpuSeconds() - cpu0);
    }
    // Spot check: the last block read back with command 45 (words, low byte first).
    bool same = true;
    for (int w = 0x3FE0; w <= 0x3FFF; ++w) {
        link.command(chlink::CMD_FLASH_READ_MASTER, {quint8(w >> 8), quint8(w & 0xFF)});
        const auto f = link.readFrame(2);
        const int want = 256 * quint8(image[2 * w + 1]) + quint8(image[2 * w]);
        same = same && f && 256 * quint8(f->at(0)) + quint8(f->at(1)) == want;
    }
    std::printf("  read-back of the last block: %s\n", same ? "matches" : "DIFFERS");
    return same;
}

bool benchSlave(chlink::Session &link, int runs) {
    const int lastWord = kSlaveWords; // one past the program's last word, as the window reads
    const qint64 readBytes = qint64(lastWord + 1) * 8;
    std::printf("slave flash: read-back of %d words (%lld bytes both ways, wire time %.2f s), "
                "write of the %d changed words (%lld bytes, %.2f s)\n",
                lastWord + 1, static_cast<long long>(readBytes), readBytes * kByteS, kSlaveWords,
                static_cast<long long>(kSlaveWords * 7LL), kSlaveWords * 7 * kByteS);
    QVector<quint16> base(kSlaveWords);
    QRandomGenerator rng(2);
    for (quint16 &w : base)
        w = quint16(rng.bounded(0x3FFF)); // never the erased 0x3FFF
    QVector<quint16> image(8193, 0x3FFF);
    for (int run = 0; run < runs; ++run) {
        for (int i = 0; i < kSlaveWords; ++i) // every word differs from the previous run's
            image[i] = quint16((base[i] + run) & 0x3FFF);
        QElapsedTimer t;
        const double cpu0 = cpuSeconds();
        t.start();
        QVector<quint16> readBack;
        const FlashResult read = readFlash(link, 2, lastWord, &readBack);
        const double readS = t.nsecsElapsed() / 1e9;
        if (!read.ok) {
            std::fprintf(stderr, "slave read-back failed: %s\n", qPrintable(read.error));
            return false;
        }
        const SlaveDiff diff = compareSlave(image, readBack, lastWord);
        const FlashResult write = writeSlaveFlash(link, image, diff.changed);
        const double wallS = t.nsecsElapsed() / 1e9;
        if (!write.ok || diff.count != kSlaveWords) {
            std::fprintf(stderr, "slave write failed (%d changed words): %s\n", diff.count,
                         qPrintable(write.error));
            return false;
        }
        const qint64 writeBytes = qint64(diff.count) * 7;
        std::printf("  run %d: read-back %.3f s (ratio %.3f), write %.3f s (ratio %.3f); whole "
                    "operation %.3f s, ratio to wire time %.3f; CPU %.3f s\n",
                    run + 1, readS, ratio(readS, readBytes), wallS - readS,
                    ratio(wallS - readS, writeBytes), wallS, ratio(wallS, readBytes + writeBytes),
                    cpuSeconds() - cpu0);
    }
    // Spot check: the program's last 32 words read back with command 46.
    bool same = true;
    for (int w = kSlaveWords - 32; w < kSlaveWords; ++w) {
        link.command(chlink::CMD_FLASH_READ_SLAVE, {quint8(w >> 8), quint8(w & 0xFF)});
        const auto f = link.readFrame(2);
        same = same && f && 256 * quint8(f->at(0)) + quint8(f->at(1)) == image[w];
    }
    std::printf("  read-back of the last 32 words: %s\n", same ? "matches" : "DIFFERS");
    return same;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool pace = !args.removeAll(QStringLiteral("--no-pace"));
    const bool masterOnly = args.removeAll(QStringLiteral("--master"));
    const bool slaveOnly = args.removeAll(QStringLiteral("--slave"));
    const int runs = args.isEmpty() ? 1 : qMax(1, args.first().toInt());

    QProcess sim;
    const QString dev =
        startChargersim(sim, QStringLiteral(CHARGERSIM_PATH),
                        pace ? QStringList{QStringLiteral("--pace"), QStringLiteral("--no-console")}
                             : QStringList{QStringLiteral("--no-console")});
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
    std::printf("chargersim %s, 9600 baud (byte time %.4f ms)\n",
                pace ? "paced both ways" : "NOT paced (the program's own cost only)",
                kByteS * 1000);
    chlink::Session session(link);
    bool ok = true;
    if (!slaveOnly) ok = benchMaster(session, runs) && ok;
    if (!masterOnly) ok = benchSlave(session, runs) && ok;
    link.closePort();
    sim.terminate();
    sim.waitForFinished(2000);
    return ok ? 0 : 1;
}
