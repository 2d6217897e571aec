// What a run chart keeps and draws: every point stored, the drawn copy reduced to at most
// two points per pixel column without losing an extreme, round ticks from a minute to weeks.
#include "modes/chartdata.h"

#include <QTest>
#include <cmath>
#include <map>

using namespace modes;

namespace {

// Test curves: a battery-like slow rise with noise, single spikes, steps, a sawtooth.
double shape(const QString &kind, int i) {
    if (kind == "noisy rise")
        return 1.2 + i * 1e-5 + 0.01 * std::sin(i * 12.9898) * std::cos(i * 0.7);
    if (kind == "spikes") return (i % 997 == 0) ? 50.0 : ((i % 1291 == 0) ? -50.0 : 20.0);
    if (kind == "steps") return double((i / 500) % 3);
    return double(i % 7); // sawtooth
}

} // namespace

class TestChartData : public QObject {
    Q_OBJECT
  private slots:
    void keepsEveryPoint_data();
    void keepsEveryPoint();
    void decimation_data();
    void decimation();
    void nearestPoint_data();
    void nearestPoint();
    void tickChoice_data();
    void tickChoice();
    void timeLabels_data();
    void timeLabels();
    void timeAxisGrowsInSteps();
    void valueScales_data();
    void valueScales();
    void valueAxesMoveInSteps_data();
    void valueAxesMoveInSteps();
    void valueLabels_data();
    void valueLabels();
    void readoutValues_data();
    void readoutValues();
};

void TestChartData::keepsEveryPoint_data() {
    QTest::addColumn<QList<double>>("times");
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<QList<double>>("keptTimes");
    QTest::addColumn<double>("lo");
    QTest::addColumn<double>("hi");
    QTest::newRow("in order") << QList<double>{0, 1, 2} << QList<double>{1.5, -2, 7}
                              << QList<double>{0, 1, 2} << -2.0 << 7.0;
    QTest::newRow("same time twice")
        << QList<double>{0, 1, 1} << QList<double>{3, 4, 5} << QList<double>{0, 1, 1} << 3.0 << 5.0;
    QTest::newRow("clock steps back: kept at the last time")
        << QList<double>{10, 20, 15, 30} << QList<double>{1, 2, 3, 4}
        << QList<double>{10, 20, 20, 30} << 1.0 << 4.0;
    QTest::newRow("not a number: nothing stored")
        << QList<double>{0, 1, qQNaN(), 3} << QList<double>{1, qInf(), 2, 3} << QList<double>{0, 3}
        << 1.0 << 3.0;
}

void TestChartData::keepsEveryPoint() {
    QFETCH(QList<double>, times);
    QFETCH(QList<double>, values);
    QFETCH(QList<double>, keptTimes);
    QFETCH(double, lo);
    QFETCH(double, hi);
    ChartSeries s;
    for (int i = 0; i < times.size(); ++i)
        s.append(times[i], values[i]);
    QCOMPARE(int(s.size()), keptTimes.size());
    for (int i = 0; i < keptTimes.size(); ++i)
        QCOMPARE(s.time(size_t(i)), keptTimes[i]);
    QCOMPARE(s.minValue(), lo);
    QCOMPARE(s.maxValue(), hi);
    double a = 0, b = 0;
    QVERIFY(s.valueRange(-1, 1e9, a, b));
    QCOMPARE(a, lo);
    QCOMPARE(b, hi);
    s.clear();
    QCOMPARE(int(s.size()), 0);
    QVERIFY(!s.valueRange(-1, 1e9, a, b));
}

void TestChartData::decimation_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("t0");
    QTest::addColumn<double>("t1");
    QTest::addColumn<int>("columns");
    QTest::newRow("a day on 800 columns") << "noisy rise" << 86400 << 0.0 << 86400.0 << 800;
    QTest::newRow("a day of spikes") << "spikes" << 86400 << 0.0 << 108000.0 << 640;
    QTest::newRow("steps, zoomed on an hour") << "steps" << 86400 << 7200.5 << 10800.5 << 333;
    QTest::newRow("sawtooth, 1 column") << "sawtooth" << 1000 << 0.0 << 1000.0 << 1;
    QTest::newRow("fewer points than columns") << "noisy rise" << 50 << 0.0 << 60.0 << 700;
    QTest::newRow("window past the data") << "spikes" << 5000 << 4000.0 << 9000.0 << 500;
}

