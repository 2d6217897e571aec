// The arithmetic, detectors and log formats of the charge and discharge runs.
#include "modes/detector.h"
#include "modes/measure.h"
#include "modes/runinfo.h"
#include "modes/runlog.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace modes;
using OptD = std::optional<double>;
Q_DECLARE_METATYPE(OptD)
Q_DECLARE_METATYPE(modes::Quantity)

namespace {
// A table with the given calibration words (index of the high byte, word).
QByteArray table(std::initializer_list<std::pair<int, int>> words) {
    QByteArray t(257, 0);
    for (auto [i, w] : words) {
        t[i] = char(w >> 8);
        t[i + 1] = char(w & 0xFF);
    }
    return t;
}

// Feeds one block of 50 polls whose battery counts add up to sum.
std::optional<BlockResult> feedBlock(ChargeDetector &d, int sum, qint64 duree) {
    std::optional<BlockResult> r;
    for (int i = 0; i < ChargeDetector::kPollsPerBlock - 1; ++i)
        r = d.addSample(0, duree);
    if (r) return std::nullopt; // a block must not end early
    return d.addSample(sum, duree);
}
} // namespace

class TestModeLogic : public QObject {
    Q_OBJECT
  private slots:
    void conversion_data();
    void conversion();
    void keptValueSurvivesMissingCalibration();
    void setpoint_data();
    void setpoint();
    void clockLabels_data();
    void clockLabels();
    void runClockAcrossWrap_data();
    void runClockAcrossWrap();
    void chargeIntegration_data();
    void chargeIntegration();
    void blockRises_data();
    void blockRises();
    void dvdtWatch_data();
    void dvdtWatch();
    void endOfCharge_data();
    void endOfCharge();
    void voltsPerCellAndEnd_data();
    void voltsPerCellAndEnd();
    void inputRules_data();
    void inputRules();
    void logNumbers_data();
    void logNumbers();
    void fileNames_data();
    void fileNames();
    void headers();
    void newLogNames_data();
    void newLogNames();
    void logFileIsFlushedPerRecord();
    void runInfoRoundTrip();
};

void TestModeLogic::conversion_data() {
    QTest::addColumn<Quantity>("q");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<OptD>("expected");

    const QByteArray none = table({});
    QTest::newRow("supply 1024 -> count/100")
        << Quantity::Valim << 1234 << table({{9, 1024}}) << none << OptD(12.34);
    QTest::newRow("supply floors")
        << Quantity::Valim << 300 << table({{9, 1000}}) << none << OptD(3.07); // 307.2
    QTest::newRow("supply uncalibrated") << Quantity::Valim << 300 << none << none << OptD();
    QTest::newRow("doubler") << Quantity::Vdbl << 512 << table({{11, 512}}) << none << OptD(10.24);
    QTest::newRow("temperature falls as count rises")
        << Quantity::Temper << 700 << table({{0, 1024}, {2, 600}}) << none << OptD(-100.0);
    QTest::newRow("temperature") << Quantity::Temper << 500 << table({{0, 2048}, {2, 600}}) << none
                                 << OptD(50.0);
    QTest::newRow("temperature floors toward minus")
        << Quantity::Temper << 601 << table({{0, 2048}, {2, 600}}) << none << OptD(-1.0);
    QTest::newRow("temperature without gain")
        << Quantity::Temper << 500 << table({{2, 600}}) << none << OptD();
    QTest::newRow("charge current")
        << Quantity::Ichrg << 150 << none << table({{0, 1024}}) << OptD(1.5);
    QTest::newRow("discharge current")
        << Quantity::Idech << 150 << none << table({{2, 2048}}) << OptD(.75);
    QTest::newRow("discharge current uncalibrated")
        << Quantity::Idech << 150 << none << table({{0, 1024}}) << OptD();
    QTest::newRow("battery") << Quantity::Vbat << 700 << none << table({{6, 250}})
                             << OptD(28.67); // 2867.2
    QTest::newRow("battery word zero never divides")
        << Quantity::Vbat << 700 << none << none << OptD();
    QTest::newRow("word of one low byte")
        << Quantity::Vbat << 1 << none << table({{6, 1}}) << OptD(10.24);
}

void TestModeLogic::conversion() {
    QFETCH(Quantity, q);
    QFETCH(int, count);
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(OptD, expected);
    const OptD got = convert(q, count, a, b);
    QCOMPARE(got.has_value(), expected.has_value());
    if (expected) QCOMPARE(*got, *expected);
}

