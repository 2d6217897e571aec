// Program memories, the boot loader and the faults that concern them.
#include "simwire.h"

#include <QSignalSpy>
#include <QTest>

using sim::VirtualCharger;

class TestSimFlash : public QObject {
    Q_OBJECT
  private slots:
    void memoriesStartErased();
    void masterBlockWriteReadsBackAsWords();
    void slaveWordWriteKeeps14Bits();
    void writesAtTheMemoryEdgeStayInside();
    void noSlaveReadsBlankAndKeepsMemory();
    void flashWriteFailure_data();
    void flashWriteFailure();
    void bootLoaderHandshake();
    void bootLoaderBlock_data();
    void bootLoaderBlock();
    void bootLoaderScriptedAnswers();
    void bootLoaderEndSequence();
    void bootLoaderRunsAt19200();
    void silenceAfterBytes();
    void strayBytesBeforeReply();
    void vanishMidExchange();
};

void TestSimFlash::memoriesStartErased() {
    VirtualCharger c;
    QCOMPARE(c.masterFlash.size(), 32768);
    QVERIFY(c.masterFlash.count(char(0xFF)) == 32768);
    QCOMPARE(c.slaveFlash.size(), 8192);
    QVERIFY(c.slaveFlash.count(0x3FFF) == 8192);
    SimWire w(c);
    QCOMPARE(w.exchange(SimWire::cmd(45, {0x3F, 0xFF})), QByteArray("\x1b\xff\xff\0", 4));
    QCOMPARE(w.exchange(SimWire::cmd(46, {0x1F, 0xFF})), QByteArray("\x1b\x3f\xff\0", 4));
}

void TestSimFlash::masterBlockWriteReadsBackAsWords() {
    VirtualCharger c;
    SimWire w(c);
    QByteArray data;
    for (int i = 0; i < 64; ++i)
        data += char(i == 0 ? 27 : i); // a data byte 27 is data
    QByteArray out = SimWire::cmd(47, {0x10, 0x40}) + data;
    // The charger answers only once all 66 argument bytes are in.
    QCOMPARE(w.exchange(out.left(out.size() - 1)), QByteArray());
    QCOMPARE(w.exchange(out.right(1)), QByteArray(1, char(6)));
    QCOMPARE(c.masterFlash.mid(0x1040, 64), data);
    QCOMPARE(c.masterFlash.at(0x103F), char(0xFF));
    QCOMPARE(c.masterFlash.at(0x1080), char(0xFF));
    // Word 0x820 is bytes 0x1040 (low) and 0x1041 (high).
    QCOMPARE(SimWire::frameData(w.exchange(SimWire::cmd(45, {0x08, 0x20}))),
             QByteArray("\x01\x1b", 2));
    QCOMPARE(SimWire::frameData(w.exchange(SimWire::cmd(45, {0x08, 0x21}))),
             QByteArray("\x03\x02", 2));
}

void TestSimFlash::slaveWordWriteKeeps14Bits() {
    VirtualCharger c;
    SimWire w(c);
    QCOMPARE(w.exchange(SimWire::cmd(48, {0x18, 0x00, 0xFF, 0xFF})), QByteArray(1, char(6)));
    QCOMPARE(c.slaveFlash.at(0x1800), quint16(0x3FFF));
    QCOMPARE(w.exchange(SimWire::cmd(48, {0x00, 0x05, 0x28, 0x3A})), QByteArray(1, char(6)));
    QCOMPARE(SimWire::frameData(w.exchange(SimWire::cmd(46, {0, 5}))), QByteArray("\x28\x3a"));
    QCOMPARE(c.slaveFlash.count(0x3FFF), 8191);
}

void TestSimFlash::writesAtTheMemoryEdgeStayInside() {
    VirtualCharger c;
    SimWire w(c);
    QCOMPARE(w.exchange(SimWire::cmd(47, {0x7F, 0xE0}) + QByteArray(64, char(0x12))),
             QByteArray(1, char(6)));
    QCOMPARE(c.masterFlash.size(), 32768);
    QCOMPARE(c.masterFlash.right(32), QByteArray(32, char(0x12)));
    QCOMPARE(c.masterFlash.at(0), char(0xFF));
}