void TestChartData::decimation() {
    QFETCH(QString, kind);
    QFETCH(int, count);
    QFETCH(double, t0);
    QFETCH(double, t1);
    QFETCH(int, columns);
    ChartSeries s;
    std::map<int, std::pair<double, double>> extremes; // column -> raw min, max
    int inWindow = 0;
    for (int i = 0; i < count; ++i) {
        const double v = shape(kind, i);
        s.append(i, v);
        if (i < t0 || i > t1) continue;
        ++inWindow;
        const int c = columnOf(i, t0, t1, columns);
        const double stored = s.value(size_t(i));
        auto it = extremes.find(c);
        if (it == extremes.end())
            extremes[c] = {stored, stored};
        else
            it->second = {std::min(it->second.first, stored), std::max(it->second.second, stored)};
    }
    QCOMPARE(int(s.size()), count); // the full data stays

    const std::vector<ChartPoint> out = decimate(s, t0, t1, columns);
    std::map<int, std::vector<double>> drawn;
    int before = 0, after = 0;
    for (size_t k = 0; k < out.size(); ++k) {
        if (k > 0) QVERIFY2(out[k].t >= out[k - 1].t, "points in time order");
        if (out[k].t < t0)
            ++before;
        else if (out[k].t > t1)
            ++after;
        else
            drawn[columnOf(out[k].t, t0, t1, columns)].push_back(out[k].v);
    }
    QVERIFY(before <= 1 && after <= 1);
    QCOMPARE(before, t0 > 0 ? 1 : 0);
    QCOMPARE(after, t1 < count - 1 ? 1 : 0);
    for (const auto &[column, values] : drawn)
        QVERIFY2(values.size() <= 2,
                 qPrintable(QString("column %1 holds %2 points").arg(column).arg(values.size())));
    QCOMPARE(drawn.size(), extremes.size());
    for (const auto &[column, range] : extremes) {
        const std::vector<double> &values = drawn[column];
        QVERIFY2(std::find(values.begin(), values.end(), range.first) != values.end(),
                 qPrintable(QString("lowest point of column %1 lost").arg(column)));
        QVERIFY2(std::find(values.begin(), values.end(), range.second) != values.end(),
                 qPrintable(QString("highest point of column %1 lost").arg(column)));
    }
    if (inWindow <= columns) QCOMPARE(int(out.size()) - before - after, inWindow);
}

void TestChartData::nearestPoint_data() {
    QTest::addColumn<double>("t");
    QTest::addColumn<int>("index");
    // Points at 0, 10, 20, 30.
    QTest::newRow("before the first") << -5.0 << 0;
    QTest::newRow("just past a point") << 11.0 << 1;
    QTest::newRow("closer to the next") << 16.0 << 2;
    QTest::newRow("half way: the earlier") << 25.0 << 2;
    QTest::newRow("after the last") << 99.0 << 3;
}

void TestChartData::nearestPoint() {
    QFETCH(double, t);
    QFETCH(int, index);
    ChartSeries s;
    for (int i = 0; i < 4; ++i)
        s.append(i * 10, i);
    QCOMPARE(int(s.nearest(t)), index);
}

void TestChartData::tickChoice_data() {
    QTest::addColumn<double>("t0");
    QTest::addColumn<double>("t1");
    QTest::addColumn<int>("maxTicks");
    QTest::addColumn<double>("step");
    QTest::addColumn<QString>("firstLabel");
    QTest::addColumn<QString>("lastLabel");
    QTest::newRow("a minute") << 0.0 << 60.0 << 8 << 10.0 << "0:00:00"
                              << "0:01:00";
    QTest::newRow("an hour") << 0.0 << 3600.0 << 8 << 600.0 << "0:00"
                             << "1:00";
    QTest::newRow("a day") << 0.0 << 86400.0 << 8 << 10800.0 << "0:00"
                           << "24:00";
    QTest::newRow("three weeks") << 0.0 << 21 * 86400.0 << 8 << 7 * 86400.0 << "0 j"
                                 << "21 j";
    QTest::newRow("three weeks, room for many") << 0.0 << 21 * 86400.0 << 12 << 2 * 86400.0 << "0 j"
                                                << "20 j";
    QTest::newRow("half a year") << 0.0 << 183 * 86400.0 << 8 << 35 * 86400.0 << "0 j"
                                 << "175 j";
    QTest::newRow("zoomed in the fifth hour") << 18007.0 << 18077.0 << 6 << 15.0 << "5:00:15"
                                              << "5:01:15";
    QTest::newRow("odd span") << 0.0 << 26000.0 << 6 << 7200.0 << "0:00"
                              << "6:00";
}

