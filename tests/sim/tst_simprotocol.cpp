// The charger's command set as the PC sees it: what each command consumes and answers,
// the status bytes, the channels read through the factory calibration, the memories and
// the clock.
#include "simwire.h"

#include "charger/eeprommap.h"
#include "sim/statefile.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using sim::VirtualCharger;
using namespace charger;

namespace {
enum Kind { None, Frame, Answer, Ack };

double calibrated(int count, int word) {
    return std::floor(1024.0 * count / word) / 100.0;
}
} // namespace

class TestSimProtocol : public QObject {
    Q_OBJECT
  private slots:
    void commandShape_data();
    void commandShape();
    void boosterSupplyTakesFourArguments_data();
    void boosterSupplyTakesFourArguments();
    void statusBytes_data();
    void statusBytes();
    void pushButtons();
    void channelsReadTrueValues_data();
    void channelsReadTrueValues();
    void recalibrationKeepsValuesTrue();
    void polarity();
    void labSupplyInTheBatterysPlace_data();
    void labSupplyInTheBatterysPlace();
    void clockWithSpeedAndSteps();
    void eepromRoundTrip_data();
    void eepromRoundTrip();
    void externalEepromsAreSeeded();
    void factoryCalibrationIsComplete();
    void stateFileRoundTrip();
    void badStateFileChangesNothing_data();
    void badStateFileChangesNothing();
};

void TestSimProtocol::commandShape_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("args");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("frameBytes");
    QTest::newRow("0 panel init") << 0 << 0 << int(Ack) << 0;
    QTest::newRow("1 link status") << 1 << 0 << int(Frame) << 3;
    for (int c : {5, 6, 7, 8, 9, 10, 11, 12, 13})
        QTest::addRow("%d channel", c) << c << 0 << int(Frame) << 2;
    for (int c : {15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25})
        QTest::addRow("%d setting", c) << c << 1 << int(Answer) << 0;
    QTest::newRow("26 SW6") << 26 << 0 << int(Frame) << 1;
    QTest::newRow("28 outputs") << 28 << 0 << int(Frame) << 1;
    QTest::newRow("31 port") << 31 << 0 << int(Frame) << 1;
    QTest::newRow("37 EEPROM master read") << 37 << 1 << int(Frame) << 1;
    QTest::newRow("38 EEPROM slave read") << 38 << 1 << int(Frame) << 1;
    QTest::newRow("39 EEPROM master write") << 39 << 2 << int(Ack) << 0;
    QTest::newRow("40 EEPROM slave write") << 40 << 2 << int(Ack) << 0;
    QTest::newRow("41 clock") << 41 << 0 << int(Frame) << 3;
    QTest::newRow("42 phase start") << 42 << 3 << int(Answer) << 0;
    QTest::newRow("45 flash read master") << 45 << 2 << int(Frame) << 2;
    QTest::newRow("46 flash read slave") << 46 << 2 << int(Frame) << 2;
    QTest::newRow("47 flash write master") << 47 << 66 << int(Ack) << 0;
    QTest::newRow("48 flash write slave") << 48 << 4 << int(Ack) << 0;
    QTest::newRow("49 external read") << 49 << 3 << int(Frame) << 1;
    QTest::newRow("50 external write") << 50 << 4 << int(Ack) << 0;
    QTest::newRow("51 doubler") << 51 << 1 << int(Answer) << 0;
    for (int c : {2, 4, 14, 27, 29, 30, 32, 33, 34, 35, 36, 43, 44, 52, 100, 255})
        QTest::addRow("%d never sent", c) << c << 0 << int(None) << 0;
}

