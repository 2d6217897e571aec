// Reading the run logs as the run windows write them (each kind, either decimal separator,
// the capacity log's phases, a line cut by a crash), refusing anything else, summing a run
// up, CSV export, and a pack's history from the sidecars.
#include "link/numtext.h"
#include "modes/capalogic.h"
#include "modes/monilogic.h"
#include "modes/runinfo.h"
#include "modes/runlog.h"
#include "viewer/csvexport.h"
#include "viewer/packhistory.h"
#include "viewer/runlogfile.h"

#include <QTemporaryDir>
#include <QtTest>

using viewer::LogKind;
Q_DECLARE_METATYPE(viewer::LogKind)

namespace {

QByteArray lines(const QStringList &l) {
    QByteArray b;
    for (const QString &s : l)
        b += s.toUtf8() + "\r\n";
    return b;
}

// A charge log as the charge window writes it: DUREE, ..., VBAT, VDELTA, CAPACITE, TEMPS.
QByteArray chargeLog(QChar point, int records, double amps = 1.5) {
    QStringList l{modes::headerLine(modes::chargeColumns()), QString()};
    for (int i = 1; i <= records; ++i) {
        const double vbat = 7.2 + 0.01 * i;
        const double cap = std::floor(i * 1000 * amps / 3600);
        l << modes::recordLine({double(i), 700, 800, 10, 13.8, 0, 10,
                                i < 3 ? modes::Field() : 24.5 + i, 300, 600, 500, amps, vbat, 510,
                                cap, i / 86400.0},
                               point);
    }
    return lines(l);
}

QByteArray capacityLog(QChar point, bool ended) {
    QStringList l{modes::headerLine(modes::capa::logColumns()), QString()};
    // Discharge: 3 steps, resistance measured at the first (42) then carried.
    for (int i = 1; i <= 3; ++i)
        l << modes::recordLine({2.0 * i, 30, 0, 1.0, 0, 2.0 * i, 7.0 - 0.1 * i, 1.16 - 0.01 * i,
                                600, i == 1 ? 42 : 44, 2.0 * i / 86400},
                               point);
    l << modes::capa::starLine();
    for (int i = 1; i <= 2; ++i)
        l << modes::recordLine(
            {2.0 * i, 35, 1.5, 0, 3.0 * i, 0, 7.5, 1.25, 700, 44, 2.0 * i / 86400}, point);
    if (ended) l << modes::capa::equalsLine();
    return lines(l);
}

QByteArray monitorLog(int firstTemps) {
    QStringList l{modes::moni::logHeader()};
    for (int i = 0; i < 3; ++i) {
        modes::moni::Record r;
        r.prompt = 'C';
        r.echantillon = i;
        r.temps = (firstTemps + 30 * i) % 86400;
        r.vbat = 700 + i;
        r.cour = 200;
        r.temper = 400 - i;
        r.capacite = -5 + i;
        l << modes::moni::logLine(r);
    }
    return lines(l);
}

} // namespace

class TestViewerLogic : public QObject {
    Q_OBJECT
  private slots:
    void recognisesEachKind_data();
    void recognisesEachKind();
    void refusesForeignFiles_data();
    void refusesForeignFiles();
    void capacityPhasesFollowOneAnother();
    void timeNeverGoesBack();
    void monitorTimeFromItsFirstRecord();
    void cutLastLineIsLeftOut();
    void summaries_data();
    void summaries();
    void sidecarEndReasonWins();
    void csvRoundTrips_data();
    void csvRoundTrips();
    void csvNeverReplacesUnasked();
    void csvNumbers_data();
    void csvNumbers();
    void packHistoryOldestFirst();
    void startFromName_data();
    void startFromName();
};

