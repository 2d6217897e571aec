// The calibration arithmetic: the lithium law, scales, current coefficients, word splits,
// the automatic-mode slider range, the reference-point tables and what is refused.
#include "calib/caliblogic.h"

#include <QtTest>

using namespace calib;
using charger::CellBlock;

class TestCalibLogic : public QObject {
    Q_OBJECT
  private slots:
    void lithiumLaw_data();
    void lithiumLaw();
    void coefficients_data();
    void coefficients();
    void words_data();
    void words();
    void autoRange_data();
    void autoRange();
    void typedNumbers_data();
    void typedNumbers();
    void referencePoints_data();
    void referencePoints();
};

using Five = std::array<double, 5>;
Q_DECLARE_METATYPE(Five)

void TestCalibLogic::lithiumLaw_data() {
    QTest::addColumn<Five>("volts");
    QTest::addColumn<Five>("counts");
    QTest::addColumn<Five>("slopes"); // all -1: refused
    QTest::addColumn<double>("a");
    QTest::addColumn<double>("b");
    // Nominally 5000 uV per count: two quotients land a hair below 5000 in double precision.
    QTest::newRow("one cell") << Five{4.4, 4.2, 4.1, 3, 2.7} << Five{880, 840, 820, 600, 540}
                              << Five{5000, 5000, 4999, 4999, 5000} << 4999.0 << 0.0;
    // Two cells read 100 mV low: B carries it in millivolts (with A one below the nominal).
    QTest::newRow("two cells, offset")
        << Five{8.8, 8.4, 8.2, 6, 5.4} << Five{1740, 1660, 1620, 1180, 1060}
        << Five{5000, 5000, 4999, 4999, 5000} << 4999.0 << 101.0;
    QTest::newRow("equal neighbours")
        << Five{4.4, 4.2, 4.1, 3, 2.7} << Five{880, 880, 820, 600, 540} << Five{-1, -1, -1, -1, -1}
        << 0.0 << 0.0;
    QTest::newRow("equal ends") << Five{4.4, 4.2, 4.1, 3, 2.7} << Five{600, 700, 650, 620, 600}
                                << Five{-1, -1, -1, -1, -1} << 0.0 << 0.0;
    // Counts falling as the voltage rises: a negative A cannot be stored.
    QTest::newRow("negative A") << Five{4.4, 4.2, 4.1, 3, 2.7} << Five{540, 600, 820, 840, 880}
                                << Five{-1, -1, -1, -1, -1} << 0.0 << 0.0;
    // Readings far above the law: B comes out negative.
    QTest::newRow("negative B") << Five{4.4, 4.2, 4.1, 3, 2.7} << Five{980, 940, 920, 700, 640}
                                << Five{-1, -1, -1, -1, -1} << 0.0 << 0.0;
    // Tiny count steps make A too large for a word.
    QTest::newRow("A above 65535") << Five{4.4, 4.2, 4.1, 3, 2.7} << Five{80, 78, 77, 66, 63}
                                   << Five{-1, -1, -1, -1, -1} << 0.0 << 0.0;
}

void TestCalibLogic::lithiumLaw() {
    QFETCH(Five, volts);
    QFETCH(Five, counts);
    QFETCH(Five, slopes);
    QFETCH(double, a);
    QFETCH(double, b);
    const LawResult r = calib::lithiumLaw(volts, counts);
    if (slopes[0] < 0) {
        QVERIFY(!r.law);
        QVERIFY(!r.refusal.isEmpty());
        return;
    }
    QVERIFY2(r.law, qPrintable(r.refusal));
    for (int i = 0; i < 5; ++i)
        QCOMPARE(r.law->slopes[i], slopes[i]);
    QCOMPARE(r.law->a, a);
    QCOMPARE(r.law->b, b);
}

void TestCalibLogic::coefficients_data() {
    QTest::addColumn<QString>("what");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("result"); // -1: nothing
    QTest::newRow("multiplier 1 A") << "mult" << 512.0 << 100.0 << 5242.0;
    QTest::newRow("multiplier 3 A") << "mult" << 512.0 << 300.0 << 1747.0;
    QTest::newRow("multiplier no current") << "mult" << 512.0 << 0.0 << -1.0;
    QTest::newRow("pot 1 A") << "pot" << 50.0 << 100.0 << 50.0;
    QTest::newRow("pot 3 A") << "pot" << 200.0 << 300.0 << 66.0;
    QTest::newRow("pot no current") << "pot" << 50.0 << 0.0 << -1.0;
    QTest::newRow("battery scale") << "scale" << 600.0 << 1200.0 << 512.0;
    QTest::newRow("supply scale") << "scale" << 700.0 << 1500.0 << 477.0;
    QTest::newRow("scale of nothing") << "scale" << 700.0 << 0.0 << -1.0;
}

void TestCalibLogic::coefficients() {
    QFETCH(QString, what);
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, result);
    const Arithmetic &a = Arithmetic::standard();
    const std::optional<double> r = what == "mult"  ? a.multiplier(x, y)
                                    : what == "pot" ? a.potCoefficient(x, y)
                                                    : a.scale(x, y);
    if (result < 0) {
        QVERIFY(!r);
        return;
    }
    QVERIFY(r);
    QCOMPARE(*r, result);
}

