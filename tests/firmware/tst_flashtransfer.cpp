// The flash exchanges against the virtual charger: what goes on the wire, what ends up in
// its program memories, and where a transfer stops when the charger goes silent.

#include "firmware/flashtransfer.h"
#include "firmware/heximage.h"
#include "flashrig.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>

using namespace firmware;

namespace {
QByteArray randomBytes(int n, quint32 seed) {
    QByteArray b(n, 0);
    QRandomGenerator rng(seed);
    for (char &c : b)
        c = char(rng.bounded(256));
    return b;
}
} // namespace

class TstFlashTransfer : public QObject {
    Q_OBJECT
  private slots:
    void masterWriteSends448BlocksFrom0x1000();
    void masterWriteSendsUndefinedBytesAsFF();
    void readBackOfSlaveAndMaster();
    void readBackRefusesWordsAbove3FFF();
    void silentChargerStopsTheTransfer_data();
    void silentChargerStopsTheTransfer();
    void strayBytesBeforeAFrameAreDropped();
    void refusedWriteStopsAtOnce_data();
    void refusedWriteStopsAtOnce();
    void slaveWriteSendsOnlyChangedWordsInOrder();
    void verifyCountsMismatches();
    void compareCountsProtectedZone_data();
    void compareCountsProtectedZone();
    void stopRequestEndsAfterTheCurrentExchange();
    void lateAnswerIsNotTakenForTheFirstBlock();
};

void TstFlashTransfer::masterWriteSends448BlocksFrom0x1000() {
    FlashRig rig;
    const QByteArray firstPage = randomBytes(0x1000, 5);
    rig.charger.masterFlash.replace(0, 0x1000, firstPage);
    const QByteArray image = randomBytes(kMasterImageSize, 6);
    QList<int> bar;
    FlashProgress p;
    p.bar = [&](int v) { bar.append(v); };
    const FlashResult r = writeMasterFlash(rig.session, image, p);
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(r.exchanges, kMasterBlocks);
    QCOMPARE(kMasterBlocks, 448);
    const auto sent = rig.sent();
    QCOMPARE(sent.size(), 448);
    for (int i = 0; i < sent.size(); ++i) {
        QCOMPARE(sent[i].code, 47);
        QCOMPARE(sent[i].address, 0x1000 + 64 * i);
        QCOMPARE(sent[i].data, image.mid(0x1000 + 64 * i, 64));
    }
    QCOMPARE(rig.port->written.size(), 448 * 68);
    // The charger's memory now equals the image, except the first 4096 bytes, never sent.
    QVERIFY(rig.charger.masterFlash.mid(0x1000) == image.mid(0x1000));
    QVERIFY(rig.charger.masterFlash.left(0x1000) == firstPage);
    QCOMPARE(bar.first(), 0x1000);
    QCOMPARE(bar.last(), 0x8000);
}

void TstFlashTransfer::masterWriteSendsUndefinedBytesAsFF() {
    FlashRig rig;
    rig.charger.masterFlash.fill(0);
    const ByteImageLoad img = loadMasterImage(hexText("\x12\x34\x56", 0x2001));
    QVERIFY(img.ok);
    QVERIFY(writeMasterFlash(rig.session, img.image).ok);
    QByteArray want(0x7000, char(0xFF));
    want.replace(0x1001, 3, "\x12\x34\x56");
    QVERIFY(rig.charger.masterFlash.mid(0x1000) == want);
}

void TstFlashTransfer::readBackOfSlaveAndMaster() {
    FlashRig rig;
    const QVector<quint16> words = randomWords(11);
    rig.charger.slaveFlash = words;
    QVector<quint16> got;
    QStringList infos;
    FlashProgress p;
    p.info = [&](const QString &s) { infos.append(s); };
    const FlashResult r = readFlash(rig.session, 2, 300, &got, p);
    QVERIFY2(r.ok, qPrintable(r.error));
    QCOMPARE(got.size(), 301);
    QVERIFY(got == words.mid(0, 301));
    QCOMPARE(rig.count(46), 301);
    QCOMPARE(infos.first(), QStringLiteral("Mots restant à lire :  300"));
    QCOMPARE(infos.last(), QStringLiteral("Mots restant à lire :  0"));

    // Selector 1 reads the master with command 45: a word of two bytes, low byte first.
    rig.charger.masterFlash[20] = char(0x34);
    rig.charger.masterFlash[21] = char(0x12);
    QVERIFY(readFlash(rig.session, 1, 10, &got).ok);
    QCOMPARE(got[10], quint16(0x1234));
    QCOMPARE(rig.count(45), 11);
}

