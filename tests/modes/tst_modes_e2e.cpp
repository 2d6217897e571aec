// Whole runs through the real serial stack on a pseudo-terminal: the charge against the
// virtual charger with a stepped clock (each poll is followed by a few charger seconds of
// charge, the measurement pulse takes none, as on a real charger), the discharge against
// the chargersim program running its clock fast. The charge must end by itself on the
// delta-voltage drop and the discharge at 0.5 V per cell, with every poll in the log.
#include "link/chargerlink.h"
#include "link/exchanges.h"
#include "link/messages.h"
#include "modes/chargeur.h"
#include "modes/dechargeur.h"
#include "modes/runlog.h"
#include "serial/serialport.h"
#include "sim/ptyserver.h"
#include "sim/virtualcharger.h"

#include "support/shot.h"
#include "support/simrig.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTemporaryDir>

#include <QtTest>
#include <memory>

namespace {
constexpr double kSecondsPerPoll = 4;

QString text(QWidget *w, const char *name) {
    return w->findChild<QLabel *>(QLatin1String(name))->text();
}

QStringList logLines(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList l = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"));
    if (!l.isEmpty() && l.last().isEmpty()) l.removeLast();
    return l;
}

double field(const QString &f) {
    QString t = f.trimmed();
    t.replace(modes::localeDecimalPoint(), QLatin1Char('.'));
    return t.toDouble();
}

} // namespace

class TestModesEndToEnd : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QDir::setCurrent(m_dir.path());
        modes::keepCurrentFolder();
        chlink::setBoxHook([](const chlink::BoxRequest &r) {
            qWarning() << "message box:" << r.text;
            return true;
        });
    }
    void nimhChargeEndsByItself();
    void dischargeStopsAtCellLimit();

  private:
    QTemporaryDir m_dir;
};

void TestModesEndToEnd::nimhChargeEndsByItself() {
    SimRig rig;
    sim::BatterySpec spec;
    spec.chemistry = sim::Chemistry::NiMH;
    spec.cells = 6;
    spec.capacityAh = 2.0;
    spec.stateOfCharge = 0.8;
    QVERIFY(rig.startInProcess(spec));
    modes::Chargeur w(rig.host);
    // 2 A, and the delta amplifier set on the pack's voltage.
    w.findChild<QSlider *>("Slider1")->setValue(100);
    w.findChild<QSlider *>("Slider3")->setValue(95);
    w.findChild<QSlider *>("Slider2")->setValue(64);
    QVERIFY(text(&w, "Label21").toInt() > 0);
    QVERIFY(text(&w, "Label21").toInt() < 1023);
    shot(w, "chargeur_pret", QSize(1100, 640));
    w.start();
    QCOMPARE(text(&w, "Label18"), QStringLiteral("CHARGE"));

    QElapsedTimer clock;
    clock.start();
    int polls = 0;
    while (w.isPolling() && clock.elapsed() < 120000) {
        rig.charger->advance(kSecondsPerPoll);
        w.timerCycle();
        ++polls;
    }
    if (qEnvironmentVariableIsSet("PELMORA_E2E_VERBOSE"))
        for (const QString &l : logLines(w.logPath()))
            qInfo().noquote() << l;
    shot(w, "chargeur", QSize(1100, 640));
    QCOMPARE(text(&w, "Label18"), QStringLiteral("Charge Terminée"));
    QVERIFY(!w.pollTimer()->isActive());
    qInfo() << "charge ended after" << polls << "polls," << w.duree() << "charger seconds,"
            << w.counter().capacity() << "mAh";
    QVERIFY(w.counter().capacity() > 100);

    const QStringList log = logLines(w.logPath());
    QCOMPARE(log.at(0), modes::headerLine(modes::chargeColumns()));
    QCOMPARE(log.at(1), QString());
    QCOMPARE(log.size() - 2, polls); // one record per poll
    double lastDuree = -1;
    double peak = 0;
    for (int i = 2; i < log.size(); ++i) {
        const QStringList f = log[i].split(':');
        QCOMPARE(f.size(), 16);
        const double duree = field(f[0]);
        QVERIFY2(duree > lastDuree, qPrintable(log[i]));
        lastDuree = duree;
        QVERIFY(!f[4].isEmpty() && !f[7].isEmpty() && !f[11].isEmpty() && !f[12].isEmpty());
        QVERIFY(qAbs(field(f[15]) - duree / 86400.0) < 1e-7); // TEMPS, in days
        peak = qMax(peak, field(f[10]));
        QCOMPARE(field(f[13]), peak); // VDELTA: the running peak of VDELTACAD
    }
    // The last record is the one that ended the charge: ten counts or more below the peak.
    QVERIFY(field(log.last().split(':')[10]) <= peak - 10);
    w.stop();
    QVERIFY(!w.logOpen());
}

void TestModesEndToEnd::dischargeStopsAtCellLimit() {
    SimRig rig;
    sim::BatterySpec spec;
    spec.chemistry = sim::Chemistry::NiMH;
    spec.cells = 6;
    spec.capacityAh = 0.5;
    spec.stateOfCharge = 0.15;
    QVERIFY(rig.startInProcess(spec));
    modes::Dechargeur w(rig.host);
    w.findChild<QSlider *>("Slider1")->setValue(100); // 2 A
    w.findChild<QLineEdit *>("Text1")->setText("6");
    w.start();
    QCOMPARE(text(&w, "Label18"), QStringLiteral("DECHARGE"));
    QElapsedTimer clock;
    clock.start();
    int polls = 0;
    while (w.isPolling() && clock.elapsed() < 120000) {
        rig.charger->advance(1); // the window polls once a second
        w.timerCycle();
        ++polls;
    }
    shot(w, "dechargeur", QSize(1100, 640));
    QCOMPARE(text(&w, "Label18"), QStringLiteral("Limite Dech."));
    qInfo() << "discharge ended after" << polls << "polls," << w.duree() << "charger seconds,"
            << w.counter().capacity() << "mAh, last" << text(&w, "Label26");
    // A 4C discharge through the knee: the poll that ends it reads within 0.05 V of the limit.
    QVERIFY(w.voltsPerCell() && *w.voltsPerCell() < 0.5 && *w.voltsPerCell() >= 0.45);

    const QStringList log = logLines(w.logPath());
    QCOMPARE(log.at(0), modes::headerLine(modes::dischargeColumns()));
    QCOMPARE(log.at(1), QString());
    QCOMPARE(log.size() - 2, polls);
    double lastCapacity = -1;
    for (int i = 2; i < log.size(); ++i) {
        const QStringList f = log[i].split(':');
        QCOMPARE(f.size(), 13);
        QVERIFY(field(f[11]) >= lastCapacity); // CAPACITE only grows
        lastCapacity = field(f[11]);
    }
    QVERIFY(field(log.last().split(':')[10]) / 6 < 0.5);
    w.stop();
}

QTEST_MAIN(TestModesEndToEnd)
#include "tst_modes_e2e.moc"