void TestChartData::tickChoice() {
    QFETCH(double, t0);
    QFETCH(double, t1);
    QFETCH(int, maxTicks);
    QFETCH(double, step);
    QFETCH(QString, firstLabel);
    QFETCH(QString, lastLabel);
    QCOMPARE(timeTickStep(t1 - t0, maxTicks), step);
    const std::vector<double> ticks = modes::timeTicks(t0, t1, step);
    QVERIFY(ticks.size() >= 2);
    QVERIFY(int(ticks.size()) <= maxTicks + 1);
    for (double t : ticks) {
        QVERIFY(t >= t0 && t <= t1);
        QCOMPARE(std::fmod(t, step), 0.0);
    }
    QCOMPARE(timeLabel(ticks.front(), step), firstLabel);
    QCOMPARE(timeLabel(ticks.back(), step), lastLabel);
}

void TestChartData::timeLabels_data() {
    QTest::addColumn<double>("seconds");
    QTest::addColumn<double>("step");
    QTest::addColumn<QString>("label");
    QTest::newRow("seconds") << 90.0 << 10.0 << "0:01:30";
    QTest::newRow("minutes") << 5400.0 << 600.0 << "1:30";
    QTest::newRow("hours go past a day") << 93600.0 << 3600.0 << "26:00";
    QTest::newRow("days") << 172800.0 << 86400.0 << "2 j";
    QTest::newRow("day step, not on a day") << 129600.0 << 86400.0 << "1 j 12:00";
    QTest::newRow("rounded to the second") << 59.6 << 1.0 << "0:01:00";
    QTest::newRow("never negative") << -0.2 << 1.0 << "0:00:00";
}

void TestChartData::timeLabels() {
    QFETCH(double, seconds);
    QFETCH(double, step);
    QFETCH(QString, label);
    QCOMPARE(timeLabel(seconds, step), label);
}

// A day at one point per second moves the time axis a few dozen times, never backwards,
// and never leaves the newest point outside.
void TestChartData::timeAxisGrowsInSteps() {
    double end = nextTimeEnd(0);
    QCOMPARE(end, 60.0);
    int moves = 0;
    for (int t = 1; t <= 86400; ++t) {
        if (t <= end) continue;
        const double next = nextTimeEnd(t);
        QVERIFY(next > end);
        QVERIFY(next >= t);
        QVERIFY2(next <= 2 * t + 60, qPrintable(QString("%1 for %2").arg(next).arg(t)));
        end = next;
        ++moves;
    }
    QVERIFY2(moves <= 40, qPrintable(QString::number(moves)));
}

void TestChartData::valueScales_data() {
    QTest::addColumn<double>("lo");
    QTest::addColumn<double>("hi");
    QTest::addColumn<double>("otherLo");
    QTest::addColumn<double>("otherHi");
    QTest::addColumn<double>("scaleLo");
    QTest::addColumn<double>("scaleHi");
    QTest::addColumn<double>("step");
    QTest::addColumn<double>("secondLo");
    QTest::addColumn<double>("secondHi");
    QTest::newRow("current from zero")
        << 0.0 << 12.0 << 20.0 << 31.5 << 0.0 << 12.5 << 2.5 << 20.0 << 32.5;
    QTest::newRow("cell voltage") << 1.2 << 1.45 << 0.0 << 4.0 << 1.1 << 1.5 << 0.1 << 0.0 << 4.0;
    QTest::newRow("a flat temperature")
        << 25.0 << 25.0 << 0.0 << 0.0 << 23.5 << 26.5 << 0.5 << -0.6 << 0.6;
    QTest::newRow("across zero") << -3.0 << 2.0 << 1000.0 << 1001.0 << -4.0 << 4.0 << 2.0 << 1000.0
                                 << 1001.0;
    QTest::newRow("large counts") << 0.0 << 1023.0 << 0.01 << 0.02 << 0.0 << 1200.0 << 200.0 << 0.01
                                  << 0.022;
    QTest::newRow("current both ways, on the frame")
        << 6.8 << 8.46 << -2.0 << 2.0 << 6.5 << 8.5 << 0.5 << -2.0 << 2.0;
}

