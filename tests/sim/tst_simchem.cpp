// The chemistries behind the charge path: how each charges, warms and ends, the charger's
// own run per program of its library, and the demo's fast clock stopping a run where a real
// one stops.
#include "simwire.h"

#include <QTest>

#include <cmath>

using sim::Chemistry;
using sim::MonitorEnd;
using sim::VirtualCharger;

class TestSimChem : public QObject {
    Q_OBJECT
  private slots:
    void chargeByChemistry_data();
    void chargeByChemistry();
    void ownRunEndsByChemistry_data();
    void ownRunEndsByChemistry();
    void repeatedCommand3_data();
    void repeatedCommand3();
    void demoStopsAtTheEndCondition_data();
    void demoStopsAtTheEndCondition();
};

namespace {

const QByteArray kChargeOn =
    SimWire::cmd(18, {0}) + SimWire::cmd(16, {0}) + SimWire::cmd(17, {1}) + SimWire::cmd(15, {1});
const QByteArray kChargeCut = SimWire::cmd(15, {0}) + SimWire::cmd(17, {0}) + SimWire::cmd(18, {1});

// The pack's volts behind a battery-channel count, through this unit's own hardware (not a
// calibration), less the lift of the charge current's return path when the pack is not
// grounded.
double volts(const sim::VirtualCharger &c, int count, double liftAmps = 0) {
    return c.truth.battery.value(count) - liftAmps * sim::Model::kReturnOhms;
}

} // namespace

void TestSimChem::chargeByChemistry_data() {
    QTest::addColumn<int>("chemistry");
    QTest::addColumn<int>("cells");
    QTest::addColumn<double>("capacity");
    QTest::addColumn<double>("rate"); // in C
    QTest::addColumn<double>("soc");
    QTest::addColumn<double>("minRise"); // pack temperature rise at the end, kelvin
    QTest::addColumn<double>("maxRise");
    // Nickel ends on the charge window's delta drop: the rises aimed at in the battery model.
    QTest::newRow("Ni-MH 0.5C") << int(Chemistry::NiMH) << 6 << 2.0 << 0.5 << 0.2 << 3.0 << 10.0;
    QTest::newRow("Ni-MH 1C") << int(Chemistry::NiMH) << 6 << 2.0 << 1.0 << 0.2 << 8.0 << 16.0;
    QTest::newRow("Ni-MH 2C") << int(Chemistry::NiMH) << 6 << 2.0 << 2.0 << 0.2 << 15.0 << 32.0;
    QTest::newRow("Ni-Cd 1C") << int(Chemistry::NiCd) << 6 << 2.0 << 1.0 << 0.2 << 8.0 << 18.0;
    // Lithium ends when its current has tapered below C/10 at 4.20 V per cell; lead-acid
    // when it reaches 2.40 V per cell, its gassing voltage.
    QTest::newRow("lithium 2S 1C")
        << int(Chemistry::Lithium) << 2 << 2.2 << 1.0 << 0.2 << 0.0 << 5.0;
    QTest::newRow("lead 6 cells 0.1C")
        << int(Chemistry::LeadAcid) << 6 << 7.0 << 0.1 << 0.5 << 0.0 << 8.0;
}

