// The virtual charger through the program's link, both in-process and on a pseudo-terminal,
// and the chargersim program itself.
#include "simwire.h"

#include "charger/eeprommap.h"
#include "link/chargerlink.h"
#include "link/exchanges.h"
#include "serial/serialport.h"
#include "sim/ptyserver.h"
#include "sim/simport.h"
#include "sim/statefile.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <csignal>
#include <memory>

using chlink::ChargerLink;
using sim::VirtualCharger;

namespace {

// One charger behind one link, over either transport.
struct Bench {
    VirtualCharger charger;
    std::unique_ptr<sim::PtyServer> pty;
    std::unique_ptr<ChargerLink> link;

    explicit Bench(bool overPty) {
        charger.setManualClock(true);
        if (overPty) {
            pty = std::make_unique<sim::PtyServer>(&charger);
            QVERIFY(pty->start());
            const QString dev = pty->slavePath();
            link = std::make_unique<ChargerLink>(
                [](const QString &d) { return new chlink::SerialBytePort(d); },
                [dev](int) { return dev; });
        } else {
            link = std::make_unique<ChargerLink>(
                [this](const QString &) { return new sim::SimBytePort(&charger); },
                [](int) { return QStringLiteral("virtual"); });
        }
        link->portSetup();
        QVERIFY(link->openPort());
    }
};

void addTransports() {
    QTest::addColumn<bool>("overPty");
    QTest::newRow("in-process") << false;
    QTest::newRow("pseudo-terminal") << true;
}

QByteArray readAll(QSerialPort &port, int bytes, int timeoutMs) {
    QByteArray got;
    QElapsedTimer t;
    t.start();
    // The charger may live in this process: wait in the event loop.
    while (got.size() < bytes && t.elapsed() < timeoutMs) {
        got += port.readAll();
        if (got.size() < bytes) QTest::qWait(1);
    }
    return got;
}

QString chargersimPath() {
    return qEnvironmentVariable("PELMORA_BIN_DIR") + QStringLiteral("/sim/chargersim");
}

} // namespace

class TestSimLink : public QObject {
    Q_OBJECT
  private slots:
    void channelsThroughTheLink_data() { addTransports(); }
    void channelsThroughTheLink();
    void memoriesThroughTheLink_data() { addTransports(); }
    void memoriesThroughTheLink();
    void strayBytesAreSkippedByTheLink_data() { addTransports(); }
    void strayBytesAreSkippedByTheLink();
    void silenceEndsInATimeout_data() { addTransports(); }
    void silenceEndsInATimeout();
    void vanishingPortIsReported_data() { addTransports(); }
    void vanishingPortIsReported();
    void monitorStreamNeedsTheFasterLine_data() { addTransports(); }
    void monitorStreamNeedsTheFasterLine();
    void unreadStreamKeepsABoundedBacklog();
    void bootLoaderOnAPseudoTerminal();
    void pacingFollowsTheLineSpeed_data();
    void pacingFollowsTheLineSpeed();
    void chargersimServesAndSavesOnCtrlC();
    void chargersimConsoleChangesTheBench();
    void chargersimRejectsBadOptions_data();
    void chargersimRejectsBadOptions();
};

