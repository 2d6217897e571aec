// The battery behind the channels, on the charger's stepped clock: a nickel charge peaks
// and drops, a discharge empties the pack, the pack warms at the end of a charge, and the
// monitor stream reports the charger's own run.
#include "simwire.h"

#include <QSignalSpy>
#include <QTest>

#include <cmath>

using sim::VirtualCharger;

class TestSimPhysics : public QObject {
    Q_OBJECT
  private slots:
    void nickelChargeEndsOnDeltaDrop_data();
    void nickelChargeEndsOnDeltaDrop();
    void deltaAdjustmentOfTheCapacityRun_data();
    void deltaAdjustmentOfTheCapacityRun();
    void dischargeReachesEndVoltage_data();
    void dischargeReachesEndVoltage();
    void exhaustedPackCollapses();
    void restVoltageHidesTheResistiveDrop();
    void chemistriesSitAtTheirVoltages_data();
    void chemistriesSitAtTheirVoltages();
    void fanCoolsTheHeatSink();
    void monitorStream();
    void monitorStreamEndsOnProbe_data();
    void monitorStreamEndsOnProbe();
    void monitorRecordsCarryCapacityAfterTheEnd();
};

namespace {

// A charge as the charge window runs it: every `poll` seconds the charge path is cut, the
// battery and delta channels read, and the charge resumed.
struct ChargeRun {
    int peak = 0;
    double endMinutes = -1;
    double peakTempBeforeEnd = 0;
    double tempAt40 = 0;
    double tempAtEnd = 0;
};

ChargeRun runCharge(VirtualCharger &c, SimWire &w, int chargePot, int gainPot, int offsetPot,
                    double maxMinutes, bool printTable) {
    ChargeRun r;
    w.exchange(SimWire::cmd(19, {chargePot}) + SimWire::cmd(21, {gainPot}) +
               SimWire::cmd(22, {offsetPot}));
    w.exchange(SimWire::cmd(18, {0}) + SimWire::cmd(16, {0}) + SimWire::cmd(17, {1}) +
               SimWire::cmd(15, {1}));
    if (printTable) qInfo("  min | battery V | delta count | pack C");
    for (int s = 0; s <= maxMinutes * 60; s += 5) {
        c.advance(5);
        w.exchange(SimWire::cmd(15, {0}) + SimWire::cmd(17, {0}) + SimWire::cmd(18, {1}));
        const int vbat = w.readChannel(13);
        const int delta = w.readChannel(12);
        w.exchange(SimWire::cmd(18, {0}) + SimWire::cmd(17, {1}) + SimWire::cmd(15, {1}));
        r.peak = std::max(r.peak, delta);
        const double minutes = c.chargerSeconds() / 60.0;
        if (std::abs(minutes - 40) < 0.01) r.tempAt40 = c.packTemperature();
        if (printTable && (s % 600 == 0 || (minutes > 60 && s % 120 == 0)))
            qInfo("  %3.0f | %9.2f | %11d | %6.1f", minutes, std::floor(1024.0 * vbat / 512) / 100,
                  delta, c.packTemperature());
        if (delta < r.peak - 9) {
            r.endMinutes = minutes;
            r.tempAtEnd = c.packTemperature();
            if (printTable)
                qInfo("  %3.1f | %9.2f | %11d | %6.1f  (end: %d below the peak %d)", minutes,
                      std::floor(1024.0 * vbat / 512) / 100, delta, c.packTemperature(),
                      r.peak - delta, r.peak);
            break;
        }
    }
    return r;
}

} // namespace

void TestSimPhysics::nickelChargeEndsOnDeltaDrop_data() {
    QTest::addColumn<int>("chemistry");
    QTest::addColumn<int>("cells");
    QTest::addColumn<double>("capacity");
    QTest::addColumn<int>("gainPot");
    QTest::addColumn<int>("offsetPot");
    // Gain and offset set as a user would: the delta count well inside its range at the end.
    QTest::newRow("Ni-MH 6 cells 2 Ah") << int(sim::Chemistry::NiMH) << 6 << 2.0 << 128 << 255;
    QTest::newRow("Ni-MH 4 cells 1.1 Ah") << int(sim::Chemistry::NiMH) << 4 << 1.1 << 128 << 200;
    QTest::newRow("Ni-Cd 8 cells 1.7 Ah") << int(sim::Chemistry::NiCd) << 8 << 1.7 << 64 << 255;
}