void TestModeLogic::keptValueSurvivesMissingCalibration() {
    Kept k;
    k.update(std::nullopt);
    QVERIFY(!k.value);
    QCOMPARE(k.orZero(), 0.0);
    k.update(1.5);
    k.update(std::nullopt);
    QCOMPARE(*k.value, 1.5);
}

void TestModeLogic::setpoint_data() {
    QTest::addColumn<int>("v");
    QTest::addColumn<int>("divisor");
    QTest::addColumn<QString>("text");
    QTest::newRow("1.28 A") << 128 << 100 << "COURANT DE CHARGE = 1.28 A";
    QTest::newRow("floors") << 1 << 3 << "COURANT DE CHARGE = .33 A";
    QTest::newRow("zero") << 0 << 50 << "COURANT DE CHARGE = 0 A";
    QTest::newRow("whole") << 200 << 100 << "COURANT DE CHARGE = 2 A";
    QTest::newRow("zero divisor shows the slider value") << 255 << 0 << "COURANT DE CHARGE = 255";
}

void TestModeLogic::setpoint() {
    QFETCH(int, v);
    QFETCH(int, divisor);
    QFETCH(QString, text);
    QCOMPARE(setpointText(QStringLiteral("COURANT DE CHARGE ="), v, divisor), text);
}

void TestModeLogic::clockLabels_data() {
    QTest::addColumn<qint64>("duree");
    QTest::addColumn<QStringList>("labels");
    QTest::newRow("3725") << qint64(3725) << QStringList{"01", "02", "05"};
    QTest::newRow("start") << qint64(0) << QStringList{"00", "00", "00"};
    QTest::newRow("ten and more keep the number text")
        << qint64(36000 + 11 * 60 + 59) << QStringList{" 10", " 11", " 59"};
    QTest::newRow("beyond a day") << qint64(90061) << QStringList{" 25", "01", "01"};
}

void TestModeLogic::clockLabels() {
    QFETCH(qint64, duree);
    QFETCH(QStringList, labels);
    const Hms h = splitClock(duree);
    QCOMPARE((QStringList{clockText(h.hours), clockText(h.minutes), clockText(h.seconds)}), labels);
}

void TestModeLogic::runClockAcrossWrap_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<QList<int>>("readings");
    QTest::addColumn<int>("invalidAt"); // index of a reading whose fields are not a time; -1
    QTest::addColumn<QList<qint64>>("elapsed");
    QTest::addColumn<QList<qint64>>("logged");
    QTest::addColumn<QString>("glitches"); // G: a glitch
    QTest::newRow("plain") << 100 << QList<int>{101, 161} << -1 << QList<qint64>{1, 61}
                           << QList<qint64>{1, 61} << "..";
    QTest::newRow("wrap at midnight keeps growing")
        << 86390 << QList<int>{86399, 5, 65} << -1 << QList<qint64>{9, 15, 75}
        << QList<qint64>{9, 15, 75} << "...";
    QTest::newRow("a fast clock crosses midnight in one poll")
        << 85000 << QList<int>{86000, 1000} << -1 << QList<qint64>{1000, 2400}
        << QList<qint64>{1000, 2400} << "..";
    QTest::newRow("an hour across midnight is still the wrap")
        << 86000 << QList<int>{3200} << -1 << QList<qint64>{3600} << QList<qint64>{3600} << ".";
    QTest::newRow("a second more is a glitch")
        << 86000 << QList<int>{3201, 86001} << -1 << QList<qint64>{0, 1} << QList<qint64>{-82799, 1}
        << "G.";
    QTest::newRow("a corrupted minutes byte adds nothing")
        << 36000 << QList<int>{36365, 36366, 36006, 36367} << -1
        << QList<qint64>{365, 366, 366, 367} << QList<qint64>{365, 366, 6, 367} << "..G.";
    QTest::newRow("a step back in the day is a glitch")
        << 43200 << QList<int>{43210, 10, 43211} << -1 << QList<qint64>{10, 10, 11}
        << QList<qint64>{10, -43190, 11} << ".G.";
    QTest::newRow("a glitch after the wrap counts the wrap once")
        << 86390 << QList<int>{5, 3, 6} << -1 << QList<qint64>{15, 15, 16}
        << QList<qint64>{15, 13, 16} << ".G.";
    QTest::newRow("fields that are not a time")
        << 36000 << QList<int>{36001, 48002, 36002} << 1 << QList<qint64>{1, 1, 2}
        << QList<qint64>{1, 12002, 2} << ".G.";
    QTest::newRow("beyond the day")
        << 36000 << QList<int>{36001, 90000, 36002} << -1 << QList<qint64>{1, 1, 2}
        << QList<qint64>{1, 54000, 2} << ".G.";
    QList<int> days;
    QList<qint64> steps;
    for (int i = 1; i <= 60; ++i) {
        days << (3000 * i) % 86400;
        steps << 3000 * i;
    }
    QTest::newRow("two days in steps of 3000 s")
        << 0 << days << -1 << steps << steps << QString(60, QLatin1Char('.'));
}