void TestSimChem::chargeByChemistry() {
    QFETCH(int, chemistry);
    QFETCH(int, cells);
    QFETCH(double, capacity);
    QFETCH(double, rate);
    QFETCH(double, soc);
    QFETCH(double, minRise);
    QFETCH(double, maxRise);
    const Chemistry chem = Chemistry(chemistry);
    VirtualCharger c;
    c.setManualClock(true);
    c.supplyVolts = 15.0;
    c.setBattery({chem, cells, capacity, soc, 20.0});
    SimWire w(c);

    // The capacity window's resistance step: 0.82 A for a second, then 0.02 A at once; the
    // step in the battery reading gives the pack's resistance.
    w.exchange(SimWire::cmd(20, {41}) + SimWire::cmd(15, {0}) + SimWire::cmd(17, {0}) +
               SimWire::cmd(16, {1}));
    c.advance(1);
    const int v1 = w.readChannel(13);
    w.exchange(SimWire::cmd(20, {1}));
    const int v2 = w.readChannel(13);
    w.exchange(SimWire::cmd(16, {0}));
    const double measured = (v2 - v1) / 50.0 / 0.8;
    const double ohms = c.battery().resistanceOhms();
    QVERIFY2(v2 > v1 && std::abs(measured - ohms) <= 0.03 / 0.8 + 0.1 * ohms,
             qPrintable(QStringLiteral("%1 ohm measured, %2 in the pack").arg(measured).arg(ohms)));
    c.advance(300); // the pack rests again

    const int pot = int(std::lround(rate * capacity * 50));
    // A 12 V lead-acid pack needs the doubler to reach its gassing voltage.
    if (chem == Chemistry::LeadAcid) w.exchange(SimWire::cmd(51, {0}));
    w.exchange(SimWire::cmd(19, {pot}) + SimWire::cmd(21, {cells > 4 ? 100 : 200}) +
               SimWire::cmd(22, {255}) + kChargeOn);
    const double setAmps = pot / 50.0;
    int peak = 0;
    double peakTemp = 0, highest = 0, firstGassingSoc = -1;
    bool ended = false;
    const int step = rate >= 1 ? 5 : 20;
    for (int s = 0; s < 14 * 3600 && !ended; s += step) {
        c.advance(step);
        const double amps = c.chargeAmps();
        const double perCell = volts(c, w.readChannel(13), amps) / cells; // under current
        highest = std::max(highest, perCell);
        peakTemp = std::max(peakTemp, c.packTemperature());
        switch (chem) {
        case Chemistry::NiCd:
        case Chemistry::NiMH: { // the charge window's detector, at rest
            w.exchange(kChargeCut);
            const int delta = w.readChannel(12);
            w.exchange(kChargeOn);
            peak = std::max(peak, delta);
            ended = delta < peak - 9;
            break;
        }
        case Chemistry::Lithium:
            ended = s > 60 && amps < 0.1 * setAmps;
            break;
        case Chemistry::LeadAcid:
            if (perCell >= 2.40 && firstGassingSoc < 0)
                firstGassingSoc = c.battery().stateOfCharge();
            ended = perCell >= 2.40;
            break;
        }
    }
    QVERIFY2(ended, "the end condition was never reached");
    const double rise = peakTemp - 20.0;
    QVERIFY2(rise >= minRise && rise <= maxRise, qPrintable(QString::number(rise)));
    QVERIFY(peak < 1000); // the delta count was not clipped
    if (chem == Chemistry::Lithium) {
        // Held at its limit (the reading's 20 mV step aside), never above, and full.
        QVERIFY2(highest <= 4.20 + 0.02 / cells, qPrintable(QString::number(highest)));
        QVERIFY2(highest >= 4.18, qPrintable(QString::number(highest)));
        QVERIFY(c.battery().stateOfCharge() > 0.95);
    }
    if (chem == Chemistry::LeadAcid) {
        // The gassing voltage comes near full, not in the body of the charge.
        QVERIFY2(firstGassingSoc > 0.85, qPrintable(QString::number(firstGassingSoc)));
        // Charged on past it, the pack climbs a little further and levels off.
        c.advance(4 * 3600);
        const double over = volts(c, w.readChannel(13), c.chargeAmps()) / cells;
        QVERIFY2(over >= 2.47 && over <= 2.62, qPrintable(QString::number(over)));
    }
    if (chem == Chemistry::NiMH && rate == 1.0) {
        // Past full it goes on warming.
        c.advance(15 * 60);
        QVERIFY(c.packTemperature() > peakTemp + 5);
    }
}