void TestSimPhysics::nickelChargeEndsOnDeltaDrop() {
    QFETCH(int, chemistry);
    QFETCH(int, cells);
    QFETCH(double, capacity);
    QFETCH(int, gainPot);
    QFETCH(int, offsetPot);
    VirtualCharger c;
    c.setManualClock(true);
    c.supplyVolts = 15.0;
    c.setBattery({sim::Chemistry(chemistry), cells, capacity, 0.0, 20.0});
    SimWire w(c);
    const int onceC = int(std::lround(capacity * 50)); // 1C through the potentiometer
    const ChargeRun r = runCharge(c, w, onceC, gainPot, offsetPot, 100,
                                  QTest::currentDataTag() == QByteArray("Ni-MH 6 cells 2 Ah"));
    // A 1C charge of an empty pack takes in some 105-130 % of its capacity.
    QVERIFY2(r.endMinutes >= 62 && r.endMinutes <= 80, qPrintable(QString::number(r.endMinutes)));
    QVERIFY(r.peak > 100 && r.peak < 1000); // a real peak, not the converter's limit
    // The pack stays near the ambient for most of the charge and warms at its end.
    QVERIFY2(r.tempAt40 < 30, qPrintable(QString::number(r.tempAt40)));
    QVERIFY2(r.tempAtEnd > r.tempAt40 + 5, qPrintable(QString::number(r.tempAtEnd)));
    QVERIFY(c.battery().stateOfCharge() > 0.95);
}

void TestSimPhysics::deltaAdjustmentOfTheCapacityRun_data() {
    QTest::addColumn<int>("cells");
    QTest::addColumn<bool>("byOffset"); // the gain alone cannot lift the count above 700
    QTest::newRow("1 cell") << 1 << true;
    QTest::newRow("6 cells") << 6 << false;
    QTest::newRow("8 cells") << 8 << false;
    QTest::newRow("12 cells") << 12 << false;
}

void TestSimPhysics::deltaAdjustmentOfTheCapacityRun() {
    QFETCH(int, cells);
    QFETCH(bool, byOffset);
    VirtualCharger c;
    c.setManualClock(true);
    c.supplyVolts = 15;
    c.setBattery({sim::Chemistry::NiMH, cells, 2.0, 0.3, 20.0});
    SimWire w(c);
    // The capacity run's adjustment: gain up from 0 in tens with the offset at 255, until
    // the delta count passes 700; failing that, the offset down in tens.
    int gain = 0, offset = 255, count = 0;
    w.exchange(SimWire::cmd(21, {gain}) + SimWire::cmd(22, {offset}));
    bool done = false;
    while (!done && gain <= 245) {
        count = w.readChannel(12);
        done = count > 700;
        if (!done) {
            gain += 10;
            w.exchange(SimWire::cmd(21, {gain}));
        }
    }
    QCOMPARE(!done, byOffset);
    while (!done && offset >= 10) {
        count = w.readChannel(12);
        done = count > 700;
        if (!done) {
            offset -= 10;
            w.exchange(SimWire::cmd(22, {offset}));
        }
    }
    QVERIFY(done);
    // Room left above for the rise of a whole 1C charge, so the peak is not clipped.
    w.exchange(SimWire::cmd(51, {0}) + SimWire::cmd(19, {100}) + SimWire::cmd(18, {0}) +
               SimWire::cmd(17, {1}) + SimWire::cmd(15, {1}));
    int peak = 0;
    for (int s = 0; s < 90 * 60; s += 30) {
        c.advance(30);
        w.exchange(SimWire::cmd(15, {0}));
        peak = std::max(peak, w.readChannel(12));
        w.exchange(SimWire::cmd(15, {1}));
    }
    QVERIFY2(peak > count && peak < 1023, qPrintable(QString::number(peak)));
}