void TestModeLogic::runClockAcrossWrap() {
    QFETCH(int, start);
    QFETCH(QList<int>, readings);
    QFETCH(int, invalidAt);
    QFETCH(QList<qint64>, elapsed);
    QFETCH(QList<qint64>, logged);
    QFETCH(QString, glitches);
    RunClock c;
    c.start(start);
    QList<qint64> gotElapsed, gotLogged;
    QString gotGlitches;
    for (int i = 0; i < readings.size(); ++i) {
        const RunClock::Reading r = c.read(readings[i], i != invalidAt);
        gotElapsed << r.elapsed;
        gotLogged << r.received;
        gotGlitches += r.glitch ? QLatin1Char('G') : QLatin1Char('.');
    }
    QCOMPARE(gotElapsed, elapsed);
    QCOMPARE(gotLogged, logged);
    QCOMPARE(gotGlitches, glitches);
}

void TestModeLogic::chargeIntegration_data() {
    QTest::addColumn<double>("amps");
    QTest::addColumn<int>("polls");
    QTest::addColumn<int>("step"); // seconds per poll
    QTest::addColumn<double>("mAs");
    QTest::addColumn<qint64>("capacity");
    QTest::newRow("1.5 A for two 1 s polls") << 1.5 << 2 << 1 << 3000.0 << qint64(0);
    QTest::newRow("reaches 1 mAh at 3600") << 1.2 << 3 << 1 << 3600.0 << qint64(1);
    QTest::newRow("0.29 A for an hour is 290 mAh") << 0.29 << 3600 << 1 << 1044000.0 << qint64(290);
    QTest::newRow("no current") << 0.0 << 10 << 1 << 0.0 << qint64(0);
    QTest::newRow("a step back adds nothing") << 2.0 << 3 << -5 << 0.0 << qint64(0);
}

void TestModeLogic::chargeIntegration() {
    QFETCH(double, amps);
    QFETCH(int, polls);
    QFETCH(int, step);
    QFETCH(double, mAs);
    QFETCH(qint64, capacity);
    ChargeCounter c;
    for (int i = 0; i < polls; ++i)
        c.add(step, amps);
    QVERIFY(qAbs(c.milliampereSeconds() - mAs) < 1e-6 * qMax(1.0, mAs));
    QCOMPARE(c.capacity(), capacity);
}

void TestModeLogic::blockRises_data() {
    QTest::addColumn<QList<int>>("sums");
    QTest::addColumn<QList<int>>("rises");
    QTest::addColumn<QList<int>>("averages");
    QTest::newRow("first two blocks report 10")
        << QList<int>{5000, 5000, 5000} << QList<int>{10, 10, 0} << QList<int>{10, 10, 6};
    QTest::newRow("a rise of 301 is recorded as 0")
        << QList<int>{1000, 1000, 1301} << QList<int>{10, 10, 0} << QList<int>{10, 10, 6};
    QTest::newRow("a rise of 300 is kept")
        << QList<int>{1000, 1000, 1300} << QList<int>{10, 10, 300} << QList<int>{10, 10, 106};
    QTest::newRow("a falling voltage gives 0")
        << QList<int>{1000, 1000, 990, 995} << QList<int>{10, 10, 0, 5} << QList<int>{10, 10, 6, 6};
    QTest::newRow("large first blocks are still 10")
        << QList<int>{40000, 50000} << QList<int>{10, 10} << QList<int>{10, 10};
}

void TestModeLogic::blockRises() {
    QFETCH(QList<int>, sums);
    QFETCH(QList<int>, rises);
    QFETCH(QList<int>, averages);
    ChargeDetector d;
    QList<int> gotRises, gotAverages;
    for (int s : sums) {
        const auto r = feedBlock(d, s, 100);
        QVERIFY(r);
        gotRises << r->rise;
        gotAverages << r->average;
    }
    QCOMPARE(gotRises, rises);
    QCOMPARE(gotAverages, averages);
    QCOMPARE(d.samples(), 0);
}