void TestSimLink::channelsThroughTheLink() {
    QFETCH(bool, overPty);
    Bench b(overPty);
    ChargerLink &l = *b.link;
    QCOMPARE(chlink::linkStatus(chlink::Session(l)).value_or(QByteArray()),
             QByteArray("\0\0\6", 3));
    for (quint8 i = 0; i < 16; ++i) {
        l.tableA[i] = char(chlink::eeRead(chlink::Session(l), 1, i).value_or(0));
        l.tableB[i] = char(chlink::eeRead(chlink::Session(l), 2, i).value_or(0));
    }
    QVERIFY(chlink::setOutput(chlink::Session(l), chlink::CMD_POT_ICHRG, 75));
    QVERIFY(chlink::setOutput(chlink::Session(l), chlink::CMD_CUT_POWER, 1));
    QVERIFY(chlink::setOutput(chlink::Session(l), chlink::CMD_CUT_CHARGE, 1));
    b.charger.advance(600);
    const int ic = chlink::readChannel(chlink::Session(l), chlink::CMD_READ_ICHRG).value_or(-1);
    const int vb = chlink::readChannel(chlink::Session(l), chlink::CMD_READ_VBAT).value_or(-1);
    const double amps =
        std::floor(1024.0 * ic / charger::value(l.tableB, charger::slave::kChargeDivisor)) / 100;
    const double volts =
        std::floor(1024.0 * vb / charger::value(l.tableB, charger::slave::kBatteryDivisor)) / 100;
    QVERIFY2(std::abs(amps - b.charger.chargeAmps()) <= 0.02 * b.charger.chargeAmps(),
             qPrintable(QString::number(amps)));
    QVERIFY(std::abs(volts - b.charger.batteryVolts()) <= 0.02 * b.charger.batteryVolts());
    const auto clock = chlink::readClock(chlink::Session(l));
    QVERIFY(clock);
    QCOMPARE(clock->totalSeconds(), 600);
}

void TestSimLink::memoriesThroughTheLink() {
    QFETCH(bool, overPty);
    Bench b(overPty);
    ChargerLink &l = *b.link;
    QVERIFY(chlink::eeWrite(chlink::Session(l), 1, 100, 27));
    QCOMPARE(chlink::eeRead(chlink::Session(l), 1, 100).value_or(0), quint8(27));
    QVERIFY(chlink::eeWrite(chlink::Session(l), 2, 101, 6));
    QCOMPARE(chlink::eeRead(chlink::Session(l), 2, 101).value_or(0), quint8(6));
    l.command(chlink::CMD_EXT_EE_WRITE, {1, 0x0F, 0xFF, 0x41});
    QVERIFY(l.waitAck());
    l.command(chlink::CMD_EXT_EE_READ, {1, 0x0F, 0xFF});
    QCOMPARE(l.readFrame(1).value_or(QByteArray()), QByteArray("A"));
    // A master block and a slave word, read back as words.
    QByteArray block;
    for (int i = 0; i < 64; ++i)
        block += char(255 - i);
    l.command(chlink::CMD_FLASH_WRITE_MASTER, QByteArray("\x10\x00", 2) + block);
    QVERIFY(l.waitAck());
    l.command(chlink::CMD_FLASH_READ_MASTER, {0x08, 0x00});
    QCOMPARE(l.readFrame(2).value_or(QByteArray()), QByteArray("\xfe\xff"));
    l.command(chlink::CMD_FLASH_WRITE_SLAVE, {0x17, 0xFF, 0x12, 0x34});
    QVERIFY(l.waitAck());
    l.command(chlink::CMD_FLASH_READ_SLAVE, {0x17, 0xFF});
    QCOMPARE(l.readFrame(2).value_or(QByteArray()), QByteArray("\x12\x34"));
}

void TestSimLink::strayBytesAreSkippedByTheLink() {
    QFETCH(bool, overPty);
    Bench b(overPty);
    b.charger.faults.strayOnce = QByteArray("\x06\x99", 2);
    QCOMPARE(chlink::eeRead(chlink::Session(*b.link), 1, 192).value_or(0), quint8('C'));
}

void TestSimLink::silenceEndsInATimeout() {
    QFETCH(bool, overPty);
    Bench b(overPty);
    b.charger.faults.silenceAfterBytes = 2; // ESC and the first data byte only
    QVERIFY(!chlink::readClock(chlink::Session(*b.link)));
    QCOMPARE(b.link->error(), chlink::LinkError::Timeout);
}

void TestSimLink::vanishingPortIsReported() {
    QFETCH(bool, overPty);
    Bench b(overPty);
    QSignalSpy lost(b.link.get(), &ChargerLink::portLost);
    b.charger.faults.vanishAfterBytes = 30; // in the middle of a master block
    b.link->command(chlink::CMD_FLASH_WRITE_MASTER, QByteArray("\x10\x00", 2) + QByteArray(64, 1));
    QVERIFY(!b.link->waitAck());
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 5000);
    QCOMPARE(b.charger.masterFlash.at(0x1000), char(0xFF));
    if (overPty) QVERIFY(!b.pty->isServing());
}