void TestSimProtocol::commandShape() {
    QFETCH(int, code);
    QFETCH(int, args);
    QFETCH(int, kind);
    QFETCH(int, frameBytes);
    VirtualCharger c;
    c.setManualClock(true);
    SimWire w(c);
    QCOMPARE(w.exchange(QByteArray(1, char(27))), QByteArray());
    // Argument bytes of 27 and 0x55 are arguments, not a new command or a probe.
    QByteArray answer = w.exchange(QByteArray(1, char(code)));
    for (int i = 0; i < args; ++i) {
        QVERIFY2(answer.isEmpty(), "answered before its last argument");
        answer = w.exchange(QByteArray(1, char(i % 2 ? 0x55 : 27)));
    }
    switch (Kind(kind)) {
    case None:
        QCOMPARE(answer, QByteArray());
        break;
    case Answer:
        QCOMPARE(answer.size(), 1);
        break;
    case Ack:
        QCOMPARE(answer, QByteArray(1, char(6)));
        break;
    case Frame:
        QCOMPARE(answer.size(), frameBytes + 2);
        QCOMPARE(answer.at(0), char(27));
        break;
    }
    // The charger is back waiting for a command: a probe is answered.
    QCOMPARE(w.exchange(QByteArray(1, char(0x55))), QByteArray(1, char(27)));
}

void TestSimProtocol::boosterSupplyTakesFourArguments_data() {
    QTest::addColumn<int>("cut");
    QTest::newRow("doubler running") << 0;
    QTest::newRow("doubler cut") << 1;
}

void TestSimProtocol::boosterSupplyTakesFourArguments() {
    QFETCH(int, cut);
    VirtualCharger c;
    c.boosterSupply = true;
    SimWire w(c);
    QCOMPARE(w.exchange(SimWire::cmd(51, {cut, 200, 1})), QByteArray());
    QCOMPARE(w.exchange(QByteArray(1, char(44))).size(), 1);
    QCOMPARE(c.outputs.doublerCut, quint8(cut));
    QCOMPARE(c.outputs.pwmFrequency, quint8(200));
    QCOMPARE(c.outputs.pwmDelta, quint16(300));
    // Running, the booster lifts the doubler channel above the supply.
    const double vdbl =
        calibrated(w.readChannel(7), value(c.eepromMaster, master::kDoublerDivisor));
    if (cut)
        QVERIFY(vdbl < c.supplyVolts);
    else
        QVERIFY(vdbl > c.supplyVolts * 1.3);
}

void TestSimProtocol::statusBytes_data() {
    QTest::addColumn<QByteArray>("commands");
    QTest::addColumn<int>("outputs28");
    QTest::addColumn<int>("port31");
    // Power-on: every path cut, doubler cut, all buttons released.
    QTest::newRow("power-on") << QByteArray() << 0x01 << 0xFF;
    QTest::newRow("LED on") << SimWire::cmd(23, {1}) << 0x03 << 0xFF;
    QTest::newRow("fan on") << SimWire::cmd(25, {1}) << 0x21 << 0xFF;
    QTest::newRow("doubler running") << SimWire::cmd(51, {0}) << 0x00 << 0xFF;
    QTest::newRow("discharge path on") << SimWire::cmd(16, {1}) << 0x01 << 0xFE;
    QTest::newRow("charge path on") << SimWire::cmd(15, {1}) << 0x01 << 0xFD;
    QTest::newRow("power path on") << SimWire::cmd(17, {1}) << 0x01 << 0xFB;
    QTest::newRow("charging") << SimWire::cmd(17, {1}) + SimWire::cmd(15, {1}) << 0x01 << 0xF9;
    QTest::newRow("charge on then cut")
        << SimWire::cmd(15, {1}) + SimWire::cmd(15, {0}) << 0x01 << 0xFF;
    QTest::newRow("LED, fan, doubler")
        << SimWire::cmd(23, {1}) + SimWire::cmd(25, {1}) + SimWire::cmd(51, {0}) << 0x22 << 0xFF;
}

