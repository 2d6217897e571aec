// The capacity measurement's rules: totals shown, the delta amplifier's adjustment, the end
// of a charge, the end of a discharge, the fan and overheat watch, the cycle count.
#include "modes/capalogic.h"

#include <QtTest>

using namespace modes::capa;

class TestCapaLogic : public QObject {
    Q_OBJECT
  private slots:
    void totals_data();
    void totals();
    void deltaAdjust_data();
    void deltaAdjust();
    void chargeEnd_data();
    void chargeEnd();
    void dischargeEnd_data();
    void dischargeEnd();
    void tempWatch_data();
    void tempWatch();
    void cycles_data();
    void cycles();
    void resistanceAndLines();
};

void TestCapaLogic::totals_data() {
    QTest::addColumn<double>("ampereSeconds");
    QTest::addColumn<QString>("shown");
    QTest::newRow("3600 A.s is 1000 mAh") << 3600.0 << "C  1000mAh";
    QTest::newRow("just under 1 mAh") << 3.5999 << "C  0mAh";
    QTest::newRow("exactly 1 mAh") << 3.6 << "C  1mAh";
    QTest::newRow("nothing") << 0.0 << "C  0mAh";
}

void TestCapaLogic::totals() {
    QFETCH(double, ampereSeconds);
    QFETCH(QString, shown);
    QCOMPARE(totalText(QStringLiteral("C "), ampereSeconds), shown);
    // A preparation step counts twelve times its current, any other two.
    QCOMPARE(chargeStepAmpereSeconds(1, 1.5), 18.0);
    QCOMPARE(chargeStepAmpereSeconds(2, 1.5), 3.0);
}

void TestCapaLogic::deltaAdjust_data() {
    QTest::addColumn<QList<int>>("counts");    // read at each setting in turn (last repeats)
    QTest::addColumn<QList<int>>("gainsSent"); // the gain after each reading
    QTest::addColumn<QList<int>>("offsetsSent");
    QTest::addColumn<int>("stage");
    QTest::newRow("above 700 first at gain 30 ends at 40")
        << QList<int>{100, 300, 500, 701} << QList<int>{10, 20, 30, 40} << QList<int>{}
        << int(DeltaAdjust::Stage::Done);
    QTest::newRow("700 is not above") << QList<int>{700, 701} << QList<int>{10, 20} << QList<int>{}
                                      << int(DeltaAdjust::Stage::Done);
    QTest::newRow("already above at gain 0")
        << QList<int>{900} << QList<int>{10} << QList<int>{} << int(DeltaAdjust::Stage::Done);
    QList<int> gains;
    for (int g = 10; g <= 250; g += 10)
        gains << g;
    QList<int> low(25, 100);
    QTest::newRow("no gain gets there: the offset comes down until it does")
        << (low + QList<int>{200, 800}) << gains << QList<int>{245, 235}
        << int(DeltaAdjust::Stage::Done);
    QList<int> offsets;
    for (int o = 245; o >= 5; o -= 10)
        offsets << o;
    QTest::newRow("nothing gets there: a problem")
        << QList<int>{100} << gains << offsets << int(DeltaAdjust::Stage::Problem);
}

void TestCapaLogic::deltaAdjust() {
    QFETCH(QList<int>, counts);
    QFETCH(QList<int>, gainsSent);
    QFETCH(QList<int>, offsetsSent);
    QFETCH(int, stage);
    DeltaAdjust a;
    QList<int> gains, offsets;
    for (int i = 0; !a.finished() && i < 200; ++i) {
        a.reading(counts.value(i, counts.last()));
        if (a.offsetChanged())
            offsets << a.offset();
        else
            gains << a.gain();
    }
    QCOMPARE(gains, gainsSent);
    QCOMPARE(offsets, offsetsSent);
    QCOMPARE(int(a.stage()), stage);
}

void TestCapaLogic::chargeEnd_data() {
    QTest::addColumn<int>("gain");
    QTest::addColumn<QList<int>>("counts");
    QTest::addColumn<int>("endsAt"); // index of the reading that ends it, -1 none
    QTest::addColumn<int>("finalGain");
    QTest::newRow("a drop of 6 ends") << 100 << QList<int>{500, 520, 514} << 2 << 100;
    QTest::newRow("a drop of 5 does not") << 100 << QList<int>{500, 520, 515} << -1 << 100;
    QTest::newRow("1001 at gain 160 cuts it to 150 and restarts the peak")
        << 160 << QList<int>{990, 1001, 900, 895} << -1 << 150;
    QTest::newRow("1000 is not above") << 160 << QList<int>{1000, 994} << 1 << 160;
    QTest::newRow("after a cut the drop counts from the new peak")
        << 64 << QList<int>{1020, 950, 944} << 2 << 60;
}