void TestViewerLogic::recognisesEachKind_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<LogKind>("kind");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("records");
    QTest::addColumn<QString>("column");
    QTest::addColumn<int>("record");
    QTest::addColumn<double>("value");
    QTest::addColumn<QChar>("point");
    QTest::newRow("charge, point") << chargeLog(QLatin1Char('.'), 5) << LogKind::Charge << 16 << 5
                                   << "VBAT" << 4 << 7.25 << QChar(QLatin1Char('.'));
    QTest::newRow("charge, comma") << chargeLog(QLatin1Char(','), 5) << LogKind::Charge << 16 << 5
                                   << "ICHRG" << 0 << 1.5 << QChar(QLatin1Char(','));
    QTest::newRow("charge, empty field")
        << chargeLog(QLatin1Char(','), 5) << LogKind::Charge << 16 << 5 << "TEMPER" << 1 << qQNaN()
        << QChar(QLatin1Char(','));
    QTest::newRow("charge, small TEMPS")
        << chargeLog(QLatin1Char('.'), 5) << LogKind::Charge << 16 << 5 << "TEMPS" << 0
        << 1 / 86400.0 << QChar(QLatin1Char('.'));
    QStringList d{modes::headerLine(modes::dischargeColumns()), QString()};
    d << modes::recordLine({1, 700, 800, 400, 13.8, 27.6, 25, 300, 600, 1.2, 6.9, 0, 1 / 86400.0},
                           QLatin1Char(','));
    QTest::newRow("discharge") << lines(d) << LogKind::Discharge << 13 << 1 << "VBAT" << 0 << 6.9
                               << QChar(QLatin1Char(','));
    QTest::newRow("capacity") << capacityLog(QLatin1Char(','), true) << LogKind::Capacity << 11 << 5
                              << "VUNIT" << 2 << 1.13 << QChar(QLatin1Char(','));
    QTest::newRow("monitor") << monitorLog(3600) << LogKind::Monitor << 16 << 3 << "Capacité" << 0
                             << -5.0 << QChar(QLatin1Char('.'));
    // An older or hand-made log: no empty line after the header, LF line ends, a trailing
    // separator after the last name, exponent form.
    QByteArray older = modes::headerLine(modes::dischargeColumns()).toUtf8() +
                       ":\n 1 : 2 : 3 : 4 :: 5 : 6 : 7 : 8 : 9 : 10 : 11 : 1.15740740740741E-05 \n";
    QTest::newRow("older variant") << older << LogKind::Discharge << 13 << 1 << "TEMPS" << 0
                                   << 1.15740740740741e-05 << QChar(QLatin1Char('.'));
}

void TestViewerLogic::recognisesEachKind() {
    QFETCH(QByteArray, content);
    QFETCH(LogKind, kind);
    QFETCH(int, columns);
    QFETCH(int, records);
    QFETCH(QString, column);
    QFETCH(int, record);
    QFETCH(double, value);
    QFETCH(QChar, point);
    const viewer::ReadResult r = viewer::parseRunLog(content, QStringLiteral("x.txt"));
    QVERIFY2(r.log, qPrintable(r.error));
    QCOMPARE(r.log->kind, kind);
    QCOMPARE(int(r.log->columns.size()), columns);
    QCOMPARE(int(r.log->records()), records);
    QCOMPARE(r.log->decimalPoint, point);
    const int c = r.log->columnIndex(column);
    QVERIFY(c >= 0);
    const auto &v = r.log->values[size_t(c)][size_t(record)];
    if (qIsNaN(value))
        QVERIFY(!v);
    else {
        QVERIFY(v);
        QCOMPARE(*v, value);
    }
}

void TestViewerLogic::refusesForeignFiles_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("says");
    QTest::newRow("empty") << QByteArray() << "vide";
    QTest::newRow("other text") << QByteArray("hello world\r\n1 2 3\r\n") << "en-tête";
    QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0", 10) << "en-tête";
    QTest::newRow("columns reordered")
        << lines({QStringLiteral("VALIMCAD:DUREE:VDBLCAD:TEMPCAD:VALIM:VDBL:TEMPER:IDCHRGCAD:"
                                 "VBATCAD:ICHRG:VBAT:CAPACITE:TEMPS")})
        << "en-tête";
    QTest::newRow("a field too many")
        << lines({modes::headerLine(modes::dischargeColumns()), QString(),
                  QStringLiteral(" 1 : 2 : 3 : 4 : 5 : 6 : 7 : 8 : 9 : 10 : 11 : 12 : 13 : 14 ")})
        << "ligne 3";
    QTest::newRow("a word for a number")
        << lines({modes::headerLine(modes::dischargeColumns()), QString(),
                  QStringLiteral(" 1 : 2 : 3 : 4 : 5 : 6 : abc : 8 : 9 : 10 : 11 : 12 : 13 ")})
        << "abc";
}