void TestSimLink::monitorStreamNeedsTheFasterLine() {
    QFETCH(bool, overPty);
    Bench b(overPty);
    if (overPty)
        b.pty->setStrictBaud(true);
    else
        static_cast<sim::SimBytePort *>(b.link->port())->strictBaud = true;
    ChargerLink &l = *b.link;
    QCOMPARE(chlink::eeRead(chlink::Session(l), 1, 192).value_or(0), quint8('C'));
    const auto collect = [&l](int bytes) {
        QByteArray got;
        l.waitUntil(
            [&] {
                for (int c; (c = l.readPending()) >= 0;)
                    got += char(c);
                return got.size() >= bytes;
            },
            2000);
        return got;
    };
    l.command(chlink::CMD_DISCONNECT);
    // Still at 9600 baud: the first record arrives as garbage.
    const QByteArray garbage = collect(30);
    QCOMPARE(garbage, QByteArray(30, char(0xF8)));
    l.setBaudRate(19200);
    b.charger.advance(2);
    const QByteArray records = collect(60);
    QCOMPARE(records.size(), 60);
    QCOMPARE(records.at(0), '\n');
    QCOMPARE(records.at(30), '\n');
    QCOMPARE(records.at(7), '=');
    // Back at 9600 the handshake's first probe is noise to the charger but ends the
    // stream; the next one is answered.
    l.setBaudRate(9600);
    l.sendByte(0x55);
    QTRY_COMPARE(b.charger.mode(), VirtualCharger::Mode::Firmware);
    collect(0);
    l.sendByte(0x55);
    QCOMPARE(collect(1), QByteArray(1, char(27)));
    QCOMPARE(b.charger.mode(), VirtualCharger::Mode::Firmware);
}