void TestSimProtocol::statusBytes() {
    QFETCH(QByteArray, commands);
    QFETCH(int, outputs28);
    QFETCH(int, port31);
    VirtualCharger c;
    SimWire w(c);
    w.exchange(commands);
    QCOMPARE(SimWire::frameData(w.exchange(SimWire::cmd(28))), QByteArray(1, char(outputs28)));
    QCOMPARE(SimWire::frameData(w.exchange(SimWire::cmd(31))), QByteArray(1, char(port31)));
}

void TestSimProtocol::pushButtons() {
    VirtualCharger c;
    SimWire w(c);
    QCOMPARE(SimWire::frameData(w.exchange(SimWire::cmd(26))), QByteArray(1, char(1)));
    c.pressButton(1, true);
    c.pressButton(5, true);
    QCOMPARE(quint8(SimWire::frameData(w.exchange(SimWire::cmd(31))).at(0)), quint8(0x77));
    c.pressButton(6, true);
    QCOMPARE(SimWire::frameData(w.exchange(SimWire::cmd(26))), QByteArray(1, char(0)));
    c.pressButton(1, false);
    c.pressButton(6, false);
    QCOMPARE(quint8(SimWire::frameData(w.exchange(SimWire::cmd(31))).at(0)), quint8(0x7F));
    QCOMPARE(SimWire::frameData(w.exchange(SimWire::cmd(26))), QByteArray(1, char(1)));
}

void TestSimProtocol::channelsReadTrueValues_data() {
    QTest::addColumn<int>("chargePot");
    QTest::addColumn<int>("dischargePot");
    QTest::addColumn<double>("supply");
    QTest::newRow("idle") << 0 << 0 << 12.0;
    QTest::newRow("charge 1 A") << 50 << 0 << 12.0;
    QTest::newRow("charge 2 A") << 100 << 0 << 13.8;
    QTest::newRow("charge 4.5 A") << 225 << 0 << 15.0;
    QTest::newRow("discharge 0.7 A") << 0 << 35 << 12.0;
    QTest::newRow("discharge 3 A") << 0 << 150 << 12.0;
}

void TestSimProtocol::channelsReadTrueValues() {
    QFETCH(int, chargePot);
    QFETCH(int, dischargePot);
    QFETCH(double, supply);
    VirtualCharger c;
    c.setManualClock(true);
    c.supplyVolts = supply;
    c.setBattery({sim::Chemistry::NiMH, 6, 2.0, 0.5, 20.0});
    SimWire w(c);
    w.exchange(SimWire::cmd(19, {chargePot}) + SimWire::cmd(20, {dischargePot}));
    if (chargePot)
        w.exchange(SimWire::cmd(18, {0}) + SimWire::cmd(17, {1}) + SimWire::cmd(15, {1}));
    if (dischargePot) w.exchange(SimWire::cmd(16, {1}));
    c.advance(120); // let the pack warm and polarise a little
    const QByteArray a = c.eepromMaster, b = c.eepromSlave;
    const auto within2 = [](double read, double truth, double floor) {
        return std::abs(read - truth) <= std::max(0.02 * std::abs(truth), floor);
    };
    const double ic = calibrated(w.readChannel(10), value(b, slave::kChargeDivisor));
    const double id = calibrated(w.readChannel(11), value(b, slave::kDischargeDivisor));
    const double vbat = calibrated(w.readChannel(13), value(b, slave::kBatteryDivisor));
    const double valim = calibrated(w.readChannel(6), value(a, master::kSupplyDivisor));
    const double vdbl = calibrated(w.readChannel(7), value(a, master::kDoublerDivisor));
    // Channel 5 is the charger's heat-sink temperature, channel 9 the pack's, on one scale.
    const auto degrees = [&](int count) {
        return std::floor(1024.0 * (value(a, master::kTempOffset) - count) /
                          value(a, master::kTempSlope));
    };
    const double sink = degrees(w.readChannel(5));
    const double pack = degrees(w.readChannel(9));
    QVERIFY2(within2(ic, c.chargeAmps(), 0.01), qPrintable(QString::number(ic)));
    QVERIFY2(within2(id, c.dischargeAmps(), 0.01), qPrintable(QString::number(id)));
    // Charging, the pack is not grounded: its return path lifts the battery channel.
    QVERIFY2(within2(vbat, c.model().measuredBatteryVolts(), 0.02),
             qPrintable(QString::number(vbat)));
    QVERIFY(within2(valim, supply, 0.02));
    QVERIFY(within2(vdbl, c.doublerVolts(), 0.05));
    QVERIFY(std::abs(sink - c.heatsinkTemperature()) <= 1.0);
    QVERIFY(std::abs(pack - c.packTemperature()) <= 1.0);
    // The setpoints follow the potentiometers through the hardware, not the coefficients
    // stored in the slave's EEPROM.
    QVERIFY(within2(c.chargeAmps(), chargePot / c.truth.chargeStepsPerAmp, 0.01));
    QVERIFY(within2(c.dischargeAmps(), dischargePot / c.truth.dischargeStepsPerAmp, 0.01));
}