void TestSimFlash::noSlaveReadsBlankAndKeepsMemory() {
    VirtualCharger c;
    c.slavePresent = false;
    SimWire w(c);
    QCOMPARE(SimWire::frameData(w.exchange(SimWire::cmd(1))), QByteArray("\0\0\0", 3));
    QCOMPARE(w.exchange(SimWire::cmd(48, {0, 1, 0, 0})), QByteArray(1, char(6)));
    QCOMPARE(c.slaveFlash.at(1), quint16(0x3FFF));
    QCOMPARE(SimWire::frameData(w.exchange(SimWire::cmd(46, {0, 1}))), QByteArray("\xff\xff"));
}

void TestSimFlash::flashWriteFailure_data() {
    QTest::addColumn<int>("failAddress");
    QTest::addColumn<bool>("fails");
    QTest::newRow("any address") << -1 << true;
    QTest::newRow("this block") << 0x2000 << true;
    QTest::newRow("another block") << 0x2040 << false;
}

void TestSimFlash::flashWriteFailure() {
    QFETCH(int, failAddress);
    QFETCH(bool, fails);
    VirtualCharger c;
    c.failFlashWrites(1, failAddress);
    SimWire w(c);
    const QByteArray block = SimWire::cmd(47, {0x20, 0x00}) + QByteArray(64, char(0x55));
    QCOMPARE(w.exchange(block), QByteArray(1, char(fails ? 8 : 6)));
    QCOMPARE(c.masterFlash.at(0x2000), char(fails ? 0xFF : 0x55));
    // Only the number of writes asked for fail.
    QCOMPARE(w.exchange(block), QByteArray(1, char(6)));
    QCOMPARE(c.masterFlash.at(0x2000), char(0x55));
}

void TestSimFlash::bootLoaderHandshake() {
    VirtualCharger c(VirtualCharger::Mode::BootLoader);
    SimWire w(c);
    QCOMPARE(w.exchange("CD"), QByteArray("c"));
    QCOMPARE(w.exchange("D"), QByteArray());
    QCOMPARE(w.exchange(QByteArray(1, char(0x55))), QByteArray()); // no firmware probe here
    QCOMPARE(w.exchange("xCD"), QByteArray("c"));
    // The firmware's command set is not served by the boot loader.
    VirtualCharger firmware;
    SimWire f(firmware);
    QCOMPARE(f.exchange("CD"), QByteArray());
}

void TestSimFlash::bootLoaderBlock_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("sumError");
    QTest::addColumn<int>("trailing");
    QTest::addColumn<int>("answer");
    QTest::newRow("good block at 0") << 0 << 0 << 0 << 6;
    QTest::newRow("good last block") << 0x77C0 << 0 << 0 << 6;
    QTest::newRow("bad sum") << 0x40 << 1 << 0 << 7;
    QTest::newRow("sum off by 255") << 0x40 << 255 << 0 << 7;
    QTest::newRow("trailing byte not 0") << 0x40 << 0 << 1 << 7;
    QTest::newRow("into the boot loader") << 0x7800 << 0 << 0 << 8;
}

void TestSimFlash::bootLoaderBlock() {
    QFETCH(int, address);
    QFETCH(int, sumError);
    QFETCH(int, trailing);
    QFETCH(int, answer);
    VirtualCharger c(VirtualCharger::Mode::BootLoader);
    SimWire w(c);
    QByteArray data;
    for (int i = 0; i < 64; ++i)
        data += char(i * 7 + 27);
    QCOMPARE(w.exchange(bootBlock(address, data, sumError, char(trailing))),
             QByteArray(1, char(answer)));
    const bool written = answer == 6;
    QCOMPARE(c.masterFlash.mid(address, 64) == data, written);
    QCOMPARE(c.bootBlocksWritten(), written ? 1 : 0);
    // After any answer the next block is taken normally.
    QCOMPARE(w.exchange(bootBlock(0x100, data)), QByteArray(1, char(6)));
}