void TstFlashTransfer::readBackRefusesWordsAbove3FFF() {
    FlashRig rig;
    rig.charger.slavePresent = false; // the master answers 0xFFFF for a missing slave
    QVector<quint16> got;
    const FlashResult r = readFlash(rig.session, 2, 100, &got);
    QVERIFY(!r.ok);
    QCOMPARE(r.address, 0);
    QVERIFY2(r.error.contains("FFFF") && r.error.contains("3FFF"), qPrintable(r.error));
    QCOMPARE(rig.count(46), 1);
}

// A charger that goes silent mid-transfer: the transfer stops at the exchange that got no
// answer, says where, and sends nothing more.
void TstFlashTransfer::silentChargerStopsTheTransfer_data() {
    QTest::addColumn<int>("kind"); // 0 master write, 1 read-back, 2 slave write
    QTest::addColumn<int>("answered");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::newRow("master write after 10 blocks") << 0 << 10 << 0x1000 + 10 * 64 << 10 << 448;
    QTest::newRow("read-back after 7 words") << 1 << 7 * 4 + 2 << 7 << 7 << 101;
    QTest::newRow("slave write after 3 words") << 2 << 3 << 3 * 2 << 3 << 10;
}

void TstFlashTransfer::silentChargerStopsTheTransfer() {
    QFETCH(int, kind);
    QFETCH(int, answered);
    QFETCH(int, address);
    QFETCH(int, done);
    QFETCH(int, total);
    FlashRig rig(200);
    rig.charger.faults.silenceAfterBytes = answered;
    FlashResult r;
    QVector<quint16> words = blankSlaveImage();
    QVector<bool> changed(kSlaveWords, false);
    for (int i = 0; i < 20; i += 2) {
        changed[i] = true;
        words[i] = quint16(i);
    }
    int before = 0;
    switch (kind) {
    case 0:
        r = writeMasterFlash(rig.session, blankMasterImage());
        before = rig.count(47);
        break;
    case 1: {
        QVector<quint16> got;
        r = readFlash(rig.session, 2, 100, &got);
        before = rig.count(46);
        break;
    }
    case 2:
        r = writeSlaveFlash(rig.session, words, changed);
        before = rig.count(48);
        break;
    }
    QVERIFY(!r.ok);
    QVERIFY(!r.stopped);
    QCOMPARE(r.linkError, chlink::LinkError::Timeout);
    QCOMPARE(r.address, address);
    QVERIFY2(r.error.contains(hexAddress(address)), qPrintable(r.error));
    QVERIFY(r.error.contains(QStringLiteral("pas de réponse")));
    QCOMPARE(r.done, done);
    QCOMPARE(r.total, total);
    // Only the exchanges answered plus the one that was not.
    QCOMPARE(before, r.exchanges);
    QTest::qWait(50);
    QCOMPARE(rig.sent().size(), r.exchanges);
}

void TstFlashTransfer::strayBytesBeforeAFrameAreDropped() {
    FlashRig rig;
    rig.charger.faults.strayEvery = 3;
    rig.charger.faults.strayBytes = QByteArray("\x07\x11\x00", 3);
    QVector<quint16> got;
    rig.charger.slaveFlash = randomWords(3);
    QVERIFY(readFlash(rig.session, 2, 50, &got).ok);
    QVERIFY(got == rig.charger.slaveFlash.mid(0, 51));
}