void TestModeLogic::dvdtWatch_data() {
    QTest::addColumn<QList<int>>("rises"); // wanted rise of each block (the first two are 10)
    QTest::addColumn<qint64>("duree");
    QTest::addColumn<QString>("boxes"); // C clear, G grayed, T ticked after each block
    QTest::addColumn<int>("state");
    const QList<int> flat = {0, 0, 2, 2, 2, 2, 2, 2, 2, 2};
    QTest::newRow("steep rise grays, four blocks tick, a steeper one clears")
        << (flat + QList<int>{50, 10, 10, 10, 60}) << qint64(1000) << "CCCCCCCCCCGGGTC" << 2;
    QTest::newRow("nothing is watched before 500 s")
        << (flat + QList<int>{50, 10, 10, 10, 60}) << qint64(500) << "CCCCCCCCCCCCCCC" << 0;
    QTest::newRow("a steeper rise while suspect restarts the count")
        << (flat + QList<int>{50, 70, 10, 10, 10, 10}) << qint64(1000) << "CCCCCCCCCCGGGGGT" << 2;
    const QList<int> tens = {0, 0, 10, 10, 10, 10, 10, 10, 10, 10};
    QTest::newRow("a rise of three times the average is not enough")
        << (tens + QList<int>{36}) << qint64(1000) << "CCCCCCCCCCC" << 0;
    QTest::newRow("one count more is")
        << (tens + QList<int>{37}) << qint64(1000) << "CCCCCCCCCCG" << 1;
}

void TestModeLogic::dvdtWatch() {
    QFETCH(QList<int>, rises);
    QFETCH(qint64, duree);
    QFETCH(QString, boxes);
    QFETCH(int, state);
    ChargeDetector d;
    int sum = 1000;
    QString got;
    for (int r : rises) {
        sum += r;
        QVERIFY(feedBlock(d, sum, duree));
        got += d.box() == DvdtBox::Clear ? 'C' : d.box() == DvdtBox::Grayed ? 'G' : 'T';
    }
    QCOMPARE(got, boxes);
    QCOMPARE(d.state(), state);
}

void TestModeLogic::endOfCharge_data() {
    QTest::addColumn<QList<int>>("counts");
    QTest::addColumn<QList<bool>>("ends");
    QTest::newRow("peak 500: 491 goes on, 490 ends")
        << QList<int>{450, 500, 491, 490} << QList<bool>{false, false, false, true};
    QTest::newRow("a new peak moves the limit")
        << QList<int>{500, 520, 511, 510} << QList<bool>{false, false, false, true};
    QTest::newRow("rising never ends")
        << QList<int>{0, 5, 9, 300} << QList<bool>{false, false, false, false};
}

void TestModeLogic::endOfCharge() {
    QFETCH(QList<int>, counts);
    QFETCH(QList<bool>, ends);
    DeltaPeak p;
    QList<bool> got;
    for (int c : counts)
        got << p.update(c);
    QCOMPARE(got, ends);
    p.reset(); // the current slider was moved
    QVERIFY(!p.update(counts.last() - 50));
}

void TestModeLogic::voltsPerCellAndEnd_data() {
    QTest::addColumn<double>("vbat");
    QTest::addColumn<double>("cells");
    QTest::addColumn<double>("vpc");
    QTest::addColumn<bool>("ends");
    QTest::newRow("6 cells at 3.05 V go on") << 3.05 << 6.0 << .508 << false;
    QTest::newRow("6 cells at 2.99 V end") << 2.99 << 6.0 << .498 << true;
    QTest::newRow("exactly 0.5 V goes on") << 3.0 << 6.0 << .5 << false;
    QTest::newRow("no binary rounding loss") << 4.35 << 3.0 << 1.45 << false;
    QTest::newRow("one cell") << 1.21 << 1.0 << 1.21 << false;
    QTest::newRow("flat battery") << 0.0 << 4.0 << 0.0 << true;
}

void TestModeLogic::voltsPerCellAndEnd() {
    QFETCH(double, vbat);
    QFETCH(double, cells);
    QFETCH(double, vpc);
    QFETCH(bool, ends);
    const double got = voltsPerCell(vbat, cells);
    QCOMPARE(got, vpc);
    QCOMPARE(endOfDischarge(got), ends);
}