void TestSimPhysics::dischargeReachesEndVoltage_data() {
    QTest::addColumn<int>("chemistry");
    QTest::addColumn<int>("cells");
    QTest::newRow("Ni-MH") << int(sim::Chemistry::NiMH) << 6;
    QTest::newRow("Ni-Cd") << int(sim::Chemistry::NiCd) << 4;
}

void TestSimPhysics::dischargeReachesEndVoltage() {
    QFETCH(int, chemistry);
    QFETCH(int, cells);
    VirtualCharger c;
    c.setManualClock(true);
    c.setBattery({sim::Chemistry(chemistry), cells, 2.0, 1.0, 20.0});
    SimWire w(c);
    // As the discharge window: 1C, the battery read with the discharge path off.
    w.exchange(SimWire::cmd(20, {100}) + SimWire::cmd(15, {0}) + SimWire::cmd(17, {0}) +
               SimWire::cmd(16, {1}) + SimWire::cmd(18, {1}));
    double endMinutes = -1;
    double perCellAt30 = 0;
    for (int s = 5; s <= 90 * 60; s += 5) {
        c.advance(5);
        w.exchange(SimWire::cmd(16, {0}));
        const double vbat = std::floor(1024.0 * w.readChannel(13) / 512) / 100;
        w.exchange(SimWire::cmd(16, {1}));
        if (s == 30 * 60) perCellAt30 = vbat / cells;
        if (vbat / cells < 0.9) {
            endMinutes = s / 60.0;
            break;
        }
    }
    // A full pack gives close to its capacity at 1C before it reaches 0.9 V per cell.
    QVERIFY2(endMinutes > 50 && endMinutes < 65, qPrintable(QString::number(endMinutes)));
    QVERIFY(perCellAt30 > 1.1 && perCellAt30 < 1.3);
    QVERIFY(c.battery().stateOfCharge() < 0.1);
}

// A small pack discharged hard gives what it holds and then collapses, so a discharge
// with a 0.5 V per cell limit ends instead of drawing current from an empty pack, even
// when each reading comes after a minute's rest (a fast clock) that lets the pack recover.
void TestSimPhysics::exhaustedPackCollapses() {
    VirtualCharger c;
    c.setManualClock(true);
    c.setBattery({sim::Chemistry::NiMH, 6, 0.5, 1.0, 20.0});
    SimWire w(c);
    w.exchange(SimWire::cmd(20, {100}) + SimWire::cmd(15, {0}) + SimWire::cmd(17, {0}) +
               SimWire::cmd(16, {1}) + SimWire::cmd(18, {1}));
    double ampHours = 0;
    double endMinutes = -1;
    for (int s = 60; s <= 3 * 3600; s += 60) {
        ampHours += c.dischargeAmps() * 60 / 3600.0;
        c.advance(60);
        w.exchange(SimWire::cmd(16, {0}));
        c.advance(60);
        const double vbat = std::floor(1024.0 * w.readChannel(13) / 512) / 100;
        w.exchange(SimWire::cmd(16, {1}));
        if (vbat / 6 < 0.5) {
            endMinutes = s / 60.0;
            break;
        }
    }
    QVERIFY2(endMinutes > 0, "the pack never fell below 0.5 V per cell");
    QVERIFY2(ampHours > 0.4 && ampHours < 0.55, qPrintable(QString::number(ampHours)));
}

void TestSimPhysics::restVoltageHidesTheResistiveDrop() {
    VirtualCharger c;
    c.setManualClock(true);
    c.setBattery({sim::Chemistry::NiMH, 6, 2.0, 0.5, 20.0});
    SimWire w(c);
    const int rest = w.readChannel(13);
    w.exchange(SimWire::cmd(19, {100}) + SimWire::cmd(17, {1}) + SimWire::cmd(15, {1}));
    const int charging = w.readChannel(13);
    const double ohms = c.battery().resistanceOhms();
    // The drop across the pack's resistance appears at once with the current...
    QVERIFY(std::abs((charging - rest) / 50.0 - 2.0 * ohms) < 0.04);
    c.advance(300);
    const int polarised = w.readChannel(13);
    w.exchange(SimWire::cmd(15, {0}));
    const int paused = w.readChannel(13);
    // ...and goes at once when it stops, while the polarisation built up stays a moment.
    QVERIFY(std::abs((polarised - paused) / 50.0 - 2.0 * c.battery().resistanceOhms()) < 0.04);
    QVERIFY(paused > rest + 2);
    c.advance(900);
    QVERIFY(w.readChannel(13) < paused);
}