// The charger answers a flash write with one byte. Anything but 6 is a refusal: the
// transfer stops on that block or word at once (long before the reply time-out), says
// where and what came back, and sends nothing more.
void TstFlashTransfer::refusedWriteStopsAtOnce_data() {
    QTest::addColumn<bool>("slave");
    QTest::addColumn<int>("failAt");       // address the charger refuses (-1: none)
    QTest::addColumn<QByteArray>("stray"); // bytes before the next answer
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("done");
    QTest::newRow("master block refused")
        << false << 0x2A40 << QByteArray() << 0x2A40 << 8 << (0x2A40 - 0x1000) / 64;
    QTest::newRow("last master block refused")
        << false << 0x7FC0 << QByteArray() << 0x7FC0 << 8 << 447;
    QTest::newRow("master stray byte before the ACK")
        << false << -1 << QByteArray("\x11", 1) << 0x1000 << 0x11 << 0;
    QTest::newRow("slave word refused") << true << 6144 << QByteArray() << 6144 << 8 << 2;
    QTest::newRow("slave stray byte before the ACK")
        << true << -1 << QByteArray("\x07\x06", 2) << 5 << 7 << 0;
}

void TstFlashTransfer::refusedWriteStopsAtOnce() {
    QFETCH(bool, slave);
    QFETCH(int, failAt);
    QFETCH(QByteArray, stray);
    QFETCH(int, address);
    QFETCH(int, answer);
    QFETCH(int, done);
    FlashRig rig(5000);
    if (failAt >= 0) rig.charger.failFlashWrites(1, failAt);
    rig.charger.faults.strayOnce = stray;
    QVector<quint16> words = blankSlaveImage();
    QVector<bool> changed(kSlaveWords, false);
    for (int i : {5, 100, 6144, 7000}) {
        changed[i] = true;
        words[i] = quint16(i);
    }
    const QVector<quint16> before = rig.charger.slaveFlash;
    QElapsedTimer clock;
    clock.start();
    const FlashResult r = slave ? writeSlaveFlash(rig.session, words, changed)
                                : writeMasterFlash(rig.session, QByteArray(kMasterImageSize, 0x5A));
    QVERIFY2(clock.elapsed() < 2000, "a refusal waited for the reply time-out");
    QVERIFY(!r.ok);
    QVERIFY(!r.stopped);
    QCOMPARE(r.linkError, chlink::LinkError::None);
    QCOMPARE(r.refusal, answer);
    QCOMPARE(r.address, address);
    QCOMPARE(r.done, done);
    QCOMPARE(r.total, slave ? 4 : 448);
    QCOMPARE(r.error,
             QStringLiteral("%1 arrêtée à l'adresse %2 : écriture refusée par le "
                            "chargeur (réponse %3 au lieu de 6)")
                 .arg(slave ? "Écriture Flash Slave" : "Écriture Flash Master", hexAddress(address))
                 .arg(answer));
    QTest::qWait(50);
    QCOMPARE(rig.sent().size(), done + 1); // nothing after the refused one
    if (failAt < 0) return;                // a stray byte: the charger wrote it, the PC cannot tell
    if (slave) {
        QCOMPARE(rig.charger.slaveFlash[address], before[address]);
    } else {
        QCOMPARE(rig.charger.masterFlash.mid(address, 64), QByteArray(64, char(0xFF)));
        QCOMPARE(rig.charger.masterFlash.mid(0x1000, address - 0x1000),
                 QByteArray(address - 0x1000, 0x5A));
    }
}

void TstFlashTransfer::slaveWriteSendsOnlyChangedWordsInOrder() {
    FlashRig rig;
    QVector<quint16> image = blankSlaveImage();
    QVector<bool> changed(kSlaveWords, false);
    const QList<int> at = {0, 5, 6143, 6144, 8191};
    for (int i : at) {
        image[i] = quint16(0x1000 + i);
        changed[i] = true;
    }
    image[7] = 0x0777; // differs but not flagged: not sent
    QStringList infos;
    FlashProgress p;
    p.info = [&](const QString &s) { infos.append(s); };
    QVERIFY(writeSlaveFlash(rig.session, image, changed, p).ok);
    const auto sent = rig.sent();
    QCOMPARE(sent.size(), at.size());
    for (int k = 0; k < at.size(); ++k) {
        QCOMPARE(sent[k].code, 48);
        QCOMPARE(sent[k].address, at[k]);
        const int w = 0x1000 + at[k];
        QCOMPARE(sent[k].data, QByteArray(1, char(w / 256)) + char(w % 256));
        QCOMPARE(rig.charger.slaveFlash[at[k]], quint16(w));
    }
    QCOMPARE(rig.charger.slaveFlash[7], quint16(0x3FFF));
    QCOMPARE(infos,
             QStringList({"Mots restants pour transfer =  4", "Mots restants pour transfer =  3",
                          "Mots restants pour transfer =  2", "Mots restants pour transfer =  1",
                          "Mots restants pour transfer =  0"}));
}