void TestViewerLogic::refusesForeignFiles() {
    QFETCH(QByteArray, content);
    QFETCH(QString, says);
    const viewer::ReadResult r = viewer::parseRunLog(content, QStringLiteral("x.txt"));
    QVERIFY(!r.log);
    QVERIFY2(r.error.contains(says), qPrintable(r.error));
    QVERIFY(r.error.contains(QStringLiteral("x.txt")));
}

void TestViewerLogic::capacityPhasesFollowOneAnother() {
    const auto r = viewer::parseRunLog(capacityLog(QLatin1Char('.'), true), QStringLiteral("c"));
    QVERIFY(r.log);
    // The discharge's 2, 4, 6 s, then the recharge counted from 0 again goes on after it.
    const std::vector<double> expected{2, 4, 6, 8, 10};
    QCOMPARE(r.log->elapsed, expected);
    QVERIFY(r.log->processEnded);
}

void TestViewerLogic::timeNeverGoesBack() {
    // A time that starts again is taken as counting from 0 after the last point; whatever
    // would fall before that point stays at it.
    QStringList l{modes::headerLine(modes::dischargeColumns()), QString()};
    for (double duree : {10.0, 20.0, -5.0, -3.0, 4.0})
        l << modes::recordLine({duree, 1, 1, 1, 1, 1, 1, 1, 1, 1, 6, 0, duree / 86400},
                               QLatin1Char('.'));
    const auto r = viewer::parseRunLog(lines(l), QStringLiteral("d"));
    QVERIFY(r.log);
    const std::vector<double> expected{10, 20, 20, 20, 24};
    QCOMPARE(r.log->elapsed, expected);
}

void TestViewerLogic::monitorTimeFromItsFirstRecord() {
    // The charger's clock passes midnight between the second and the third record.
    const auto r = viewer::parseRunLog(monitorLog(86400 - 40), QStringLiteral("m"));
    QVERIFY(r.log);
    QCOMPARE(r.log->elapsed[0], 0.0);
    QCOMPARE(r.log->elapsed[1], 30.0);
    QVERIFY(r.log->elapsed[2] >= 30.0);
    QCOMPARE(r.log->prompts, QStringList({"C", "C", "C"}));
}

void TestViewerLogic::cutLastLineIsLeftOut() {
    QByteArray content = chargeLog(QLatin1Char('.'), 3);
    content += " 4 : 700 : 8"; // the program stopped while writing this line
    const auto r = viewer::parseRunLog(content, QStringLiteral("x"));
    QVERIFY2(r.log, qPrintable(r.error));
    QCOMPARE(int(r.log->records()), 3);
    QVERIFY(r.log->lastLineCut);
}

void TestViewerLogic::summaries_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<double>("duration");
    QTest::addColumn<double>("capacity");
    QTest::addColumn<double>("peak");
    QTest::addColumn<double>("temperature");
    QTest::addColumn<double>("resistance");
    QTest::addColumn<QString>("end");
    // 1.5 A for 100 s: floor(100 x 1500 / 3600) = 41 mAh; VBAT 7.2 + 0.01 x 100.
    QTest::newRow("charge") << chargeLog(QLatin1Char(','), 100) << 100.0 << 41.0 << 8.2 << 124.5
                            << qQNaN() << QString();
    // 6 A·s discharged: floor(6000 / 3600) = 1 mAh; resistance: median of 42, 44, 44, 44, 44.
    QTest::newRow("capacity, ended") << capacityLog(QLatin1Char('.'), true) << 10.0 << 1.0 << 7.5
                                     << 35.0 << 44.0 << QStringLiteral("Fin du Processus");
    QTest::newRow("capacity, stopped")
        << capacityLog(QLatin1Char('.'), false) << 10.0 << 1.0 << 7.5 << 35.0 << 44.0 << QString();
    QTest::newRow("monitor, raw") << monitorLog(100) << 60.0 << qQNaN() << 702.0 << 400.0 << qQNaN()
                                  << QString();
}