void TestModeLogic::inputRules_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("mode");     // -1: refused
    QTest::addColumn<double>("cells"); // 0: refused
    QTest::newRow("number") << "1" << 1 << 1.0;
    QTest::newRow("not a number") << "abc" << 0 << 0.0;
    QTest::newRow("empty") << "" << 0 << 0.0;
    QTest::newRow("blanks around") << " 6 " << 6 << 6.0;
    QTest::newRow("largest byte") << "255" << 255 << 255.0;
    QTest::newRow("above a byte") << "256" << -1 << 256.0;
    QTest::newRow("negative") << "-1" << -1 << 0.0;
    QTest::newRow("zero") << "0" << 0 << 0.0;
    QTest::newRow("fraction") << "1.5" << 2 << 1.5;
}

void TestModeLogic::inputRules() {
    QFETCH(QString, text);
    QFETCH(int, mode);
    QFETCH(double, cells);
    const auto m = parseModeText(text);
    QCOMPARE(m ? *m : -1, mode);
    const auto c = parseCellCount(text);
    QCOMPARE(c ? *c : 0.0, cells);
}

void TestModeLogic::logNumbers_data() {
    QTest::addColumn<QList<OptD>>("fields");
    QTest::addColumn<QString>("decimal");
    QTest::addColumn<QString>("line");
    QTest::newRow("integers") << QList<OptD>{61, 0, 1023} << "."
                              << " 61 : 0 : 1023 ";
    QTest::newRow("below one has no leading zero") << QList<OptD>{0.5, 0.25} << "."
                                                   << " .5 : .25 ";
    QTest::newRow("negatives") << QList<OptD>{-3, -0.25} << "."
                               << "-3 :-.25 ";
    QTest::newRow("never computed is empty") << QList<OptD>{61, OptD(), 2} << "."
                                             << " 61 :: 2 ";
    QTest::newRow("all empty") << QList<OptD>{OptD(), OptD()} << "."
                               << ":";
    QTest::newRow("locale separator") << QList<OptD>{1.5, 12.34} << ","
                                      << " 1,5 : 12,34 ";
    QTest::newRow("time of day fraction") << QList<OptD>{43200.0 / 86400} << "."
                                          << " .5 ";
}

void TestModeLogic::logNumbers() {
    QFETCH(QList<OptD>, fields);
    QFETCH(QString, decimal);
    QFETCH(QString, line);
    QCOMPARE(recordLine(std::vector<Field>(fields.begin(), fields.end()), decimal.at(0)), line);
}

void TestModeLogic::fileNames_data() {
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("name");
    const QDateTime dec7(QDate(2026, 12, 7), QTime(9, 5, 59));
    QTest::newRow("charge") << kChargePrefix << dec7 << "St_CH_D12_07_26T09_05.txt";
    QTest::newRow("discharge") << kDischargePrefix << dec7 << "S_DCH_D12_07_26T09_05.txt";
    QTest::newRow("year 2000, late evening")
        << kChargePrefix << QDateTime(QDate(2000, 1, 31), QTime(23, 59))
        << "St_CH_D01_31_00T23_59.txt";
}

void TestModeLogic::fileNames() {
    QFETCH(QString, prefix);
    QFETCH(QDateTime, when);
    QFETCH(QString, name);
    QCOMPARE(logFileName(prefix, when), name);
}

void TestModeLogic::headers() {
    QCOMPARE(headerLine(chargeColumns()),
             QStringLiteral("DUREE:VALIMCAD:VDBLCAD:DVaverage:VALIM:DVFLAG:CDVDT:TEMPER:"
                            "ICHRGCAD:VBATCAD:VDELTACAD:ICHRG:VBAT:VDELTA:CAPACITE:TEMPS"));
    QCOMPARE(headerLine(dischargeColumns()),
             QStringLiteral("DUREE:VALIMCAD:VDBLCAD:TEMPCAD:VALIM:VDBL:TEMPER:IDCHRGCAD:"
                            "VBATCAD:ICHRG:VBAT:CAPACITE:TEMPS"));
}

void TestModeLogic::newLogNames_data() {
    QTest::addColumn<QStringList>("existing"); // "name>": a link to nowhere
    QTest::addColumn<QString>("wanted");
    QTest::addColumn<QString>("written");
    QTest::newRow("free name") << QStringList{} << "St_CH_D12_07_26T09_05.txt"
                               << "St_CH_D12_07_26T09_05.txt";
    QTest::newRow("taken: the next number")
        << QStringList{"St_CH_D12_07_26T09_05.txt"} << "St_CH_D12_07_26T09_05.txt"
        << "St_CH_D12_07_26T09_05_2.txt";
    QTest::newRow("two taken") << QStringList{"x.txt", "x_2.txt"} << "x.txt"
                               << "x_3.txt";
    QTest::newRow("a free number between taken ones") << QStringList{"x.txt", "x_3.txt"} << "x.txt"
                                                      << "x_2.txt";
    QTest::newRow("no extension") << QStringList{"x"} << "x"
                                  << "x_2";
    QTest::newRow("dots before the extension") << QStringList{"a.b.txt"} << "a.b.txt"
                                               << "a.b_2.txt";
#ifndef Q_OS_WIN
    QTest::newRow("a link to nowhere is taken") << QStringList{"x.txt>"} << "x.txt"
                                                << "x_2.txt";
#endif
}

