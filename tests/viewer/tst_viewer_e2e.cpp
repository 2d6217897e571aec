// Logs made by whole runs of the charge and discharge windows against the virtual charger
// through the real serial stack, read back by the viewer: each is recognised, its columns
// and summary agree with what the window showed, two charges overlay, one goes to CSV.
#include "link/messages.h"
#include "modes/chargeur.h"
#include "modes/dechargeur.h"
#include "modes/runchart.h"
#include "modes/runlog.h"
#include "viewer/csvexport.h"
#include "viewer/runlogfile.h"
#include "viewer/visionneuse.h"

#include "support/shot.h"
#include "support/simrig.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QString label(QWidget *w, const char *name) {
    return w->findChild<QLabel *>(QLatin1String(name))->text();
}

sim::BatterySpec pack(double stateOfCharge) {
    sim::BatterySpec spec;
    spec.chemistry = sim::Chemistry::NiMH;
    spec.cells = 6;
    spec.capacityAh = 2.0;
    spec.stateOfCharge = stateOfCharge;
    return spec;
}

// A charge of `polls` polls at slider value `current`, each followed by `step` charger
// seconds; the log's path and the capacity the window showed.
struct Charged {
    QString path;
    QString capacity; // Label29
};
Charged charge(int current, int polls, double step) {
    SimRig rig;
    if (!rig.startInProcess(pack(0.3))) return {};
    modes::Chargeur w(rig.host);
    w.findChild<QSlider *>("Slider1")->setValue(current);
    w.findChild<QSlider *>("Slider3")->setValue(95);
    w.findChild<QSlider *>("Slider2")->setValue(64);
    w.start();
    for (int i = 0; i < polls && w.isPolling(); ++i) {
        rig.charger->advance(step);
        w.timerCycle();
    }
    Charged c{w.logPath(), label(&w, "Label29")};
    w.stop();
    return c;
}
} // namespace

class TestViewerEndToEnd : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QDir::setCurrent(m_dir.path());
        modes::keepCurrentFolder();
        chlink::setBoxHook([this](const chlink::BoxRequest &r) {
            m_boxes << r.text;
            return false;
        });
    }
    void chargeLogsCompareAndExport();
    void dischargeLogReads();

  private:
    QTemporaryDir m_dir;
    QStringList m_boxes;
};

void TestViewerEndToEnd::chargeLogsCompareAndExport() {
    const Charged one = charge(100, 40, 10); // 2 A
    const Charged two = charge(50, 30, 10);  // 1 A
    QVERIFY(!one.path.isEmpty() && !two.path.isEmpty());
    QVERIFY(one.path != two.path);

    for (const Charged &c : {one, two}) {
        const viewer::ReadResult r = viewer::readRunLogFile(c.path);
        QVERIFY2(r.log, qPrintable(r.error));
        QCOMPARE(r.log->kind, viewer::LogKind::Charge);
        QCOMPARE(r.log->decimalPoint == modes::localeDecimalPoint() ||
                     r.log->decimalPoint == QLatin1Char('.'),
                 true);
        QVERIFY(!r.log->lastLineCut);
        const viewer::RunSummary s = viewer::summarise(*r.log);
        // The capacity the window showed at the end, and a battery voltage of a 6-cell pack.
        QCOMPARE(QStringLiteral("%1 mAh").arg(*s.capacityMah), c.capacity.trimmed());
        QVERIFY(s.capacityMah > 0);
        QVERIFY(s.peakVoltage && *s.peakVoltage > 6 && *s.peakVoltage < 12);
        QVERIFY(s.maxTemperature);
        QVERIFY(s.duration > 200);
    }

    // The user compares both charges in the viewer and exports the first as CSV.
    viewer::Visionneuse w{winkit::Host{}};
    w.show();
    QVERIFY(w.openFiles({one.path, two.path}));
    const QSize size(1180, 760);
    w.resize(size);
    QCOMPARE(w.chart()->pointCount(0), int(viewer::readRunLogFile(one.path).log->records()));
    QCOMPARE(w.chart()->pointCount(2), int(viewer::readRunLogFile(two.path).log->records()));
    QCOMPARE(w.findChild<QTableWidget *>("TableResume")->rowCount(), 2);
    shot(w, "visionneuse", size);

    QTemporaryDir out;
    const QString csv = out.filePath(QStringLiteral("charge.csv"));
    w.setCsvFormat({QLatin1Char(';'), QLatin1Char(',')});
    QVERIFY(w.exportCsv(0, csv));
    QFile f(csv);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromUtf8(f.readAll().mid(3)).split(QStringLiteral("\r\n"));
    QVERIFY(rows[0].startsWith(QStringLiteral("Temps écoulé (s);DUREE (s);VALIMCAD (brut)")));
    QCOMPARE(rows.size() - 2, w.chart()->pointCount(0)); // header, records, empty after the last
    QVERIFY(m_boxes.isEmpty());
}

void TestViewerEndToEnd::dischargeLogReads() {
    SimRig rig;
    QVERIFY(rig.startInProcess(pack(0.1)));
    modes::Dechargeur w(rig.host);
    w.findChild<QSlider *>("Slider1")->setValue(100);
    w.findChild<QLineEdit *>("Text1")->setText(QStringLiteral("6"));
    w.start();
    int polls = 0;
    QElapsedTimer clock;
    clock.start();
    while (w.isPolling() && polls < 600 && clock.elapsed() < 120000) {
        rig.charger->advance(5);
        w.timerCycle();
        ++polls;
    }
    const QString path = w.logPath();
    const QString shown = label(&w, "Label29").trimmed();
    w.stop();
    const viewer::ReadResult r = viewer::readRunLogFile(path);
    QVERIFY2(r.log, qPrintable(r.error));
    QCOMPARE(r.log->kind, viewer::LogKind::Discharge);
    QCOMPARE(int(r.log->records()), polls);
    const viewer::RunSummary s = viewer::summarise(*r.log);
    QCOMPARE(QStringLiteral("%1 mAh").arg(*s.capacityMah), shown);
    // The last record's battery voltage is the lowest of a discharge.
    const int vbat = r.log->columnIndex(QStringLiteral("VBAT"));
    QVERIFY(*r.log->values[size_t(vbat)].back() < *s.peakVoltage);
}

QTEST_MAIN(TestViewerEndToEnd)
#include "tst_viewer_e2e.moc"