void TestSimProtocol::recalibrationKeepsValuesTrue() {
    VirtualCharger c;
    c.setManualClock(true);
    c.truth.noiseCounts = 0;
    SimWire w(c);
    const int before = w.readChannel(13);
    // The battery divisor rewritten through the EEPROM commands, as a calibration does: the
    // count stays (it is the hardware's), only what the PC makes of it changes.
    QCOMPARE(w.exchange(SimWire::cmd(40, {6, 0x02})), QByteArray(1, char(6)));
    QCOMPARE(w.exchange(SimWire::cmd(40, {7, 0x58})), QByteArray(1, char(6)));
    QCOMPARE(w.readChannel(13), before);
    QVERIFY(std::abs(calibrated(before, 600) - c.batteryVolts()) > 1.0);
}

void TestSimProtocol::polarity() {
    VirtualCharger c;
    SimWire w(c);
    QVERIFY(w.readChannel(8) >= 100);
    c.reversedBattery = true;
    QVERIFY(w.readChannel(8) < 100);
}

void TestSimProtocol::labSupplyInTheBatterysPlace_data() {
    QTest::addColumn<double>("volts");
    QTest::addColumn<int>("block");  // the factory's threshold block for the pack
    QTest::addColumn<int>("offset"); // where the block keeps this reference point
    QTest::newRow("lithium 1 cell, 4.4 V") << 4.4 << 16 << 2;
    QTest::newRow("lithium 3 cells, 12.2 V") << 12.2 << 48 << 6;
    QTest::newRow("lithium 5 cells, 13.5 V") << 13.5 << 80 << 10;
    QTest::newRow("lead 6 cells, 10 V") << 10.0 << 136 << 4;
}

void TestSimProtocol::labSupplyInTheBatterysPlace() {
    QFETCH(double, volts);
    QFETCH(int, block);
    QFETCH(int, offset);
    VirtualCharger c;
    c.setManualClock(true);
    c.labSupplyVolts = volts;
    SimWire w(c);
    // The count is the hardware's; the factory's divisor reads it within 1.5 %.
    const int count = w.readChannel(13);
    QVERIFY(std::abs(c.truth.battery.value(count) - volts) < 0.03);
    QVERIFY(std::abs(calibrated(count, value(c.eepromSlave, slave::kBatteryDivisor)) - volts) <
            volts * 0.015);
    // With the factory's delta setting for the pack, the delta channel gives the count the
    // factory stored for that reference voltage.
    w.exchange(SimWire::cmd(22, {quint8(c.eepromMaster.at(block))}) +
               SimWire::cmd(21, {quint8(c.eepromMaster.at(block + 1))}));
    const int stored = charger::word(c.eepromMaster, block + offset);
    QVERIFY2(std::abs(w.readChannel(12) - stored) <= 1,
             qPrintable(QStringLiteral("%1 against %2").arg(w.readChannel(12)).arg(stored)));
    // The pack rests meanwhile, whatever flows.
    const double soc = c.battery().stateOfCharge();
    w.exchange(SimWire::cmd(19, {100}) + SimWire::cmd(17, {1}) + SimWire::cmd(15, {1}));
    c.advance(600);
    QCOMPARE(c.battery().stateOfCharge(), soc);
}