void TestViewerLogic::summaries() {
    QFETCH(QByteArray, content);
    QFETCH(double, duration);
    QFETCH(double, capacity);
    QFETCH(double, peak);
    QFETCH(double, temperature);
    QFETCH(double, resistance);
    QFETCH(QString, end);
    const auto r = viewer::parseRunLog(content, QStringLiteral("x"));
    QVERIFY2(r.log, qPrintable(r.error));
    const viewer::RunSummary s = viewer::summarise(*r.log);
    const auto same = [](const std::optional<double> &v, double want) {
        return qIsNaN(want) ? !v.has_value() : v && qFuzzyCompare(*v, want);
    };
    QCOMPARE(s.duration, duration);
    QVERIFY(same(s.capacityMah, capacity));
    QVERIFY(same(s.peakVoltage, peak));
    QVERIFY(same(s.maxTemperature, temperature));
    QVERIFY(same(s.resistance, resistance));
    QCOMPARE(s.endReason, end);
}

void TestViewerLogic::sidecarEndReasonWins() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("St_CH_D12_09_26T10_00.txt"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(chargeLog(QLatin1Char('.'), 4));
    f.close();
    modes::RunInfo info;
    info.endReason = QStringLiteral("Charge Terminée");
    info.window = QStringLiteral("Chargeur");
    QVERIFY(modes::writeRunInfo(path, info));
    const auto r = viewer::readRunLogFile(path);
    QVERIFY(r.log && r.log->info);
    QCOMPARE(r.log->info->window, QStringLiteral("Chargeur"));
    QCOMPARE(viewer::summarise(*r.log).endReason, QStringLiteral("Charge Terminée"));
}

void TestViewerLogic::csvRoundTrips_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QChar>("separator");
    QTest::addColumn<QChar>("point");
    QTest::newRow("charge ; ,") << chargeLog(QLatin1Char(','), 20) << QChar(';') << QChar(',');
    QTest::newRow("charge , .") << chargeLog(QLatin1Char(','), 20) << QChar(',') << QChar('.');
    QTest::newRow("capacity tab ,")
        << capacityLog(QLatin1Char('.'), true) << QChar('\t') << QChar(',');
    QTest::newRow("monitor ; .") << monitorLog(5) << QChar(';') << QChar('.');
}

void TestViewerLogic::csvRoundTrips() {
    QFETCH(QByteArray, content);
    QFETCH(QChar, separator);
    QFETCH(QChar, point);
    const auto r = viewer::parseRunLog(content, QStringLiteral("x"));
    QVERIFY(r.log);
    const viewer::RunLog &log = *r.log;
    const QByteArray csv = viewer::csvText(log, {separator, point});
    QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
    QStringList rows = QString::fromUtf8(csv.mid(3)).split(QStringLiteral("\r\n"));
    QCOMPARE(rows.takeLast(), QString());
    QCOMPARE(rows.size(), int(log.records()) + 1);
    const QStringList titles = rows.takeFirst().split(separator);
    QCOMPARE(titles.first(), QStringLiteral("Temps écoulé (s)"));
    // Every numeric column comes back, under its title with the unit, with the same numbers.
    for (size_t c = 0; c < log.columns.size(); ++c) {
        if (!log.columns[c].numeric) continue;
        const int at = int(titles.indexOf(log.columns[c].title()));
        QVERIFY2(at > 0, qPrintable(log.columns[c].title()));
        for (size_t i = 0; i < log.records(); ++i) {
            QString field = rows[qsizetype(i)].split(separator)[at];
            const auto &want = log.values[c][i];
            if (!want) {
                QVERIFY(field.isEmpty());
                continue;
            }
            field.replace(point, QLatin1Char('.'));
            bool ok = false;
            const double got = field.toDouble(&ok);
            QVERIFY2(ok, qPrintable(field));
            QVERIFY2(qAbs(got - *want) <= 1e-12 * qMax(1.0, qAbs(*want)),
                     qPrintable(QStringLiteral("%1 vs %2").arg(got).arg(*want)));
        }
    }
    for (size_t i = 0; i < log.records(); ++i) {
        QString t = rows[qsizetype(i)].split(separator).first();
        QCOMPARE(t.replace(point, QLatin1Char('.')).toDouble(), log.elapsed[i]);
    }
}