void TestSimLink::unreadStreamKeepsABoundedBacklog() {
    VirtualCharger charger;
    charger.setManualClock(true);
    sim::PtyServer pty(&charger);
    QVERIFY(pty.start());
    charger.receive(SimWire::cmd(3));
    charger.advance(20000); // 600 kB of monitor records that no port reads
    QTest::qWait(50);
    QSerialPort port(pty.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    QByteArray got;
    for (int quiet = 0; quiet < 20;) {
        QTest::qWait(5);
        const QByteArray more = port.readAll();
        quiet = more.isEmpty() ? quiet + 1 : 0;
        got += more;
    }
    QVERIFY2(got.size() > 1000 && got.size() < 200 * 1024, qPrintable(QString::number(got.size())));
    // The newest records are the ones kept.
    QCOMPARE(quint8(got.at(got.size() - 30)), quint8('\n'));
    QCOMPARE(quint8(got.at(got.size() - 28)) * 256 + quint8(got.at(got.size() - 27)),
             20001 & 0xFFFF);
}

void TestSimLink::bootLoaderOnAPseudoTerminal() {
    VirtualCharger charger(VirtualCharger::Mode::BootLoader);
    charger.scriptBootAnswer(0x40, 8, 1);
    sim::PtyServer pty(&charger);
    QVERIFY(pty.start());
    pty.setPacingFollowsCharger(true);
    QCOMPARE(pty.pacing(), 19200);
    QSerialPort port(pty.slavePath());
    port.setBaudRate(19200);
    QVERIFY(port.open(QIODevice::ReadWrite));
    port.write("CD");
    QCOMPARE(readAll(port, 1, 2000), QByteArray("c"));
    const QByteArray data(64, char(0x3C));
    const QList<QPair<QByteArray, char>> exchanges = {
        {bootBlock(0, data), 6},
        {bootBlock(0x80, data, 3), 7}, // bad sum
        {bootBlock(0x40, data), 8},    // flash write failed (scripted)
        {bootBlock(0x40, data), 6},
    };
    for (const auto &[block, answer] : exchanges) {
        port.write(block);
        QCOMPARE(readAll(port, 1, 2000), QByteArray(1, answer));
    }
    QSignalSpy ended(&charger, &VirtualCharger::uploadEnded);
    port.write(QByteArray("\x1b\xff\x00", 3));
    QTRY_COMPARE(ended.count(), 1);
    QCOMPARE(charger.masterFlash.left(128), data + data);
    QCOMPARE(charger.masterFlash.at(0x80), char(0xFF));
}

void TestSimLink::pacingFollowsTheLineSpeed_data() {
    QTest::addColumn<int>("baud");
    QTest::newRow("9600") << 9600;
    QTest::newRow("19200") << 19200;
}

void TestSimLink::pacingFollowsTheLineSpeed() {
    QFETCH(int, baud);
    VirtualCharger charger;
    sim::PtyServer pty(&charger);
    QVERIFY(pty.start());
    pty.setPacing(baud);
    QSerialPort port(pty.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    const int n = 240; // probes, each answered by one byte
    QElapsedTimer t;
    t.start();
    port.write(QByteArray(n, char(0x55)));
    QCOMPARE(readAll(port, n, 5000).size(), n);
    const double ideal = n * 10000.0 / baud;
    const double ms = t.elapsed();
    // Not faster than the line; and not slowed down by the timer's grain either.
    QVERIFY2(ms >= ideal * 0.95 && ms < ideal * 1.4 + 20, qPrintable(QString::number(ms)));
}

void TestSimLink::chargersimServesAndSavesOnCtrlC() {
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("state.json"));
    QProcess p;
    p.start(chargersimPath(), {QStringLiteral("--state"), state, QStringLiteral("--chemistry"),
                               QStringLiteral("lead"), QStringLiteral("--cells"),
                               QStringLiteral("3"), QStringLiteral("--soc"), QStringLiteral("75")});
    QVERIFY(p.waitForStarted());
    QVERIFY(p.waitForReadyRead(5000));
    const QString dev = QString::fromLocal8Bit(p.readLine()).trimmed();
    QVERIFY2(dev.startsWith(QStringLiteral("/dev/")), qPrintable(dev));
    {
        QSerialPort port(dev);
        QVERIFY(port.open(QIODevice::ReadWrite));
        port.write(QByteArray(1, char(0x55)));
        QCOMPARE(readAll(port, 1, 3000), QByteArray(1, char(27)));
        port.write(QByteArray("\x1b\x27\xc8\x4b", 4)); // master EEPROM 200 = 'K'
        QCOMPARE(readAll(port, 1, 3000), QByteArray(1, char(6)));
    }
    // The console presses a button.
    p.write("press 2\n");
    QVERIFY(p.waitForReadyRead(3000));
    QVERIFY(p.readAll().contains("SW2 pressed"));
    ::kill(pid_t(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    VirtualCharger c;
    QString why;
    QVERIFY2(sim::loadState(c, state, &why), qPrintable(why));
    QCOMPARE(c.eepromMaster.at(200), 'K');
    QCOMPARE(c.battery().spec().chemistry, sim::Chemistry::LeadAcid);
    QCOMPARE(c.battery().spec().cells, 3);
    QVERIFY(std::abs(c.battery().stateOfCharge() - 0.75) < 0.01);
}

// A console line and the lines it prints (bounded waits).
QString consoleSays(QProcess &p, const QByteArray &line, int lines = 1) {
    p.write(line + '\n');
    QByteArray out = p.readAll();
    while (out.count('\n') < lines && p.waitForReadyRead(3000))
        out += p.readAll();
    return QString::fromLocal8Bit(out);
}

// Options and console lines change the bench live; status shows every output, the supply
// and doubler and both temperatures; a failing EEPROM cell is acknowledged but keeps its
// byte; --miscalibrate stores constants about 10 % off.
void TestSimLink::chargersimConsoleChangesTheBench() {
    QProcess p;
    p.start(chargersimPath(), {QStringLiteral("--unplugged"), QStringLiteral("--supply"),
                               QStringLiteral("14"), QStringLiteral("--fail-eeprom-write"),
                               QStringLiteral("slave:4"), QStringLiteral("--miscalibrate")});
    QVERIFY(p.waitForStarted());
    QVERIFY(p.waitForReadyRead(5000));
    const QString dev = QString::fromLocal8Bit(p.readLine()).trimmed();
    QVERIFY2(dev.startsWith(QStringLiteral("/dev/")), qPrintable(dev));
    QString status = consoleSays(p, "status", 4);
    QVERIFY2(status.contains(QLatin1String("battery out")), qPrintable(status));
    QVERIFY(status.contains(QLatin1String("supply 14.00 V (doubler)")));
    QVERIFY(status.contains(QLatin1String("ground on")));
    QVERIFY(status.contains(QLatin1String("doubler cut")));
    QVERIFY(consoleSays(p, "supply 15.5").contains(QLatin1String("15.5")));
    QVERIFY(consoleSays(p, "battery in").contains(QLatin1String("plugged in")));
    QVERIFY(consoleSays(p, "packtemp 33").contains(QLatin1String("33")));
    QVERIFY(consoleSays(p, "ambient 30").contains(QLatin1String("30")));
    QVERIFY(consoleSays(p, "doubler broken").contains(QLatin1String("broken")));
    QVERIFY(consoleSays(p, "fail-eeprom nowhere:3").contains(QLatin1String("expects")));
    status = consoleSays(p, "status", 4);
    QVERIFY2(status.contains(QLatin1String("battery in")), qPrintable(status));
    QVERIFY(status.contains(QLatin1String("supply 15.50 V")));
    QVERIFY(status.contains(QLatin1String("ambient 30.0 C")));
    QVERIFY(status.contains(QLatin1String("pack 33.0 C")));
    QVERIFY(status.contains(QLatin1String("(broken)")));
    {
        QSerialPort port(dev);
        QVERIFY(port.open(QIODevice::ReadWrite));
        // The slave's charge divisor, about 10 % off the factory's (about 2048).
        port.write(QByteArray("\x1b\x26\x00", 3));
        const QByteArray high = readAll(port, 3, 3000);
        port.write(QByteArray("\x1b\x26\x01", 3));
        const QByteArray low = readAll(port, 3, 3000);
        QCOMPARE(high.size(), 3);
        QCOMPARE(low.size(), 3);
        const int divisor = quint8(high.at(1)) * 256 + quint8(low.at(1));
        QVERIFY2(std::abs(divisor - 2048) > 150, qPrintable(QString::number(divisor)));
        // Slave address 4 fails its write: ACK, then the old byte reads back.
        port.write(QByteArray("\x1b\x26\x04", 3));
        const QByteArray before = readAll(port, 3, 3000);
        port.write(QByteArray("\x1b\x28\x04\x63", 4));
        QCOMPARE(readAll(port, 1, 3000), QByteArray(1, char(6)));
        port.write(QByteArray("\x1b\x26\x04", 3));
        QCOMPARE(readAll(port, 3, 3000), before);
    }
    p.write("quit\n");
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 0);
}

void TestSimLink::chargersimRejectsBadOptions_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("speed") << QStringList{QStringLiteral("--speed"), QStringLiteral("0")};
    QTest::newRow("chemistry") << QStringList{QStringLiteral("--chemistry"),
                                              QStringLiteral("zinc")};
    QTest::newRow("cells") << QStringList{QStringLiteral("--cells"), QStringLiteral("99")};
    QTest::newRow("block") << QStringList{QStringLiteral("--nack-block"), QStringLiteral("x:2")};
    QTest::newRow("EEPROM cell") << QStringList{QStringLiteral("--fail-eeprom-write"),
                                                QStringLiteral("slave:300")};
    QTest::newRow("pack temperature")
        << QStringList{QStringLiteral("--pack-temp"), QStringLiteral("hot")};
}

void TestSimLink::chargersimRejectsBadOptions() {
    QFETCH(QStringList, args);
    QProcess p;
    p.start(chargersimPath(), args);
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(p.readAllStandardError().startsWith("chargersim: "));
}

QTEST_MAIN(TestSimLink)
#include "tst_simlink.moc"