void TestSimProtocol::clockWithSpeedAndSteps() {
    VirtualCharger c;
    c.setManualClock(true);
    SimWire w(c);
    QCOMPARE(SimWire::frameData(w.exchange(SimWire::cmd(41))), QByteArray("\0\0\0", 3));
    c.advance(3725);
    QCOMPARE(SimWire::frameData(w.exchange(SimWire::cmd(41))), QByteArray("\1\2\5", 3));
    c.advance(23 * 3600);
    QCOMPARE(SimWire::frameData(w.exchange(SimWire::cmd(41))), QByteArray("\0\2\5", 3));
    // In real time with a speed factor the clock runs that much faster than the wall.
    VirtualCharger fast;
    fast.setSpeed(600);
    QElapsedTimer t;
    t.start();
    QTest::qWait(200);
    const double ratio = fast.chargerSeconds() / (t.elapsed() / 1000.0);
    QVERIFY2(ratio > 500 && ratio < 700, qPrintable(QString::number(ratio)));
}

void TestSimProtocol::eepromRoundTrip_data() {
    QTest::addColumn<int>("writeCode");
    QTest::addColumn<int>("readCode");
    QTest::addColumn<int>("device"); // -1: internal
    QTest::addColumn<int>("address");
    QTest::newRow("master 0") << 39 << 37 << -1 << 0;
    QTest::newRow("master 255") << 39 << 37 << -1 << 255;
    QTest::newRow("slave 7") << 40 << 38 << -1 << 7;
    QTest::newRow("first external 0") << 50 << 49 << 0 << 0;
    QTest::newRow("first external 4095") << 50 << 49 << 0 << 4095;
    QTest::newRow("second external 300") << 50 << 49 << 1 << 300;
}

void TestSimProtocol::eepromRoundTrip() {
    QFETCH(int, writeCode);
    QFETCH(int, readCode);
    QFETCH(int, device);
    QFETCH(int, address);
    VirtualCharger c;
    SimWire w(c);
    for (int value : {27, 6, 0, 0xFF, 0x5A}) {
        QByteArray write, read;
        if (device < 0) {
            write = SimWire::cmd(writeCode, {address, value});
            read = SimWire::cmd(readCode, {address});
        } else {
            write = SimWire::cmd(writeCode, {device, address >> 8, address & 0xFF, value});
            read = SimWire::cmd(readCode, {device, address >> 8, address & 0xFF});
        }
        QCOMPARE(w.exchange(write), QByteArray(1, char(6)));
        QCOMPARE(SimWire::frameData(w.exchange(read)), QByteArray(1, char(value)));
    }
    if (device >= 0) // the other memory is untouched
        QCOMPARE(c.extEeprom[1 - device],
                 device ? sim::defaultTextEeprom() : sim::defaultProgramEeprom());
}

void TestSimProtocol::externalEepromsAreSeeded() {
    VirtualCharger c;
    QCOMPARE(c.extEeprom[0].size(), 4096);
    QCOMPARE(c.extEeprom[1].size(), 4096);
    // Text records: printable characters only.
    for (char ch : c.extEeprom[0])
        QVERIFY(ch >= 32 && ch < 127);
    // Header: the number of programs; each program in the record layout.
    const int programs = c.extEeprom[1].left(3).toInt();
    QVERIFY(programs >= 5);
    for (int k = 1; k <= programs; ++k) {
        const QByteArray r = c.extEeprom[1].mid(32 * k, 32);
        QVERIFY(!r.left(16).trimmed().isEmpty());
        QVERIFY(r.at(17) >= '0' && r.at(17) <= '3');
        for (int i = 18; i < 32; ++i)
            QVERIFY2(r.at(i) >= '0' && r.at(i) <= '9', r.constData());
        QVERIFY(r.mid(18, 2).toInt() >= 1);
    }
}