void TestSimChem::ownRunEndsByChemistry_data() {
    QTest::addColumn<int>("chemistry");
    QTest::addColumn<int>("cells");
    QTest::addColumn<double>("capacity");
    QTest::addColumn<int>("program"); // 0: the charger picks the program for the pack
    QTest::addColumn<int>("end");
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("Ni-MH: delta drop") << int(Chemistry::NiMH) << 6 << 2.0 << 0
                                       << int(MonitorEnd::DeltaDrop) << QByteArray("NiMH AA 2000");
    QTest::newRow("Ni-Cd: delta drop") << int(Chemistry::NiCd) << 8 << 1.7 << 0
                                       << int(MonitorEnd::DeltaDrop) << QByteArray("NiCd SC 1700");
    QTest::newRow("lithium: taper") << int(Chemistry::Lithium) << 2 << 2.2 << 0
                                    << int(MonitorEnd::Taper) << QByteArray("LiIon 2S 2200");
    QTest::newRow("lithium 4.1 V: taper") << int(Chemistry::Lithium) << 3 << 1.5 << 0
                                          << int(MonitorEnd::Taper) << QByteArray("LiPo 3S 1500");
    QTest::newRow("lead: voltage") << int(Chemistry::LeadAcid) << 6 << 7.0 << 0
                                   << int(MonitorEnd::Voltage) << QByteArray("Plomb 12V 7Ah");
    // A program chosen on the charger's keys wins over the pack: its duration ends the run.
    QTest::newRow("chosen program: duration")
        << int(Chemistry::NiMH) << 6 << 8.0 << 6 << int(MonitorEnd::Duration)
        << QByteArray("Rx 4.8V 1100");
}

void TestSimChem::ownRunEndsByChemistry() {
    QFETCH(int, chemistry);
    QFETCH(int, cells);
    QFETCH(double, capacity);
    QFETCH(int, program);
    QFETCH(int, end);
    QFETCH(QByteArray, name);
    VirtualCharger c;
    c.setManualClock(true);
    c.supplyVolts = 15.0;
    c.monitorProgram = program;
    c.setBattery({Chemistry(chemistry), cells, capacity, 0.3, 20.0});
    SimWire w(c);
    w.exchange(SimWire::cmd(3));
    const sim::MonitorRun &run = c.monitorRun();
    QCOMPARE(run.program.name, name);
    double highest = 0;
    for (int s = 0; s < 16 * 3600 && !run.ended; s += 10) {
        c.advance(10);
        if (!run.ended) highest = std::max(highest, c.batteryVolts() / run.program.cells);
    }
    QVERIFY(run.ended);
    QCOMPARE(int(run.end), end);
    QVERIFY(!c.outputs.charge && !c.outputs.power);
    QCOMPARE(c.outputs.doublerCut, quint8(1)); // back as the run found it
    if (run.program.chemistry == Chemistry::Lithium) {
        QVERIFY2(highest <= run.limitPerCell + 0.005, qPrintable(QString::number(highest)));
        QVERIFY(c.battery().stateOfCharge() > 0.85);
    }
    if (run.program.chemistry == Chemistry::LeadAcid)
        QVERIFY2(highest >= 2.45, qPrintable(QString::number(highest))); // 10 s before
}

void TestSimChem::repeatedCommand3_data() {
    QTest::addColumn<QByteArray>("between"); // what the PC sends before command 3 again
    QTest::addColumn<bool>("continues");
    QTest::newRow("command 3 again") << QByteArray() << true;
    QTest::newRow("a probe first") << QByteArray(1, char(0x55)) << false;
    QTest::newRow("a command first") << SimWire::cmd(1) << false;
}

void TestSimChem::repeatedCommand3() {
    QFETCH(QByteArray, between);
    QFETCH(bool, continues);
    VirtualCharger c;
    c.setManualClock(true);
    SimWire w(c);
    w.exchange(SimWire::cmd(3));
    c.advance(600);
    const double started = c.monitorRun().startSeconds;
    const int samples = c.monitorRun().samples;
    const double charge = c.monitorRun().chargeAs;
    w.exchange(between);
    w.exchange(SimWire::cmd(3));
    QCOMPARE(c.mode(), VirtualCharger::Mode::Monitor);
    QVERIFY(c.outputs.charge && c.outputs.power);
    const sim::MonitorRun &run = c.monitorRun();
    if (continues) {
        QCOMPARE(run.startSeconds, started);
        QCOMPARE(run.samples, samples); // no record due yet: the numbering goes on
        QCOMPARE(run.chargeAs, charge);
    } else {
        QCOMPARE(run.startSeconds, c.model().seconds());
        QCOMPARE(run.samples, 1);
    }
}