// No log ever replaces a file: it takes the next free name and leaves the others as they are.
void TestModeLogic::newLogNames() {
    QFETCH(QStringList, existing);
    QFETCH(QString, wanted);
    QFETCH(QString, written);
    QTemporaryDir dir;
    for (const QString &e : existing) {
        if (e.endsWith('>')) {
            QVERIFY(
                QFile::link(dir.filePath(QStringLiteral("nowhere/x")), dir.filePath(e.chopped(1))));
            continue;
        }
        QFile f(dir.filePath(e));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep\r\n");
    }
    RunLog log;
    QString why;
    QVERIFY2(log.open(dir.filePath(wanted), QStringLiteral("A:B"), &why), qPrintable(why));
    QCOMPARE(log.path(), dir.filePath(written));
    log.close();
    QFile w(dir.filePath(written));
    QVERIFY(w.open(QIODevice::ReadOnly));
    QCOMPARE(w.readAll(), QByteArray("A:B\r\n\r\n"));
    for (const QString &e : existing) {
        if (e.endsWith('>')) {
            QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("nowhere/x"))));
            continue;
        }
        QFile f(dir.filePath(e));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep\r\n"));
    }
}

void TestModeLogic::logFileIsFlushedPerRecord() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    RunLog log;
    QString why;
    QVERIFY(log.open(path, QStringLiteral("A:B"), &why));
    QVERIFY(log.append(QStringLiteral(" 1 : 2 ")));
    // Another reader sees the record while the file is still open.
    QFile reader(path);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    QCOMPARE(reader.readAll(), QByteArray("A:B\r\n\r\n 1 : 2 \r\n"));
    log.close();
    QVERIFY(!log.append(QStringLiteral("late")));

    RunLog bad;
    QVERIFY(
        !bad.open(dir.filePath(QStringLiteral("no/such/folder/x.txt")), QStringLiteral("A"), &why));
    QVERIFY(!why.isEmpty());
}

// The sidecar keeps what the log lacks; a value with a line break must not split into a
// second key, and a sidecar written by another version (extra or missing keys) still reads.
void TestModeLogic::runInfoRoundTrip() {
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("St_CH_D12_07_26T09_05.txt"));
    QCOMPARE(modes::runInfoPath(log), dir.filePath(QStringLiteral("St_CH_D12_07_26T09_05.run")));
    QVERIFY(!modes::readRunInfo(log));

    modes::RunInfo info;
    info.start = QDateTime(QDate(2026, 12, 7), QTime(9, 5, 12));
    info.version = QStringLiteral("0.1.0");
    info.window = QStringLiteral("Chargeur");
    info.setpoint = QStringLiteral("2.00 A");
    info.cells = 6;
    info.chemistry = QStringLiteral("NiMH");
    info.port = QStringLiteral("/dev/ttyUSB0");
    info.endReason = QStringLiteral("Fin de charge\npack=volé");
    info.pack = QStringLiteral("Pack é=1");
    QVERIFY(modes::writeRunInfo(log, info));
    auto back = modes::readRunInfo(log);
    QVERIFY(back);
    QCOMPARE(back->start, info.start);
    QCOMPARE(back->cells, 6);
    QCOMPARE(back->endReason, QStringLiteral("Fin de charge pack=volé"));
    QCOMPARE(back->pack, info.pack);
    QCOMPARE(back->port, info.port);

    QFile f(modes::runInfoPath(log));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("future=1\nwindow=Dechargeur\ncells=abc\n");
    f.close();
    back = modes::readRunInfo(log);
    QVERIFY(back);
    QCOMPARE(back->window, QStringLiteral("Dechargeur"));
    QCOMPARE(back->cells, 0);
    QVERIFY(back->pack.isEmpty());
}

QTEST_GUILESS_MAIN(TestModeLogic)
#include "tst_modelogic.moc"
