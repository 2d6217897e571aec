// The charger's own hardware behind the channels, its command set in each supply
// configuration, the bench's live changes and its EEPROM write cycles.
#include "simwire.h"

#include "charger/channels.h"
#include "charger/eeprommap.h"
#include "sim/truth.h"

#include <QElapsedTimer>
#include <QTest>

#include <cmath>

using sim::VirtualCharger;
using namespace charger;

namespace {
enum Kind { Frame, Answer, Ack };

// A charger whose channels read without noise, its clock standing still.
struct Quiet {
    VirtualCharger c;
    SimWire w{c};
    Quiet() {
        c.setManualClock(true);
        c.truth.noiseCounts = 0;
    }
};

// Writes a calibration parameter through the EEPROM commands, as a calibration window does.
void writeParam(SimWire &w, const Param &p, int v) {
    const int code = p.controller == Controller::Master ? 39 : 40;
    if (p.width == Width::Word) {
        QCOMPARE(w.exchange(SimWire::cmd(code, {p.address, v >> 8})), QByteArray(1, char(6)));
        QCOMPARE(w.exchange(SimWire::cmd(code, {p.address + 1, v & 0xFF})), QByteArray(1, char(6)));
    } else {
        QCOMPARE(w.exchange(SimWire::cmd(code, {p.address, v})), QByteArray(1, char(6)));
    }
}

// Sets the physical value a channel measures: a laboratory supply in the battery's place,
// the supply, the heat sink's temperature (through the ambient after a long rest), or a
// current through its potentiometer.
void setPhysical(VirtualCharger &c, SimWire &w, Quantity q, double v) {
    switch (q) {
    case Quantity::Vbat:
        c.labSupplyVolts = v;
        break;
    case Quantity::Valim:
        c.supplyVolts = v;
        break;
    case Quantity::Vdbl:
        c.supplyVolts = (v + 1.2) / 2; // a running doubler
        w.exchange(SimWire::cmd(51, {0}));
        break;
    case Quantity::Temper:
        c.setAmbient(v);
        c.advance(6 * 3600);
        break;
    case Quantity::Ichrg: // through the running doubler, for headroom above the pack
        w.exchange(SimWire::cmd(51, {0}) +
                   SimWire::cmd(19, {int(std::lround(v * c.truth.chargeStepsPerAmp))}) +
                   SimWire::cmd(17, {1}) + SimWire::cmd(15, {1}));
        break;
    case Quantity::Idech:
        w.exchange(SimWire::cmd(20, {int(std::lround(v * c.truth.dischargeStepsPerAmp))}) +
                   SimWire::cmd(16, {1}));
        break;
    }
}

// The true physical value the channel now measures.
double physical(VirtualCharger &c, Quantity q) {
    switch (q) {
    case Quantity::Vbat:
        return c.batteryVolts();
    case Quantity::Valim:
        return c.supplyVolts;
    case Quantity::Vdbl:
        return c.doublerVolts();
    case Quantity::Temper:
        return c.heatsinkTemperature();
    case Quantity::Ichrg:
        return c.chargeAmps();
    case Quantity::Idech:
        return c.dischargeAmps();
    }
    return 0;
}

// The calibration word the windows compute from one reading: floor(1024 x count / value in
// hundredths).
int divisorFrom(int count, double value) {
    return int(std::floor(1024.0 * count / std::lround(value * 100)));
}
} // namespace

class TestSimTruth : public QObject {
    Q_OBJECT
  private slots:
    void commandsInEachConfiguration_data();
    void commandsInEachConfiguration();
    void storedConstantsLeaveCountsAlone_data();
    void storedConstantsLeaveCountsAlone();
    void calibrationFromMeasuredPointsReadsTrue_data();
    void calibrationFromMeasuredPointsReadsTrue();
    void liveChanges_data();
    void liveChanges();
    void groundOutputLiftsTheBatteryChannelWhileCharging();
    void eepromWriteTakesItsTime_data();
    void eepromWriteTakesItsTime();
    void failingEepromCellKeepsItsByte();
};