void TestSimProtocol::factoryCalibrationIsComplete() {
    const QByteArray a = sim::defaultMasterEeprom(), b = sim::defaultSlaveEeprom();
    for (const Param &p :
         {master::kTempSlope, master::kTempOffset, master::kSupplyDivisor, master::kDoublerDivisor})
        QVERIFY(value(a, p) != 0);
    for (const Param &p : {slave::kChargeDivisor, slave::kDischargeDivisor, slave::kBatteryDivisor})
        QVERIFY(value(b, p) != 0);
    QVERIFY(value(b, slave::kPotCharge) != 0 && value(b, slave::kPotDischarge) != 0);
    QVERIFY(a.mid(kIdentFirst).startsWith("CHARGEUR"));
    QVERIFY(b.mid(kIdentFirst).startsWith("CHARGEUR"));
    // Lithium blocks: the captured counts fall with the reference voltage and stay in range.
    for (int n = 1; n <= 5; ++n)
        for (int p = 0, block = cellBlockBase(CellBlock::Lithium, n); p < 4; ++p) {
            const int hi = charger::word(a, block + cellblock::point(p));
            const int lo = charger::word(a, block + cellblock::point(p + 1));
            QVERIFY(hi <= 1023 && lo > 0 && hi > lo);
        }
}

void TestSimProtocol::stateFileRoundTrip() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("charger.json"));
    VirtualCharger c;
    c.setManualClock(true);
    c.setBattery({sim::Chemistry::LeadAcid, 3, 4.0, 0.8, 20.0});
    c.eepromMaster[200] = 'X';
    c.extEeprom[1][4000] = 'Y';
    c.masterFlash[0x1234] = 0x42;
    c.slaveFlash[100] = 0x1234;
    c.slavePresent = false;
    QVERIFY(sim::saveState(c, path));
    VirtualCharger d;
    QString why;
    QVERIFY2(sim::loadState(d, path, &why), qPrintable(why));
    QCOMPARE(d.eepromMaster, c.eepromMaster);
    QCOMPARE(d.eepromSlave, c.eepromSlave);
    QCOMPARE(d.extEeprom[0], c.extEeprom[0]);
    QCOMPARE(d.extEeprom[1], c.extEeprom[1]);
    QCOMPARE(d.masterFlash, c.masterFlash);
    QCOMPARE(d.slaveFlash, c.slaveFlash);
    QCOMPARE(d.slavePresent, false);
    QCOMPARE(d.battery().spec().chemistry, sim::Chemistry::LeadAcid);
    QCOMPARE(d.battery().spec().cells, 3);
    QCOMPARE(d.battery().spec().capacityAh, 4.0);
    QCOMPARE(d.battery().stateOfCharge(), 0.8);
}

void TestSimProtocol::badStateFileChangesNothing_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not json") << QByteArray("hello");
    QTest::newRow("wrong version") << QByteArray("{\"version\": 9}");
    QTest::newRow("short memory") << QByteArray("{\"version\": 1, \"eepromMaster\": \"AAAA\"}");
}

void TestSimProtocol::badStateFileChangesNothing() {
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.json"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();
    VirtualCharger c;
    const QByteArray before = c.eepromMaster;
    QString why;
    QVERIFY(!sim::loadState(c, path, &why));
    QVERIFY(!why.isEmpty());
    QCOMPARE(c.eepromMaster, before);
    QVERIFY(!sim::loadState(c, dir.filePath(QStringLiteral("missing.json")), &why));
}

QTEST_GUILESS_MAIN(TestSimProtocol)
#include "tst_simprotocol.moc"