void TestSimChem::demoStopsAtTheEndCondition_data() {
    QTest::addColumn<bool>("discharge");
    QTest::addColumn<double>("speed");
    QTest::addColumn<double>("capacity");
    QTest::addColumn<int>("pot");
    QTest::addColumn<double>("soc");
    QTest::newRow("discharge 1C at 20x") << true << 20.0 << 2.0 << 100 << 0.1;
    QTest::newRow("discharge 2.5C at 20x") << true << 20.0 << 2.0 << 255 << 0.3; // the demo
    QTest::newRow("discharge 1C at 100x") << true << 100.0 << 2.0 << 100 << 0.1;
    QTest::newRow("discharge 4C at 400x") << true << 400.0 << 0.5 << 100 << 0.15;
    QTest::newRow("charge 1C at 1x") << false << 1.0 << 2.0 << 100 << 0.7;
    QTest::newRow("charge 1C at 20x") << false << 20.0 << 2.0 << 100 << 0.7;
}

// The windows' polls, one a wall-clock second, on a clock running `speed` times faster.
void TestSimChem::demoStopsAtTheEndCondition() {
    QFETCH(bool, discharge);
    QFETCH(double, speed);
    QFETCH(double, capacity);
    QFETCH(int, pot);
    QFETCH(double, soc);
    VirtualCharger c;
    c.setManualClock(true);
    c.setSpeed(speed);
    c.supplyVolts = 15.0;
    c.setBattery({Chemistry::NiMH, 6, capacity, soc, 20.0});
    SimWire w(c);
    if (discharge) {
        w.exchange(SimWire::cmd(20, {pot}) + SimWire::cmd(15, {0}) + SimWire::cmd(17, {0}) +
                   SimWire::cmd(16, {1}) + SimWire::cmd(18, {1}));
        double perCell = 10;
        int polls = 0;
        for (; polls < 4000 && std::floor(10 * perCell) >= 5; ++polls) {
            c.advance(speed); // a wall-clock second
            w.exchange(SimWire::cmd(16, {0}));
            perCell = std::floor(1000 * volts(c, w.readChannel(13)) / 6) / 1000;
            w.exchange(SimWire::cmd(16, {1}));
        }
        w.exchange(SimWire::cmd(16, {0}));
        QVERIFY2(
            perCell < 0.5 && perCell >= 0.45,
            qPrintable(QStringLiteral("%1 V per cell after %2 polls").arg(perCell).arg(polls)));
        return;
    }
    // A charge ends on the delta drop a few counts past ten, as in real time.
    w.exchange(SimWire::cmd(19, {pot}) + SimWire::cmd(21, {128}) + SimWire::cmd(22, {255}) +
               kChargeOn);
    int peak = 0, delta = 0;
    double minutes = 0;
    for (int polls = 0; polls < 4 * 3600 && delta >= peak - 9; ++polls) {
        c.advance(speed);
        w.exchange(kChargeCut);
        delta = w.readChannel(12);
        w.exchange(kChargeOn);
        peak = std::max(peak, delta);
        minutes = c.chargerSeconds() / 60;
    }
    QVERIFY2(delta < peak - 9 && delta >= peak - 13,
             qPrintable(QStringLiteral("%1 below the peak").arg(peak - delta)));
    // The same end as a real charge from 70 % (some 20 minutes at 1C).
    QVERIFY2(minutes > 15 && minutes < 30, qPrintable(QString::number(minutes)));
}

QTEST_GUILESS_MAIN(TestSimChem)
#include "tst_simchem.moc"