void TstFlashTransfer::verifyCountsMismatches() {
    FlashRig rig;
    QVector<quint16> image = blankSlaveImage();
    QVector<bool> changed(kSlaveWords, false);
    for (int i = 100; i < 110; ++i) {
        changed[i] = true;
        image[i] = quint16(i);
        rig.charger.slaveFlash[i] = quint16(i);
    }
    rig.charger.slaveFlash[103] = 1; // the write did not take at 103 and 108
    rig.charger.slaveFlash[108] = 2;
    const VerifyResult v = verifySlaveFlash(rig.session, image, changed);
    QVERIFY(v.read.ok);
    QCOMPARE(v.mismatches, 2);
    QCOMPARE(v.firstMismatch, 103);
    QCOMPARE(rig.count(46), 10); // only the written words are read
}

void TstFlashTransfer::compareCountsProtectedZone_data() {
    QTest::addColumn<QList<int>>("differ");
    QTest::addColumn<int>("lastWord");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("protectedCount");
    QTest::newRow("none") << QList<int>{} << 100 << 0 << 0;
    QTest::newRow("below the zone") << QList<int>{0, 6143} << 7000 << 2 << 0;
    QTest::newRow("first protected word") << QList<int>{6143, 6144} << 7000 << 2 << 1;
    QTest::newRow("beyond the compared range") << QList<int>{10, 51} << 50 << 1 << 0;
    QTest::newRow("last word included") << QList<int>{50} << 50 << 1 << 0;
    QTest::newRow("whole memory") << QList<int>{0, 8191} << 8191 << 2 << 1;
}

void TstFlashTransfer::compareCountsProtectedZone() {
    QFETCH(QList<int>, differ);
    QFETCH(int, lastWord);
    QFETCH(int, count);
    QFETCH(int, protectedCount);
    const QVector<quint16> image = blankSlaveImage();
    QVector<quint16> readBack = image;
    for (int i : differ)
        readBack[i] = 0;
    const SlaveDiff d = compareSlave(image, readBack, lastWord);
    QCOMPARE(d.count, count);
    QCOMPARE(d.protectedCount, protectedCount);
    QCOMPARE(int(std::count(d.changed.begin(), d.changed.end(), true)), count);
}

void TstFlashTransfer::stopRequestEndsAfterTheCurrentExchange() {
    FlashRig rig;
    int blocks = 0;
    FlashProgress p;
    p.bar = [&](int) { ++blocks; };
    p.stopRequested = [&] { return blocks > 5; };
    const FlashResult r = writeMasterFlash(rig.session, blankMasterImage(), p);
    QVERIFY(!r.ok);
    QVERIFY(r.stopped);
    QCOMPARE(r.error, QStringLiteral("Écriture Flash Master arrêtée à l'adresse 0x1140 : arrêt "
                                     "demandé à la fermeture de la fenêtre"));
    QCOMPARE(rig.count(47), 5);
    QCOMPARE(r.address, 0x1000 + 5 * 64);
    QCOMPARE(r.done, 5);
}

void TstFlashTransfer::lateAnswerIsNotTakenForTheFirstBlock() {
    FlashRig rig(150);
    emit rig.charger.transmit(QByteArray(1, char(6))); // the ACK of an abandoned exchange
    QTest::qWait(10);
    QCOMPARE(rig.link.pending(), 1);
    rig.charger.faults.silenceAfterBytes = 0;
    const FlashResult r = writeMasterFlash(rig.session, blankMasterImage());
    QVERIFY(!r.ok);
    QCOMPARE(r.address, 0x1000);
}

QTEST_GUILESS_MAIN(TstFlashTransfer)
#include "tst_flashtransfer.moc"