// Every command with its argument bytes, in a charger with a doubler and in one with a
// boost-type supply: its reply, then a status read still understood.
void TestSimTruth::commandsInEachConfiguration_data() {
    QTest::addColumn<bool>("booster");
    QTest::addColumn<QByteArray>("command"); // ESC, code and the argument bytes
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("frameBytes");
    struct Row {
        const char *name;
        QByteArray doubler; // the command as a doubler charger takes it
        QByteArray booster; // as a boost-type one takes it
        Kind kind;
        int frameBytes;
    };
    const auto c = [](int code, std::initializer_list<int> args = {}) {
        return SimWire::cmd(code, args);
    };
    const Row rows[] = {
        {"0 panel init", c(0), c(0), Ack, 0},
        {"1 link status", c(1), c(1), Frame, 3},
        {"5 temperature", c(5), c(5), Frame, 2},
        {"13 battery", c(13), c(13), Frame, 2},
        {"15 charge", c(15, {0}), c(15, {0}), Answer, 0},
        {"18 ground", c(18, {1}), c(18, {1}), Answer, 0},
        {"22 offset", c(22, {27}), c(22, {27}), Answer, 0},
        {"24 beep", c(24, {10}), c(24, {10}), Answer, 0},
        {"26 SW6", c(26), c(26), Frame, 1},
        {"31 port", c(31), c(31), Frame, 1},
        {"37 master read", c(37, {27}), c(37, {27}), Frame, 1},
        {"40 slave write", c(40, {200, 27}), c(40, {200, 27}), Ack, 0},
        {"41 clock", c(41), c(41), Frame, 3},
        {"42 phase", c(42, {0, 0, 0}), c(42, {0, 0, 0}), Answer, 0},
        {"46 slave flash read", c(46, {0, 27}), c(46, {0, 27}), Frame, 2},
        {"48 slave flash write", c(48, {0, 9, 0, 27}), c(48, {0, 9, 0, 27}), Ack, 0},
        {"49 external read", c(49, {1, 0, 27}), c(49, {1, 0, 27}), Frame, 1},
        {"50 external write", c(50, {1, 0, 27, 27}), c(50, {1, 0, 27, 27}), Ack, 0},
        {"51 doubler running", c(51, {0}), c(51, {0, 100, 1, 0}), Answer, 0},
        {"51 doubler cut", c(51, {1}), c(51, {1, 100, 1, 0}), Answer, 0},
        {"51 cut, argument 27 next", c(51, {1}), c(51, {1, 27, 0, 27}), Answer, 0},
    };
    for (const Row &r : rows) {
        QTest::addRow("doubler: %s", r.name) << false << r.doubler << int(r.kind) << r.frameBytes;
        QTest::addRow("booster: %s", r.name) << true << r.booster << int(r.kind) << r.frameBytes;
    }
    // 47 carries 66 bytes.
    QByteArray block = c(47, {0x10, 0x00}) + QByteArray(64, char(27));
    QTest::newRow("doubler: 47 master flash write") << false << block << int(Ack) << 0;
    QTest::newRow("booster: 47 master flash write") << true << block << int(Ack) << 0;
}

void TestSimTruth::commandsInEachConfiguration() {
    QFETCH(bool, booster);
    QFETCH(QByteArray, command);
    QFETCH(int, kind);
    QFETCH(int, frameBytes);
    Quiet q;
    q.c.boosterSupply = booster;
    // Nothing comes before the last argument byte.
    QCOMPARE(q.w.exchange(command.chopped(1)), QByteArray());
    const QByteArray reply = q.w.exchange(command.right(1));
    switch (Kind(kind)) {
    case Answer:
        QCOMPARE(reply, command.mid(1, 1));
        break;
    case Ack:
        QCOMPARE(reply, QByteArray(1, char(6)));
        break;
    case Frame:
        QCOMPARE(reply.size(), frameBytes + 2);
        QCOMPARE(reply.at(0), char(27));
        break;
    }
    // The next command is understood: the output status, with the doubler's state.
    const QByteArray status = SimWire::frameData(q.w.exchange(SimWire::cmd(28)));
    QCOMPARE(status.size(), 1);
    if (quint8(command.at(1)) == 51) QCOMPARE(status.at(0) & 1, int(command.at(2)));
}