void TestCalibLogic::words_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("high"); // -1: refused
    QTest::addColumn<int>("low");
    QTest::newRow("300") << 300.0 << 1 << 44;
    QTest::newRow("5242") << 5242.0 << 20 << 122;
    QTest::newRow("1747") << 1747.0 << 6 << 211;
    QTest::newRow("512") << 512.0 << 2 << 0;
    QTest::newRow("477") << 477.0 << 1 << 221;
    QTest::newRow("1000") << 1000.0 << 3 << 232;
    QTest::newRow("0") << 0.0 << 0 << 0;
    QTest::newRow("65535") << 65535.0 << 255 << 255;
    QTest::newRow("65536") << 65536.0 << -1 << 0;
    QTest::newRow("negative") << -1.0 << -1 << 0;
    QTest::newRow("fraction") << 12.5 << -1 << 0;
    QTest::newRow("infinite") << qInf() << -1 << 0;
}

void TestCalibLogic::words() {
    QFETCH(double, value);
    QFETCH(int, high);
    QFETCH(int, low);
    const auto w = splitWord(value);
    if (high < 0) {
        QVERIFY(!w);
        return;
    }
    QVERIFY(w);
    QCOMPARE(int(w->high), high);
    QCOMPARE(int(w->low), low);
    // The byte fields refuse what their byte cannot hold.
    QCOMPARE(byteValue(value).has_value(), value >= 0 && value <= 255);
}

void TestCalibLogic::autoRange_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("moved");
    QTest::addColumn<double>("ratio"); // -1: undefined
    QTest::newRow("40") << 40 << 40 << 20 << 80 << 50 << 1.25;
    QTest::newRow("200 clamped") << 200 << 127 << 63 << 254 << 127 << 1.0;
    QTest::newRow("41 odd") << 41 << 41 << 20 << 82 << 20 << 0.48;
    QTest::newRow("3 lowest") << 3 << 3 << 1 << 6 << 1 << 0.33;
    QTest::newRow("0 undefined") << 0 << 0 << 0 << 0 << 0 << -1.0;
}

void TestCalibLogic::autoRange() {
    QFETCH(int, stored);
    QFETCH(int, value);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, moved);
    QFETCH(double, ratio);
    const AutoRange r = calib::autoRange(stored);
    QCOMPARE(r.stored, value);
    QCOMPARE(r.minimum, minimum);
    QCOMPARE(r.maximum, maximum);
    const auto q = autoRatio(moved, r.stored);
    if (ratio < 0) {
        QVERIFY(!q);
        return;
    }
    QVERIFY(q);
    QCOMPARE(*q, ratio);
}

void TestCalibLogic::typedNumbers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("padded") << "0000" << 0.0;
    QTest::newRow("blank first") << " 1200" << 1200.0;
    QTest::newRow("trailing text") << "1200 V" << 1200.0;
    QTest::newRow("decimal") << "12.75" << 12.75;
    QTest::newRow("comma stops") << "12,75" << 12.0;
    QTest::newRow("negative") << "-5" << -5.0;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("sign alone") << "-" << 0.0;
}

void TestCalibLogic::typedNumbers() {
    QFETCH(QString, text);
    QFETCH(double, value);
    QCOMPARE(typedNumber(text), value);
}

void TestCalibLogic::referencePoints_data() {
    QTest::addColumn<bool>("lithium");
    QTest::addColumn<int>("cells");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("caption"); // empty: no such cell count
    QTest::addColumn<double>("volts");
    QTest::addColumn<int>("base");
    QTest::newRow("lithium 3, 4.1 V point") << true << 3 << 2 << "12,2 V" << 12.2 << 48;
    QTest::newRow("lithium 2") << true << 2 << 0 << "8,8 V" << 8.8 << 32;
    QTest::newRow("lithium 5, 3.0 V point") << true << 5 << 3 << "15,0 V" << 15.0 << 80;
    QTest::newRow("lithium 6") << true << 6 << 0 << "" << 0.0 << 0;
    QTest::newRow("lead 1") << false << 1 << 0 << "2,47 V" << 2.47 << 96;
    QTest::newRow("lead 3 discharge") << false << 3 << 1 << "5,00 V" << 5.0 << 112;
    QTest::newRow("lead 6 holding") << false << 6 << 2 << "13,74 V" << 13.74 << 136;
    QTest::newRow("lead 0") << false << 0 << 0 << "" << 0.0 << 0;
}

void TestCalibLogic::referencePoints() {
    QFETCH(bool, lithium);
    QFETCH(int, cells);
    QFETCH(int, row);
    QFETCH(QString, caption);
    QFETCH(double, volts);
    QFETCH(int, base);
    const CellBlock kind = lithium ? CellBlock::Lithium : CellBlock::LeadAcid;
    const auto p = calib::referencePoints(kind, cells);
    if (caption.isEmpty()) {
        QVERIFY(!p);
        return;
    }
    QVERIFY(p);
    QCOMPARE(p->captions.at(row), caption);
    QCOMPARE(p->volts.at(row), volts);
    QCOMPARE(charger::cellBlockBase(kind, cells), base);
}

QTEST_APPLESS_MAIN(TestCalibLogic)
#include "tst_caliblogic.moc"