// The first axis takes few round steps around its data; the second gets as many steps,
// round too, around its own data: one grid serves both. Neither gets a coarser step than its
// data needs (room around the data only when it comes free).
void TestChartData::valueScales() {
    QFETCH(double, lo);
    QFETCH(double, hi);
    QFETCH(double, otherLo);
    QFETCH(double, otherHi);
    QFETCH(double, scaleLo);
    QFETCH(double, scaleHi);
    QFETCH(double, step);
    QFETCH(double, secondLo);
    QFETCH(double, secondHi);
    const ValueScale first = niceScale(lo, hi, 6);
    QCOMPARE(first.lo, scaleLo);
    QCOMPARE(first.hi, scaleHi);
    QCOMPARE(first.step, step);
    QVERIFY(first.intervals() >= 2 && first.intervals() <= 6);

    const ValueScale second = alignedScale(otherLo, otherHi, first.intervals());
    QCOMPARE(second.intervals(), first.intervals());
    QCOMPARE(second.lo + 1, secondLo + 1);
    QCOMPARE(second.hi + 1, secondHi + 1);
    QVERIFY(second.lo <= otherLo && second.hi >= otherHi);
    const double k = second.lo / second.step;
    QVERIFY(std::fabs(k - std::round(k)) < 1e-9);
    const double mantissa = second.step / std::pow(10.0, std::floor(std::log10(second.step)));
    QVERIFY2(std::fabs(mantissa - 1) < 1e-9 || std::fabs(mantissa - 2) < 1e-9 ||
                 std::fabs(mantissa - 2.5) < 1e-9 || std::fabs(mantissa - 5) < 1e-9,
             qPrintable(QString::number(second.step)));
}

void TestChartData::valueAxesMoveInSteps_data() {
    QTest::addColumn<QString>("left");
    QTest::addColumn<QString>("right");
    QTest::addColumn<int>("maxRefits");
    QTest::newRow("rising pack, constant current") << "rise"
                                                   << "constant" << 12;
    QTest::newRow("current on a step boundary") << "constant"
                                                << "tenths" << 12;
    QTest::newRow("cooling, then warming") << "cool"
                                           << "rise" << 16;
}

// A day of points, the axes refitted only when a point falls outside: a few dozen times at
// most, however the curves move, and never at every point because a value sits on a limit.
void TestChartData::valueAxesMoveInSteps() {
    QFETCH(QString, left);
    QFETCH(QString, right);
    QFETCH(int, maxRefits);
    auto value = [](const QString &kind, int t) {
        if (kind == "rise") return 7.2 + 1.3 * std::sqrt(t / 86400.0) + 0.003 * std::sin(t * 0.9);
        if (kind == "constant") return 2.0;
        if (kind == "tenths") return 0.1 * 3; // 0.30000000000000004, not a float
        return 40 - 20 * std::sin(t / 86400.0 * 3.2);
    };
    ChartSeries curves[2];
    ValueScale scales[2];
    bool fitted = false;
    int refits = 0;
    for (int t = 0; t < 86400; ++t) {
        bool outside = !fitted;
        for (int s = 0; s < 2; ++s) {
            curves[s].append(t, value(s == 0 ? left : right, t));
            outside = outside || !scales[s].contains(curves[s].value(curves[s].size() - 1));
        }
        if (!outside) continue;
        scales[0] = niceScale(curves[0].minValue(), curves[0].maxValue(), 6);
        scales[1] = alignedScale(curves[1].minValue(), curves[1].maxValue(), scales[0].intervals());
        fitted = true;
        ++refits;
    }
    QVERIFY2(refits <= maxRefits, qPrintable(QString::number(refits)));
}

void TestChartData::valueLabels_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("step");
    QTest::addColumn<QString>("label");
    QTest::newRow("quarter steps") << 12.5 << 2.5 << "12.5";
    QTest::newRow("two decimals") << 1.15 << 0.05 << "1.15";
    QTest::newRow("whole") << 1000.0 << 200.0 << "1000";
    QTest::newRow("no minus zero") << -1e-12 << 0.1 << "0.0";
    QTest::newRow("negative") << -2.0 << 2.0 << "-2";
}

void TestChartData::valueLabels() {
    QFETCH(double, value);
    QFETCH(double, step);
    QFETCH(QString, label);
    QCOMPARE(valueLabel(value, step), label);
}

void TestChartData::readoutValues_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("cell voltage") << 1.23456 << "1.2346";
    QTest::newRow("pack voltage") << 7.20341 << "7.2034";
    QTest::newRow("counts") << 576.123 << "576.12";
    QTest::newRow("no trailing zeros") << 2.0 << "2";
    QTest::newRow("small current") << 0.012345 << "0.012345";
    QTest::newRow("negative") << -1.5 << "-1.5";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("large") << 123456.7 << "123457";
}

void TestChartData::readoutValues() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(readoutValue(value), text);
}

QTEST_APPLESS_MAIN(TestChartData)
#include "tst_chartdata.moc"