void TestCapaLogic::chargeEnd() {
    QFETCH(int, gain);
    QFETCH(QList<int>, counts);
    QFETCH(int, endsAt);
    QFETCH(int, finalGain);
    ChargeEnd e(gain);
    int ended = -1;
    for (int i = 0; i < counts.size() && ended < 0; ++i) {
        const ChargeEnd::Step s = e.update(counts[i]);
        if (counts[i] > 1000) {
            QVERIFY(s.gainCut);
            QCOMPARE(s.count, 10);
        }
        if (s.ended) ended = i;
    }
    QCOMPARE(ended, endsAt);
    QCOMPARE(e.gain(), finalGain);
}

void TestCapaLogic::dischargeEnd_data() {
    QTest::addColumn<double>("vbat");
    QTest::addColumn<double>("cells");
    QTest::addColumn<int>("hundredths");
    QTest::addColumn<bool>("goesOn");
    QTest::newRow("6 cells at 5.41 V: 0.90 ends") << 5.41 << 6.0 << 90 << false;
    QTest::newRow("6 cells at 5.47 V: 0.91 goes on") << 5.47 << 6.0 << 91 << true;
    QTest::newRow("6 cells at 5.46 V: 0.91") << 5.46 << 6.0 << 91 << true;
    QTest::newRow("1 cell at 0.9 V exactly ends") << 0.9 << 1.0 << 90 << false;
    QTest::newRow("8 cells at 7.28 V: 0.91") << 7.28 << 8.0 << 91 << true;
}

void TestCapaLogic::dischargeEnd() {
    QFETCH(double, vbat);
    QFETCH(double, cells);
    QFETCH(int, hundredths);
    QFETCH(bool, goesOn);
    QCOMPARE(voltsPerCellHundredths(vbat, cells), hundredths);
    QCOMPARE(dischargeGoesOn(hundredths), goesOn);
}

void TestCapaLogic::tempWatch_data() {
    QTest::addColumn<QList<double>>("temps");
    QTest::addColumn<QList<int>>("fan");    // Fan after each reading
    QTest::addColumn<QList<bool>>("holds"); // an overheat at this reading
    using F = TempWatch::Fan;
    QTest::newRow("51 on, 46 stays, 44 off")
        << QList<double>{51, 46, 44} << QList<int>{int(F::On), int(F::Keep), int(F::Off)}
        << QList<bool>{false, false, false};
    QTest::newRow("50 and 45 change nothing")
        << QList<double>{50, 51, 45} << QList<int>{int(F::Keep), int(F::On), int(F::Keep)}
        << QList<bool>{false, false, false};
    QTest::newRow("91 switches the fan on and holds; 90 does not hold")
        << QList<double>{91, 90} << QList<int>{int(F::On), int(F::Keep)}
        << QList<bool>{true, false};
}

void TestCapaLogic::tempWatch() {
    QFETCH(QList<double>, temps);
    QFETCH(QList<int>, fan);
    QFETCH(QList<bool>, holds);
    TempWatch w;
    for (int i = 0; i < temps.size(); ++i) {
        QCOMPARE(int(w.update(temps[i])), fan[i]);
        QCOMPARE(TempWatch::overheat(temps[i]), holds[i]);
    }
    // The hold goes on at 86 and ends at 85; an unknown temperature does nothing.
    QVERIFY(!TempWatch::holdEnds(86.0));
    QVERIFY(TempWatch::holdEnds(85.0));
    QVERIFY(!TempWatch::holdEnds(std::nullopt));
    QVERIFY(!TempWatch::overheat(std::nullopt));
    QCOMPARE(int(w.update(std::nullopt)), int(TempWatch::Fan::Keep));
}

void TestCapaLogic::cycles_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("cycles"); // -1 refused
    QTest::newRow("empty is 1") << "" << 1;
    QTest::newRow("0 is 1") << "0" << 1;
    QTest::newRow("3") << " 3 " << 3;
    QTest::newRow("negative refused") << "-2" << -1;
    QTest::newRow("fraction refused (no cycle would be the last)") << "2.5" << -1;
    QTest::newRow("not a number refused") << "deux" << -1;
    QTest::newRow("too many refused") << "1000" << -1;
}

void TestCapaLogic::cycles() {
    QFETCH(QString, text);
    QFETCH(int, cycles);
    QCOMPARE(parseCycles(text).value_or(-1), cycles);
}

void TestCapaLogic::resistanceAndLines() {
    QCOMPARE(resistance(7.20, 7.28), 80.0); // floor(1000 x 0.08), despite the binary error
    QCOMPARE(resistance(7.28, 7.20), -80.0);
    QCOMPARE(logColumns().join(QLatin1Char(':')),
             QStringLiteral("DUREE:TEMPER:ICHRG:IDECHRG:TOTALCHARGE:TOTALDECHARGE:VBAT:VUNIT:"
                            "VDELTA:RESISTANCE:TEMPS"));
}

QTEST_GUILESS_MAIN(TestCapaLogic)
#include "tst_capalogic.moc"