// Rewriting a stored calibration constant changes what the PC makes of a count, never the
// count, nor the current a potentiometer setting gives.
void TestSimTruth::storedConstantsLeaveCountsAlone_data() {
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("controller"); // Controller
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("width"); // Width
    const auto row = [](const char *name, int channel, const Param &p) {
        QTest::newRow(name) << channel << int(p.controller) << p.address << int(p.width);
    };
    row("temperature slope", 5, master::kTempSlope);
    row("temperature offset", 5, master::kTempOffset);
    row("pack temperature correction", 9, master::kBatTempCorrection);
    row("supply divisor", 6, master::kSupplyDivisor);
    row("doubler divisor", 7, master::kDoublerDivisor);
    row("charge divisor", 10, slave::kChargeDivisor);
    row("discharge divisor", 11, slave::kDischargeDivisor);
    row("charge pot coefficient", 10, slave::kPotCharge);
    row("discharge pot coefficient", 11, slave::kPotDischarge);
    row("battery divisor", 13, slave::kBatteryDivisor);
}

void TestSimTruth::storedConstantsLeaveCountsAlone() {
    QFETCH(int, channel);
    QFETCH(int, controller);
    QFETCH(int, address);
    QFETCH(int, width);
    Quiet q;
    q.w.exchange(SimWire::cmd(19, {100}) + SimWire::cmd(20, {60}) + SimWire::cmd(17, {1}) +
                 SimWire::cmd(15, {1}) + SimWire::cmd(16, {1}));
    const int before = q.w.readChannel(channel);
    const double amps = q.c.chargeAmps() + q.c.dischargeAmps();
    QVERIFY(before > 0);
    const Param p{Controller(controller), address, Width(width), nullptr, nullptr, nullptr};
    const QByteArray &image =
        p.controller == Controller::Master ? q.c.eepromMaster : q.c.eepromSlave;
    const int stored = value(image, p);
    writeParam(q.w, p, p.width == Width::Word ? stored * 3 / 2 : stored / 2);
    QVERIFY(value(image, p) != stored);
    QCOMPARE(q.w.readChannel(channel), before);
    QCOMPARE(q.c.chargeAmps() + q.c.dischargeAmps(), amps);
}

// A calibration computed from two measured points (a ratio through both for the volts and
// amperes, slope and offset for the temperature) makes the PC's conversion read the truth
// within a count at a third value; the factory's constants read within 2 %; a calibration
// computed wrong (or the miscalibrated constants) is caught.
void TestSimTruth::calibrationFromMeasuredPointsReadsTrue_data() {
    QTest::addColumn<int>("quantity");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<double>("check");
    QTest::addColumn<int>("mistake"); // 0: computed right; 1: a point's value 10 % off;
                                      // 2: the miscalibrated constants
    const auto rows = [](const char *name, Quantity q, double low, double high, double check) {
        for (int m = 0; m < 3; ++m)
            QTest::addRow("%s%s", name,
                          m == 0   ? ""
                          : m == 1 ? ", one point 10 % off"
                                   : ", miscalibrated")
                << int(q) << low << high << check << m;
    };
    rows("battery", Quantity::Vbat, 6.0, 14.0, 9.5);
    rows("supply", Quantity::Valim, 10.0, 18.0, 14.0);
    rows("doubler", Quantity::Vdbl, 18.0, 30.0, 24.0);
    rows("temperature", Quantity::Temper, 10.0, 45.0, 30.0);
    rows("charge", Quantity::Ichrg, 1.0, 4.0, 2.5);
    rows("discharge", Quantity::Idech, 0.5, 3.0, 1.5);
}