void TestViewerLogic::csvNeverReplacesUnasked() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.csv"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("the user's own data");
    f.close();
    const auto r = viewer::parseRunLog(chargeLog(QLatin1Char('.'), 2), QStringLiteral("x"));
    QString error;
    QVERIFY(!viewer::writeCsv(path, *r.log, {';', ','}, false, &error));
    QVERIFY(error.contains(QStringLiteral("existe déjà")));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("the user's own data"));
    f.close();
    // A separator that is the decimal point would make the numbers unreadable.
    QVERIFY(!viewer::writeCsv(dir.filePath(QStringLiteral("b.csv")), *r.log, {',', ','}, false,
                              &error));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("b.csv"))));
    QVERIFY(viewer::writeCsv(path, *r.log, {';', ','}, true, &error));
}

void TestViewerLogic::csvNumbers_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("integer") << 61.0 << "61";
    QTest::newRow("fraction") << 7.25 << "7,25";
    QTest::newRow("below one") << 0.56 << "0,56";
    QTest::newRow("negative") << -3.5 << "-3,5";
    QTest::newRow("tiny, no exponent") << 1.0 / 86400 << "0,0000115740740740741";
    QTest::newRow("zero") << 0.0 << "0";
}

void TestViewerLogic::csvNumbers() {
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(viewer::csvNumber(value, QLatin1Char(',')), text);
}

void TestViewerLogic::packHistoryOldestFirst() {
    QTemporaryDir dir;
    const auto write = [&dir](const QString &name, const QByteArray &content, const QString &pack,
                              const QDateTime &start) {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) return false;
        f.write(content);
        f.close();
        modes::RunInfo info;
        info.start = start;
        info.pack = pack;
        return modes::writeRunInfo(path, info);
    };
    const QDateTime t0(QDate(2026, 12, 1), QTime(9, 0));
    QVERIFY(write("Capa_Bat_D12_05_26T09_00.txt", capacityLog('.', true), "Pack A", t0.addDays(4)));
    QVERIFY(write("St_CH_D12_01_26T09_00.txt", chargeLog('.', 50), " pack a ", t0));
    QVERIFY(write("St_CH_D12_02_26T09_00.txt", chargeLog('.', 50), "Pack B", t0.addDays(1)));
    // A log whose sidecar names no pack, and a foreign file with a sidecar: left out.
    QVERIFY(write("S_DCH_D12_03_26T09_00.txt", chargeLog('.', 5), QString(), t0.addDays(2)));
    QVERIFY(write("notes.txt", "shopping list\r\n", "Pack A", t0.addDays(3)));

    QCOMPARE(viewer::packNames({dir.path()}), QStringList({"Pack A", "Pack B"}));
    const auto runs = viewer::packHistory({dir.path(), dir.path()}, QStringLiteral("PACK A"));
    QCOMPARE(int(runs.size()), 2);
    QCOMPARE(runs[0].kind, LogKind::Charge);
    QCOMPARE(runs[0].start, t0);
    QCOMPARE(runs[1].kind, LogKind::Capacity);
    QVERIFY(runs[1].capacityMah && *runs[1].capacityMah == 1);
    QVERIFY(runs[1].resistance && *runs[1].resistance == 44);
    QVERIFY(!runs[0].resistance);

    // Naming keeps what the sidecar held, and gives a sidecar to a log without one.
    const QString log = dir.filePath(QStringLiteral("St_CH_D12_02_26T09_00.txt"));
    QVERIFY(viewer::setPack(log, QStringLiteral("Pack A"), nullptr));
    QCOMPARE(modes::readRunInfo(log)->start, t0.addDays(1));
    QCOMPARE(int(viewer::packHistory({dir.path()}, QStringLiteral("Pack A")).size()), 3);
}

void TestViewerLogic::startFromName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QDateTime>("start");
    const QDateTime t(QDate(2026, 12, 7), QTime(9, 5));
    QTest::newRow("charge") << "/logs/St_CH_D12_07_26T09_05.txt" << t;
    QTest::newRow("second of the minute") << "S_DCH_D12_07_26T09_05_2.txt" << t;
    QTest::newRow("monitor") << "MOni_CHrg_D12_07_26T09_05.txt" << t;
    QTest::newRow("month 13") << "St_CH_D13_07_26T09_05.txt" << QDateTime();
    QTest::newRow("other name") << "charge.txt" << QDateTime();
}

void TestViewerLogic::startFromName() {
    QFETCH(QString, name);
    QFETCH(QDateTime, start);
    QCOMPARE(viewer::startFromName(name), start);
}

QTEST_GUILESS_MAIN(TestViewerLogic)
#include "tst_viewerlogic.moc"