void TestSimPhysics::chemistriesSitAtTheirVoltages_data() {
    QTest::addColumn<int>("chemistry");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::newRow("Ni-Cd") << int(sim::Chemistry::NiCd) << 1.15 << 1.35;
    QTest::newRow("Ni-MH") << int(sim::Chemistry::NiMH) << 1.15 << 1.35;
    QTest::newRow("lithium") << int(sim::Chemistry::Lithium) << 3.5 << 4.0;
    QTest::newRow("lead-acid") << int(sim::Chemistry::LeadAcid) << 1.95 << 2.15;
}

void TestSimPhysics::chemistriesSitAtTheirVoltages() {
    QFETCH(int, chemistry);
    QFETCH(double, low);
    QFETCH(double, high);
    VirtualCharger c;
    c.setBattery({sim::Chemistry(chemistry), 3, 2.0, 0.5, 20.0});
    const double perCell = c.batteryVolts() / 3;
    QVERIFY2(perCell > low && perCell < high, qPrintable(QString::number(perCell)));
    // Full reads higher than empty.
    c.setBattery({sim::Chemistry(chemistry), 3, 2.0, 1.0, 20.0});
    const double full = c.batteryVolts();
    c.setBattery({sim::Chemistry(chemistry), 3, 2.0, 0.0, 20.0});
    QVERIFY(full > c.batteryVolts() + 0.3);
}

void TestSimPhysics::fanCoolsTheHeatSink() {
    double temps[2];
    for (int fan = 0; fan < 2; ++fan) {
        VirtualCharger c;
        c.setManualClock(true);
        c.setBattery({sim::Chemistry::NiMH, 4, 4.0, 0.2, 20.0});
        SimWire w(c);
        w.exchange(SimWire::cmd(25, {fan}) + SimWire::cmd(19, {200}) + SimWire::cmd(17, {1}) +
                   SimWire::cmd(15, {1}));
        c.advance(1200);
        temps[fan] = c.heatsinkTemperature();
        const int count = w.readChannel(5); // the charger's temperature
        QVERIFY(std::abs(c.truth.heatsink.value(count) - temps[fan]) <= 1);
    }
    QVERIFY(temps[0] > 35);
    QVERIFY(temps[1] < temps[0] - 5);
}

namespace {
struct Record {
    char prompt;
    int sample, seconds, vbat, current, temper, delta, resist, capacity, type, cdv, valim, vdbl,
        vmoy, maxidv;
};

QList<Record> records(const QByteArray &stream) {
    QList<Record> out;
    const auto w = [](const QByteArray &r, int i) { return quint8(r[i]) * 256 + quint8(r[i + 1]); };
    for (int i = stream.indexOf('\n'); i >= 0 && i + 30 <= stream.size(); i += 30) {
        const QByteArray r = stream.mid(i, 30); // r[k] is byte k of the record
        if (r.at(0) != '\n') break;
        out.append({r.at(1), w(r, 2), quint8(r[4]) * 3600 + quint8(r[5]) * 60 + quint8(r[6]),
                    w(r, 8), w(r, 10), w(r, 12), w(r, 14), quint8(r[17]), qint16(w(r, 18)),
                    quint8(r[20]), quint8(r[21]), w(r, 22), w(r, 24), w(r, 26), w(r, 28)});
        if (r.at(7) != '=') out.last().prompt = '?';
    }
    return out;
}
} // namespace