void TestSimTruth::calibrationFromMeasuredPointsReadsTrue() {
    QFETCH(int, quantity);
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(double, check);
    QFETCH(int, mistake);
    const Quantity q = Quantity(quantity);
    const ChannelDef &ch = channel(q);
    // Measure: the count and the true value at two points.
    double value[2], count[2];
    for (int i = 0; i < 2; ++i) {
        Quiet m;
        m.c.setBattery({sim::Chemistry::NiMH, 10, 4.0, 0.6, 20.0});
        setPhysical(m.c, m.w, q, i ? high : low);
        count[i] = m.w.readChannel(ch.command);
        value[i] = physical(m.c, q) * (i == 1 && mistake == 1 ? 1.10 : 1.0);
    }
    Quiet c;
    c.c.setBattery({sim::Chemistry::NiMH, 10, 4.0, 0.6, 20.0});
    // Before: the factory's constants read the truth within 2 % (2 degrees).
    setPhysical(c.c, c.w, q, check);
    const double truth = physical(c.c, q);
    const int reading = c.w.readChannel(ch.command);
    const auto converted = [&] { return *convert(q, reading, c.c.eepromMaster, c.c.eepromSlave); };
    QVERIFY2(std::abs(converted() - truth) <= (q == Quantity::Temper ? 2.0 : 0.02 * truth),
             qPrintable(QString::number(converted())));
    // The constants, from the two points.
    QByteArray &image =
        ch.calibration.controller == Controller::Master ? c.c.eepromMaster : c.c.eepromSlave;
    if (mistake == 2) {
        sim::storeCalibration(c.c.eepromMaster, c.c.eepromSlave, c.c.truth,
                              sim::kMiscalibratedErrors);
    } else if (q == Quantity::Temper) {
        const double slope = 1024.0 * (count[0] - count[1]) / (value[1] - value[0]);
        setValue(image, master::kTempSlope, int(std::lround(slope)));
        setValue(image, master::kTempOffset,
                 int(std::lround(count[0] + value[0] * slope / 1024.0)));
    } else {
        // The ratio through both points: their mean of count per hundredth.
        setValue(image, ch.calibration,
                 (divisorFrom(int(count[0]), value[0]) + divisorFrom(int(count[1]), value[1])) / 2);
    }
    // The converted reading, as counts of the hardware: within one count of the truth.
    const sim::Transfer &t = c.c.truth.transfer(q);
    const double off = std::abs(t.count(converted()) - t.count(truth));
    if (mistake)
        QVERIFY2(off > 3, qPrintable(QString::number(off)));
    else
        QVERIFY2(off <= 1.0 + std::abs(t.countsPerUnit) * (q == Quantity::Temper ? 1 : 0.01),
                 qPrintable(QString::number(off)));
}

void TestSimTruth::liveChanges_data() {
    QTest::addColumn<QString>("change");
    QTest::newRow("supply") << QStringLiteral("supply");
    QTest::newRow("doubler broken") << QStringLiteral("doubler");
    QTest::newRow("ambient") << QStringLiteral("ambient");
    QTest::newRow("pack temperature") << QStringLiteral("pack");
    QTest::newRow("battery unplugged") << QStringLiteral("unplug");
}

// A change on the bench shows in the channels at once (or as the heat flows).
void TestSimTruth::liveChanges() {
    QFETCH(QString, change);
    Quiet q;
    VirtualCharger &c = q.c;
    const sim::HardwareTruth &t = c.truth;
    q.w.exchange(SimWire::cmd(51, {0}) + SimWire::cmd(19, {100}) + SimWire::cmd(17, {1}) +
                 SimWire::cmd(15, {1}));
    c.advance(60);
    QVERIFY(c.chargeAmps() > 1.5);
    const int rounding = 1;
    if (change == QLatin1String("supply")) {
        c.supplyVolts = 14.5;
        QVERIFY(std::abs(q.w.readChannel(6) - t.supply.count(14.5)) <= rounding);
        QVERIFY(std::abs(q.w.readChannel(7) - t.doubler.count(2 * 14.5 - 1.2)) <= rounding);
    } else if (change == QLatin1String("doubler")) {
        c.doublerBroken = true;
        QVERIFY(std::abs(q.w.readChannel(7) - t.doubler.count(12.0 - 0.6)) <= rounding);
    } else if (change == QLatin1String("ambient")) {
        c.setAmbient(40);
        const double sink = c.heatsinkTemperature();
        c.advance(3600);
        QVERIFY(c.heatsinkTemperature() > sink + 10);
        QVERIFY(std::abs(q.w.readChannel(5) - t.heatsink.count(c.heatsinkTemperature())) <=
                rounding);
        QVERIFY(c.packTemperature() > 35);
    } else if (change == QLatin1String("pack")) {
        c.setPackTemperature(45);
        QVERIFY(std::abs(q.w.readChannel(9) - t.pack.count(45)) <= rounding);
    } else {
        const int pack = q.w.readChannel(9);
        c.setBatteryPresent(false);
        QCOMPARE(c.chargeAmps(), 0.0);
        QVERIFY(q.w.readChannel(10) <= rounding);
        QVERIFY(q.w.readChannel(13) <= rounding);
        QCOMPARE(q.w.readChannel(9), 1023); // the pack's sensor went with it
        QVERIFY(q.w.readChannel(8) >= 100);
        c.setBatteryPresent(true);
        QVERIFY(std::abs(q.w.readChannel(9) - pack) <= rounding);
        QVERIFY(c.chargeAmps() > 1.5);
    }
}