void TestSimFlash::bootLoaderScriptedAnswers() {
    VirtualCharger c(VirtualCharger::Mode::BootLoader);
    c.scriptBootAnswer(0x40, 7, 2);
    c.scriptBootAnswer(0x80, 8, 5);
    SimWire w(c);
    const QByteArray data(64, char(0x42));
    QCOMPARE(w.exchange(bootBlock(0, data)), QByteArray(1, char(6)));
    QCOMPARE(w.exchange(bootBlock(0x40, data)), QByteArray(1, char(7)));
    QCOMPARE(c.masterFlash.at(0x40), char(0xFF));
    QCOMPARE(w.exchange(bootBlock(0x40, data)), QByteArray(1, char(7)));
    QCOMPARE(w.exchange(bootBlock(0x40, data)), QByteArray(1, char(6)));
    QCOMPARE(c.masterFlash.at(0x40), char(0x42));
    for (int i = 0; i < 5; ++i)
        QCOMPARE(w.exchange(bootBlock(0x80, data)), QByteArray(1, char(8)));
    QCOMPARE(w.exchange(bootBlock(0x80, data)), QByteArray(1, char(6)));
    // Stray bytes come before the boot loader's answers too.
    c.faults.strayOnce = QByteArray(1, char(0x11));
    QCOMPARE(w.exchange(bootBlock(0x100, data)), QByteArray("\x11\x06", 2));
    // A failing flash write is ERFLASH in the boot loader too.
    c.failFlashWrites(1);
    QCOMPARE(w.exchange(bootBlock(0xC0, data)), QByteArray(1, char(8)));
    QCOMPARE(c.masterFlash.at(0xC0), char(0xFF));
}

void TestSimFlash::bootLoaderEndSequence() {
    VirtualCharger c(VirtualCharger::Mode::BootLoader);
    QSignalSpy ended(&c, &VirtualCharger::uploadEnded);
    SimWire w(c);
    QCOMPARE(w.exchange(bootBlock(0, QByteArray(64, 'a'))), QByteArray(1, char(6)));
    QCOMPARE(w.exchange(QByteArray("\x1b\xff\x00", 3)), QByteArray());
    QCOMPARE(ended.count(), 1);
    QCOMPARE(c.bootUploadsEnded(), 1);
    // Still the boot loader: a new handshake and upload work.
    QCOMPARE(w.exchange("CD"), QByteArray("c"));
    QCOMPARE(w.exchange(bootBlock(0x40, QByteArray(64, 'b'))), QByteArray(1, char(6)));
}

void TestSimFlash::bootLoaderRunsAt19200() {
    VirtualCharger c;
    QCOMPARE(c.baudRate(), 9600);
    QSignalSpy baud(&c, &VirtualCharger::baudRateChanged);
    c.setBootLoader(true);
    QCOMPARE(c.baudRate(), 19200);
    QCOMPARE(baud.count(), 1);
    QCOMPARE(baud.at(0).at(0).toInt(), 19200);
}

void TestSimFlash::silenceAfterBytes() {
    VirtualCharger c;
    c.faults.silenceAfterBytes = 2;
    SimWire w(c);
    // A frame cut after its first data byte, then nothing.
    QCOMPARE(w.exchange(SimWire::cmd(37, {0})), QByteArray(1, char(27)) + c.eepromMaster.at(0));
    QCOMPARE(w.exchange(QByteArray(1, char(0x55))), QByteArray());
    QCOMPARE(w.exchange(SimWire::cmd(15, {1})), QByteArray());
}

void TestSimFlash::strayBytesBeforeReply() {
    VirtualCharger c;
    c.faults.strayOnce = QByteArray("\x06\x01", 2);
    SimWire w(c);
    QCOMPARE(w.exchange(SimWire::cmd(41)).left(3), QByteArray("\x06\x01\x1b", 3));
    QCOMPARE(w.exchange(SimWire::cmd(41)).left(1), QByteArray(1, char(27)));
    c.faults.strayEvery = 2;
    c.faults.strayBytes = QByteArray(1, char(0x99));
    int strays = 0;
    for (int i = 0; i < 6; ++i)
        strays += w.exchange(SimWire::cmd(23, {1})).size() - 1;
    QCOMPARE(strays, 3);
}

void TestSimFlash::vanishMidExchange() {
    VirtualCharger c;
    c.faults.vanishAfterBytes = 10;
    QSignalSpy vanished(&c, &VirtualCharger::vanishRequested);
    SimWire w(c);
    const QByteArray block = SimWire::cmd(47, {0x10, 0x00}) + QByteArray(64, char(1));
    QCOMPARE(w.exchange(block), QByteArray());
    QCOMPARE(vanished.count(), 1);
    QCOMPARE(c.masterFlash.at(0x1000), char(0xFF));
    // Nothing more reaches the charger.
    QCOMPARE(w.exchange(QByteArray(1, char(0x55))), QByteArray());
    QCOMPARE(vanished.count(), 1);
}

QTEST_GUILESS_MAIN(TestSimFlash)
#include "tst_simflash.moc"