void TestSimPhysics::monitorStream() {
    VirtualCharger c;
    c.setManualClock(true);
    c.setBattery({sim::Chemistry::NiMH, 6, 2.0, 0.3, 20.0});
    QSignalSpy baud(&c, &VirtualCharger::baudRateChanged);
    SimWire w(c);
    w.exchange(SimWire::cmd(3));
    QCOMPARE(c.mode(), VirtualCharger::Mode::Monitor);
    QCOMPARE(baud.count(), 1);
    QCOMPARE(baud.at(0).at(0).toInt(), 19200);
    w.rx.clear();
    c.advance(20);
    const QList<Record> recs = records(w.rx);
    QCOMPARE(w.rx.size(), 20 * 30);
    QCOMPARE(recs.size(), 20);
    for (int i = 0; i < recs.size(); ++i) {
        const Record &r = recs.at(i);
        QCOMPARE(r.prompt, 'C');
        QCOMPARE(r.sample, i + 2); // the first record went out with command 3
        QCOMPARE(r.seconds, i + 1);
        QCOMPARE(r.type, 1);
        // The current of the run's program (nominal pot steps, through this unit's stage)
        const double set = c.monitorRun().setAmps;
        QVERIFY(set > 0);
        QVERIFY2(
            std::abs(c.truth.charge.value(r.current) - set) < 0.03 * set + 0.02,
            qPrintable(
                QStringLiteral("%1 A for %2 A").arg(c.truth.charge.value(r.current)).arg(set)));
        QVERIFY(r.vbat > 6 * 1.2 * 50 && r.vbat < 6 * 1.5 * 50);
        QVERIFY(r.resist > 50 && r.resist < 255);
        QVERIFY(std::abs(r.valim - c.truth.supply.count(12.0)) <= 1);
    }
    QVERIFY(recs.last().capacity >= 10); // 20 s at 2 A: 11 mAh
}

void TestSimPhysics::monitorStreamEndsOnProbe_data() {
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("probe") << QByteArray(1, char(0x55)) << QByteArray(1, char(27));
    QTest::newRow("command") << SimWire::cmd(37, {192})
                             << QByteArray("\x1b"
                                           "C\0",
                                           3);
    QTest::newRow("any byte") << QByteArray("x") << QByteArray();
}

void TestSimPhysics::monitorStreamEndsOnProbe() {
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, answer);
    VirtualCharger c;
    c.setManualClock(true);
    SimWire w(c);
    w.exchange(SimWire::cmd(3));
    QVERIFY(c.outputs.charge);
    // The PC, back at 9600 baud, talks: the stream stops and the charger answers.
    QCOMPARE(w.exchange(sent), answer);
    QCOMPARE(c.mode(), VirtualCharger::Mode::Firmware);
    QCOMPARE(c.baudRate(), 9600);
    QVERIFY(!c.outputs.charge && !c.outputs.power);
    w.rx.clear();
    c.advance(10);
    QVERIFY(w.rx.isEmpty());
}

void TestSimPhysics::monitorRecordsCarryCapacityAfterTheEnd() {
    VirtualCharger c;
    c.setManualClock(true);
    c.setBattery({sim::Chemistry::NiMH, 6, 2.0, 0.6, 20.0});
    SimWire w(c);
    w.exchange(SimWire::cmd(3));
    c.advance(60 * 60);
    QVERIFY(c.monitorRun().ended);
    QVERIFY(!c.outputs.charge);
    w.rx.clear();
    c.advance(3);
    const QList<Record> recs = records(w.rx);
    QCOMPARE(recs.size(), 3);
    QCOMPARE(recs.last().type, 2);
    QCOMPARE(recs.last().prompt, 'F');
    QCOMPARE(recs.last().current, 0);
    // About the charge a 60 % pack takes before its voltage drops.
    QVERIFY2(recs.last().capacity > 700 && recs.last().capacity < 1600,
             qPrintable(QString::number(recs.last().capacity)));
    QVERIFY(recs.last().maxidv >= recs.last().delta);
}

QTEST_GUILESS_MAIN(TestSimPhysics)
#include "tst_simphysics.moc"