// Ground off while charging: the return path lifts the battery channel by I x 0.05 ohm; on,
// the channel reads the terminals.
void TestSimTruth::groundOutputLiftsTheBatteryChannelWhileCharging() {
    Quiet q;
    q.w.exchange(SimWire::cmd(19, {200}) + SimWire::cmd(17, {1}) + SimWire::cmd(15, {1}));
    q.c.advance(10);
    const double amps = q.c.chargeAmps(), volts = q.c.batteryVolts();
    QVERIFY(amps > 3);
    QCOMPARE(q.w.readChannel(13), int(std::lround(q.c.truth.battery.count(volts))));
    q.w.exchange(SimWire::cmd(18, {0}));
    QCOMPARE(q.w.readChannel(13),
             int(std::lround(q.c.truth.battery.count(volts + amps * sim::Model::kReturnOhms))));
    // Nothing flowing: the two read alike.
    q.w.exchange(SimWire::cmd(15, {0}));
    const int floating = q.w.readChannel(13);
    q.w.exchange(SimWire::cmd(18, {1}));
    QCOMPARE(q.w.readChannel(13), floating);
}

void TestSimTruth::eepromWriteTakesItsTime_data() {
    QTest::addColumn<QByteArray>("write");
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<int>("ms");
    QTest::newRow("master") << SimWire::cmd(39, {100, 0x5A}) << SimWire::cmd(37, {100}) << 4;
    QTest::newRow("slave") << SimWire::cmd(40, {100, 0x5A}) << SimWire::cmd(38, {100}) << 5;
    QTest::newRow("external") << SimWire::cmd(50, {1, 2, 0, 0x5A}) << SimWire::cmd(49, {1, 2, 0})
                              << 5;
}

// The ACK comes after the write time; a command sent meanwhile is taken after it.
void TestSimTruth::eepromWriteTakesItsTime() {
    QFETCH(QByteArray, write);
    QFETCH(QByteArray, read);
    QFETCH(int, ms);
    VirtualCharger c;
    QByteArray rx;
    QElapsedTimer t;
    qint64 ackAfter = -1;
    connect(&c, &VirtualCharger::transmit, &c, [&](const QByteArray &b) {
        if (rx.isEmpty()) ackAfter = t.elapsed();
        rx += b;
    });
    t.start();
    c.receive(write + read);
    QVERIFY(rx.isEmpty());
    QVERIFY(c.writing());
    QTRY_VERIFY_WITH_TIMEOUT(rx.size() >= 4, 1000);
    QVERIFY2(ackAfter >= ms, qPrintable(QString::number(ackAfter)));
    QCOMPARE(rx.at(0), char(6));
    QCOMPARE(SimWire::frameData(rx.mid(1)), QByteArray(1, char(0x5A)));
}

// A failing cell: the write takes its time and is acknowledged, the cell keeps its byte, its
// neighbours and the other memory are written.
void TestSimTruth::failingEepromCellKeepsItsByte() {
    VirtualCharger c;
    SimWire w(c);
    c.faults.failingEepromCells = {sim::eepromCell(sim::EepromMemory::Slave, 4),
                                   sim::eepromCell(sim::EepromMemory::External1, 300)};
    const char kept = c.eepromSlave.at(4);
    QCOMPARE(w.exchange(SimWire::cmd(40, {4, 99})), QByteArray(1, char(6)));
    QCOMPARE(SimWire::frameData(w.exchange(SimWire::cmd(38, {4}))), QByteArray(1, kept));
    QCOMPARE(w.exchange(SimWire::cmd(40, {5, 99})), QByteArray(1, char(6)));
    QCOMPARE(c.eepromSlave.at(5), char(99));
    QCOMPARE(w.exchange(SimWire::cmd(39, {4, 99})), QByteArray(1, char(6)));
    QCOMPARE(c.eepromMaster.at(4), char(99));
    const char ext = c.extEeprom[1].at(300);
    QCOMPARE(w.exchange(SimWire::cmd(50, {1, 1, 44, 'Z'})), QByteArray(1, char(6)));
    QCOMPARE(c.extEeprom[1].at(300), ext);
    QCOMPARE(w.exchange(SimWire::cmd(50, {0, 1, 44, 'Z'})), QByteArray(1, char(6)));
    QCOMPARE(c.extEeprom[0].at(300), 'Z');
}

QTEST_GUILESS_MAIN(TestSimTruth)
#include "tst_simtruth.moc"
