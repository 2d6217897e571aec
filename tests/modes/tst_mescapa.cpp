// The capacity window against a scripted charger and the in-process virtual charger: the
// refused starts, the whole process and its log, Arret and leaving in each phase, the
// overheat hold, the sliders during the process.
#include "bench.h"
#include "modes/capalogic.h"
#include "modes/mescapa.h"
#include "modes/runchart.h"
#include "modes/runinfo.h"
#include "serial/serialport.h"
#include "sim/ptyserver.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QtTest>

using modes::MesCapa;

namespace {
QString text(QWidget *w, const char *name) {
    return w->findChild<QLabel *>(QLatin1String(name))->text();
}
const QStringList kStopBytes = {"17,0", "16,0", "15,0", "18,1", "24,10"};

// Counts of a 6-cell pack at 7.2 V and 25 degrees (Bench's calibration: count / 100 volts,
// 600 - count degrees).
void setPack(ScriptedCharger &c) {
    c.counts[chlink::CMD_READ_VBAT] = {720};
    c.counts[chlink::CMD_READ_VDELTA] = {800};
    c.counts[chlink::CMD_READ_TEMP] = {575};
    c.counts[chlink::CMD_READ_ICHRG] = {100};
    c.counts[chlink::CMD_READ_IDECH] = {50};
}

// Moves the scripted charger through the process: the charge ends (its delta count drops)
// and the discharge ends (the pack falls below 0.9 V a cell) after a few steps of each.
struct Driver {
    MesCapa &w;
    ScriptedCharger &c;
    int stepsInState = 0;
    int total = 0;
    QString lastState;
    int chargeSteps = 3, dischargeSteps = 20;
    std::function<void(const QString &state, int n)> extra;

    void step() {
        // A resistance measurement is a step of the discharge.
        QString state = text(&w, "LbEtat");
        if (state == "Mesure Resistance") state = "Decharge";
        if (state.startsWith("Pause")) state = "Pause";
        stepsInState = state == lastState ? stepsInState + 1 : 0;
        lastState = state;
        if (state.startsWith("Pause") || state.startsWith("Reglage")) {
            c.counts[chlink::CMD_READ_VDELTA] = {800};
            c.counts[chlink::CMD_READ_VBAT] = {720};
        } else if (state == "Charge" && stepsInState >= chargeSteps) {
            c.counts[chlink::CMD_READ_VDELTA] = {790};
        } else if (state == "Decharge" && stepsInState >= dischargeSteps) {
            c.counts[chlink::CMD_READ_VBAT] = {541};
        }
        if (extra) extra(state, stepsInState);
    }
    void install() {
        w.setStepPacer([this](int) {
            if (++total > 5000) w.stop(); // a process that does not end fails its test
            step();
            QTimer::singleShot(0, &w, [this] { w.tick(); });
        });
    }
};

void prepare(MesCapa &w, const QString &cells = "6", const QString &cycles = "1") {
    w.findChild<QLineEdit *>("TxNbElem")->setText(cells);
    w.findChild<QLineEdit *>("TxNbrCycles")->setText(cycles);
    w.findChild<QSlider *>("SlIChrg")->setValue(100);
    w.findChild<QSlider *>("SlIDech")->setValue(50);
}

// Logs go under the temporary folder, not the user's data folder.
struct CapaBench : Bench {
    CapaBench() { qputenv("XDG_DATA_HOME", dir.path().toUtf8()); }
};
} // namespace

class TestMesCapa : public QObject {
    Q_OBJECT
  private slots:
    void refusedStart_data();
    void refusedStart();
    void wholeProcess();
    void stopInEachPhase_data();
    void stopInEachPhase();
    void leavingDuringProcess_data();
    void leavingDuringProcess();
    void overheatHold();
    void timeoutDuringProcess();
    void sliderDuringProcess();
    void endToEndOnVirtualCharger();
    void stopThroughPseudoTerminal();
};

void TestMesCapa::refusedStart_data() {
    QTest::addColumn<QString>("cells");
    QTest::addColumn<QString>("cycles");
    QTest::addColumn<bool>("vbatCalibrated");
    QTest::addColumn<bool>("currents");
    QTest::addColumn<QString>("said");
    QTest::newRow("no cell count") << ""
                                   << "1" << true << true << "Nombre d'éléments";
    QTest::newRow("zero cells") << "0"
                                << "1" << true << true << "Nombre d'éléments";
    QTest::newRow("cycles not whole") << "6"
                                      << "1.5" << true << true << "Nombre de Cycles";
    QTest::newRow("battery voltage not calibrated") << "6"
                                                    << "1" << false << true << "V Batterie";
    QTest::newRow("no current set") << "6"
                                    << "1" << true << false << "courant";
}

void TestMesCapa::refusedStart() {
    QFETCH(QString, cells);
    QFETCH(QString, cycles);
    QFETCH(bool, vbatCalibrated);
    QFETCH(bool, currents);
    QFETCH(QString, said);
    CapaBench b;
    if (!vbatCalibrated) Bench::setWord(b.link->tableB, 6, 0);
    MesCapa w(b.host);
    prepare(w, cells, cycles);
    if (!currents) w.findChild<QSlider *>("SlIDech")->setValue(0);
    b.fake->take();
    w.start();
    QCOMPARE(b.boxes.size(), 1);
    QVERIFY2(b.boxes[0].contains(said), qPrintable(b.boxes[0]));
    QVERIFY(b.fake->take().isEmpty());
    QVERIFY(!w.isRunning());
    QCOMPARE(text(&w, "LbEtat"), QStringLiteral("Prêt"));
}

// One cycle on the scripted charger: the commands of each phase, the totals, and the log of
// the last cycle (its discharge, the star line, its recharge, the equals line).
void TestMesCapa::wholeProcess() {
    CapaBench b;
    setPack(*b.fake);
    MesCapa w(b.host);
    prepare(w, "6", "0"); // 0 cycles count as 1
    Driver d{w, *b.fake, 0, 0, {}, 3, 20, {}};
    QStringList states;
    d.extra = [&](const QString &, int) {
        const QString raw = text(&w, "LbEtat");
        if (states.isEmpty() || states.last() != raw) states << raw;
    };
    d.install();
    b.fake->take();
    w.start();

    QCOMPARE(text(&w, "LbEtat"), QStringLiteral("Fin du Processus"));
    QVERIFY(!w.isRunning());
    QVERIFY(w.findChild<QPushButton *>("CBstart")->isEnabled());
    QVERIFY(!w.keepAwake().wanted());
    QVERIFY(!w.logOpen());
    QVERIFY(b.fake->outputsStopped());
    const QStringList sent = b.fake->take();
    QCOMPARE(sent.last(), QStringLiteral("24,10"));
    QCOMPARE(sent.count("42,0,0,0"), 3); // charge, discharge, recharge
    // The soft start raises the setting 1..30, then the delta is adjusted from gain 0 with
    // the offset at 255: 800 is above 700 at once, so the gain ends at 10.
    QCOMPARE(sent.count("19,30"), 1);
    QVERIFY(sent.indexOf("19,1") < sent.indexOf("19,30"));
    QCOMPARE(sent.count("21,0"), 2);
    QCOMPARE(sent.count("22,255"), 2);
    QCOMPARE(sent.count("21,10"), 2);
    QCOMPARE(w.gain(), 10);
    // The first discharge step measures the resistance at 41 then 1, then every 15th.
    QCOMPARE(sent.count("20,41"), 2); // steps 1 and 16 of 21
    QVERIFY(sent.count("20,50") >= 2);
    QVERIFY(states.contains("Preparation Ch/Decharge"));
    QVERIFY(states.contains("Pause ...  120"));
    QVERIFY(states.contains("Pause ...  1"));
    QVERIFY(!states.contains("Pause ...  0"));

    const QStringList log = Bench::lines(w.logPath());
    QVERIFY(QFileInfo(w.logPath()).fileName().startsWith("Capa_Bat_D"));
    QVERIFY(
        w.findChild<QLabel *>("LbJournal")->text().contains(QDir::toNativeSeparators(w.logPath())));
    QCOMPARE(log.value(0), modes::headerLine(modes::capa::logColumns()));
    QCOMPARE(log.value(1), QString());
    const int star = int(log.indexOf(modes::capa::starLine()));
    QCOMPARE(star, 2 + d.dischargeSteps + 1); // the steps before the drop, and the one that saw it
    QCOMPARE(log.last(), modes::capa::equalsLine());
    QCOMPARE(log.size(), star + 1 + d.chargeSteps + 1 + 1);
    // Beside the log, what it does not say: when, which window, the settings, the cells, and
    // why the process ended.
    const auto info = modes::readRunInfo(w.logPath());
    QVERIFY(info);
    QCOMPARE(info->window, QStringLiteral("MesCapa"));
    QVERIFY(info->start.isValid());
    QVERIFY(info->setpoint.startsWith(QStringLiteral("charge ")));
    QVERIFY(info->cells > 0);
    QVERIFY(!info->version.isEmpty());
    QCOMPARE(info->endReason, QStringLiteral("Fin du Processus"));
    // The first discharge record: 2 s, 25 degrees, 0.5 A out for one display step, VBAT 7.2,
    // VUNIT 1.2, the delta count, the resistance of a pack whose voltage does not move.
    const QChar p = modes::localeDecimalPoint();
    QCOMPARE(log[2], modes::recordLine(
                         {2.0, 25.0, 1.0, 0.5, 0.0, 1.0, 7.2, 1.2, 800.0, 0.0, 2.0 / 86400}, p));
    // The last recharge record saw the drop.
    QVERIFY(log[log.size() - 2].contains(QStringLiteral(": 790 :")));
    QCOMPARE(w.chart()->pointCount(0) > 0, true);
}

void TestMesCapa::stopInEachPhase_data() {
    QTest::addColumn<QString>("state");   // the state the process is in
    QTest::addColumn<QString>("command"); // Arret comes while this command's reply is awaited
    QTest::addColumn<bool>("logged");     // the log of the last cycle was open
    QTest::newRow("preparation") << "Preparation Ch/Decharge"
                                 << "41" << false;
    QTest::newRow("delta adjustment") << "Reglage Delta"
                                      << "12" << false;
    QTest::newRow("charge") << "Charge"
                            << "13" << false;
    QTest::newRow("pause") << "Pause ...  60"
                           << "41" << false;
    QTest::newRow("discharge") << "Decharge"
                               << "11" << true;
    QTest::newRow("resistance measurement") << "Mesure Resistance"
                                            << "20,1" << true;
    QTest::newRow("step wait") << "Decharge"
                               << "" << true;
}

// Arret ends the process wherever it is: Arret's bytes and the beep go out once after the
// reply in progress, nothing else follows, the log keeps what it had and is closed, and the
// process can start again.
void TestMesCapa::stopInEachPhase() {
    QFETCH(QString, state);
    QFETCH(QString, command);
    QFETCH(bool, logged);
    CapaBench b;
    setPack(*b.fake);
    MesCapa w(b.host);
    prepare(w);
    Driver d{w, *b.fake, 0, 0, {}, 3, 20, {}};
    bool stopped = false;
    if (command.isEmpty()) {
        // In the step's wait itself, with the step timer running.
        d.extra = [&](const QString &s, int n) {
            if (!stopped && s == state && n == 2) {
                stopped = true;
                w.stop();
            }
        };
    } else {
        b.fake->onCommand = [&](const QString &cmd) {
            if (!stopped && cmd == command && text(&w, "LbEtat") == state) {
                stopped = true;
                QTimer::singleShot(0, &w, [&] { w.stop(); });
            }
        };
    }
    d.install();
    w.start();
    QVERIFY(stopped);
    QTRY_COMPARE(text(&w, "LbEtat"), QStringLiteral("Arret"));
    QTest::qWait(20);
    const QStringList sent = b.fake->take();
    QCOMPARE(sent.mid(sent.size() - kStopBytes.size()), kStopBytes);
    QCOMPARE(sent.count("24,10"), 1);
    QVERIFY(b.fake->outputsStopped());
    QVERIFY(!w.isRunning());
    QVERIFY(!w.logOpen());
    QVERIFY(!w.keepAwake().wanted());
    QVERIFY(w.findChild<QPushButton *>("CBstart")->isEnabled());
    QCOMPARE(b.link->pending(), qint64(0));
    if (logged) {
        const QStringList log = Bench::lines(w.logPath());
        QVERIFY(log.size() >= 2);
        QCOMPARE(log[0], modes::headerLine(modes::capa::logColumns()));
        QVERIFY(!log.contains(modes::capa::equalsLine()));
        QCOMPARE(modes::readRunInfo(w.logPath())->endReason, QStringLiteral("Arret"));
    } else {
        QVERIFY(w.logPath().isEmpty());
    }
    // The process starts again from the beginning.
    b.fake->onCommand = [&](const QString &cmd) {
        if (cmd == "19,5") QTimer::singleShot(0, &w, [&] { w.stop(); });
    };
    d.extra = nullptr;
    w.start();
    QTRY_COMPARE(text(&w, "LbEtat"), QStringLiteral("Arret"));
    QVERIFY(b.fake->take().contains("19,1"));
}

void TestMesCapa::leavingDuringProcess_data() {
    QTest::addColumn<bool>("viaRetour");
    QTest::addColumn<QString>("state");
    QTest::newRow("RETOUR in the preparation") << true << "Preparation Ch/Decharge";
    QTest::newRow("closed in a pause") << false << "Pause ...  100";
    QTest::newRow("RETOUR in the discharge") << true << "Decharge";
}

// Leaving in the middle of the process switches everything off and both currents to zero
// once the reply in progress has come, beeps as Arret does, and deletes the window only
// then.
void TestMesCapa::leavingDuringProcess() {
    QFETCH(bool, viaRetour);
    QFETCH(QString, state);
    CapaBench b;
    setPack(*b.fake);
    QWidget *opened = b.registry->open("MesCapa", &b.main);
    QVERIFY2(opened, qPrintable(b.boxes.join(';')));
    auto *w = qobject_cast<MesCapa *>(opened);
    QVERIFY(w);
    QVERIFY(!b.main.isVisible());
    QPointer<MesCapa> alive(w);
    prepare(*w);
    Driver d{*w, *b.fake, 0, 0, {}, 3, 20, {}};
    bool left = false;
    b.fake->onCommand = [&](const QString &cmd) {
        if (!left && alive && cmd == "41" && text(alive, "LbEtat") == state) {
            left = true;
            QTimer::singleShot(0, alive, [&] {
                if (viaRetour)
                    alive->findChild<QPushButton *>("CbRetour")->click();
                else
                    alive->close();
            });
        }
    };
    d.install();
    w->start();
    QVERIFY(left);
    QTRY_VERIFY(!alive);
    QVERIFY(b.main.isVisible());
    QCOMPARE(b.link->reconnectOnActivate, viaRetour ? 0 : 1);
    const QStringList sent = b.fake->take();
    const QStringList off = {"17,0", "16,0", "15,0", "18,1", "19,0", "20,0", "24,10"};
    QCOMPARE(sent.mid(sent.size() - off.size()), off);
    QVERIFY(b.fake->outputsStopped());
    QCOMPARE(b.link->pending(), qint64(0));
}

// Above 90 degrees the process holds with everything off until the temperature is below 86;
// the fan goes on above 50 and off below 45, and Dspvent shows it.
void TestMesCapa::overheatHold() {
    CapaBench b;
    setPack(*b.fake);
    MesCapa w(b.host);
    prepare(w);
    Driver d{w, *b.fake, 0, 0, {}, 3, 20, {}};
    QStringList seen;
    QList<QColor> colours;
    auto *fan = w.findChild<QLabel *>("Dspvent");
    b.fake->onCommand = [&](const QString &cmd) {
        const QString s = text(&w, "LbEtat");
        if (cmd == "5" && s == "!! Surchauffe !!") {
            seen << QString::number(600 - b.fake->counts[chlink::CMD_READ_TEMP].first());
            colours << fan->palette().color(QPalette::Window);
        }
    };
    bool heated = false;
    d.extra = [&](const QString &s, int n) {
        if (!heated && s == "Charge" && n == 1) {
            heated = true;
            // 91 degrees at the next display, then the hold reads 88, 86, 85.
            b.fake->counts[chlink::CMD_READ_TEMP] = {509, 509, 512, 514, 515};
        }
        if (s == "Decharge" && n == 0) b.fake->counts[chlink::CMD_READ_TEMP] = {560}; // 40
    };
    d.install();
    w.start();
    QCOMPARE(text(&w, "LbEtat"), QStringLiteral("Fin du Processus"));
    QCOMPARE(seen, (QStringList{"91", "88", "86", "85"}));
    QCOMPARE(colours.first(), QColor(255, 0, 0));
    const QStringList sent = b.fake->take();
    QCOMPARE(sent.count("25,1"), 1);
    QCOMPARE(sent.count("25,0"), 1);
    QVERIFY(sent.indexOf("25,1") < sent.indexOf("25,0"));
    QVERIFY(!w.fanOn());
    QCOMPARE(fan->palette().color(QPalette::Window), QColor(128, 128, 128));
}

// A reply that does not come ends the process: the charge and discharge paths are cut, the
// log keeps what it had, the user is told, and the process can start again.
void TestMesCapa::timeoutDuringProcess() {
    CapaBench b;
    b.link->setReplyTimeout(100);
    setPack(*b.fake);
    MesCapa w(b.host);
    prepare(w);
    Driver d{w, *b.fake, 0, 0, {}, 3, 20, {}};
    d.extra = [&](const QString &s, int n) {
        if (s == "Decharge" && n == 4) b.fake->dropReplies[chlink::CMD_READ_IDECH] = 1;
    };
    d.install();
    w.start();
    QCOMPARE(b.boxes, QStringList{"Time out sur interface Serie"});
    QCOMPARE(text(&w, "LbEtat"), QStringLiteral("Arret"));
    QVERIFY(!w.isRunning());
    QVERIFY(!w.logOpen());
    QVERIFY(w.findChild<QPushButton *>("CBstart")->isEnabled());
    QVERIFY(!w.keepAwake().wanted());
    const QStringList sent = b.fake->take();
    QCOMPARE(sent.mid(sent.size() - 3), (QStringList{"11", "15,0", "16,0"}));
    QCOMPARE(Bench::lines(w.logPath()).size(), 2 + 4); // header, empty line, four steps
}

// A slider moved during the process takes effect at the process's next wait, not at its end.
void TestMesCapa::sliderDuringProcess() {
    CapaBench b;
    setPack(*b.fake);
    MesCapa w(b.host);
    prepare(w);
    Driver d{w, *b.fake, 0, 0, {}, 3, 20, {}};
    int sentDuring = -1;
    d.extra = [&](const QString &s, int n) {
        if (s == "Pause" && n == 3 && sentDuring < 0) {
            w.findChild<QSlider *>("SlIDech")->setValue(70);
            sentDuring = 0;
        }
        if (sentDuring == 0 && b.fake->commands.contains("20,70")) {
            sentDuring = 1;
            w.stop();
        }
    };
    d.install();
    w.start();
    QCOMPARE(sentDuring, 1);
    QTRY_COMPARE(text(&w, "LbEtat"), QStringLiteral("Arret"));
    QCOMPARE(text(&w, "Label25"), QStringLiteral("COURANT DE DECHARGE = 1.4 A"));
}

// The whole process on the in-process virtual charger, its clock moved on by each step's
// time: a 6-cell nickel-metal hydride pack is charged until its delta voltage drops, rests,
// is discharged to 0.9 V a cell, rests and is charged again; the log holds the discharge
// and the recharge.
void TestMesCapa::endToEndOnVirtualCharger() {
    CapaBench b;
    sim::VirtualCharger &charger = b.useModel();
    sim::BatterySpec spec;
    spec.chemistry = sim::Chemistry::NiMH;
    spec.cells = 6;
    spec.capacityAh = 0.5;
    spec.stateOfCharge = 0.5;
    charger.setBattery(spec);
    charger.setManualClock(true);
    // The window reads the charger's own calibration.
    for (int i = 0; i < 16; ++i) {
        b.link->tableA[i] = charger.eepromMaster[i];
        b.link->tableB[i] = charger.eepromSlave[i];
    }
    MesCapa w(b.host);
    w.findChild<QLineEdit *>("TxNbElem")->setText("6");
    w.findChild<QLineEdit *>("TxNbrCycles")->setText("1");
    w.findChild<QSlider *>("SlIChrg")->setValue(60);
    w.findChild<QSlider *>("SlIDech")->setValue(60);
    QStringList states;
    int steps = 0;
    w.setStepPacer([&](int ms) {
        ++steps;
        const QString s = text(&w, "LbEtat");
        if (!s.startsWith("Pause ... ") && (states.isEmpty() || states.last() != s)) states << s;
        charger.advance(ms / 1000.0);
        QTimer::singleShot(0, &w, [&] { w.tick(); });
        if (steps > 20000) w.stop(); // a process that never ends fails below
    });
    w.start();
    QCOMPARE(text(&w, "LbEtat"), QStringLiteral("Fin du Processus"));
    QCOMPARE(states.first(), QStringLiteral("Preparation Ch/Decharge"));
    QVERIFY(states.contains("Charge"));
    QVERIFY(states.contains("Decharge"));
    QVERIFY(states.contains("Mesure Resistance"));
    QVERIFY(!states.contains("Probleme V Delta"));
    QVERIFY(!charger.outputs.charge && !charger.outputs.discharge && !charger.outputs.power);
    QCOMPARE(charger.beeps(), 1);
    QCOMPARE(charger.phaseStarts(), 3);

    const QStringList log = Bench::lines(w.logPath());
    QCOMPARE(log.value(0), modes::headerLine(modes::capa::logColumns()));
    const int star = int(log.indexOf(modes::capa::starLine()));
    QVERIFY(star > 10);
    QCOMPARE(log.last(), modes::capa::equalsLine());
    QVERIFY(log.size() > star + 10);
    const auto field = [](const QString &line, int i) {
        QString f = line.split(QLatin1Char(':')).value(i).trimmed();
        f.replace(modes::localeDecimalPoint(), QLatin1Char('.'));
        return f.toDouble();
    };
    // The discharge took out a good part of the pack and ended at 0.90 V a cell or below;
    // the resistance was measured; the recharge put charge back in.
    const QString lastDischarge = log[star - 1];
    QVERIFY2(field(lastDischarge, 7) <= 0.9, qPrintable(lastDischarge));
    QVERIFY2(field(lastDischarge, 5) / 3.6 > 0.5 * 500, qPrintable(lastDischarge));
    QVERIFY2(field(log[star - 2], 7) > 0.9, qPrintable(log[star - 2]));
    QVERIFY2(field(lastDischarge, 9) > 0, qPrintable(lastDischarge));
    QVERIFY(field(log[log.size() - 2], 4) / 3.6 > 0.5 * 500);
    for (int i = 3; i < star; ++i)
        QCOMPARE(field(log[i], 0) - field(log[i - 1], 0), 2.0);

    // PELMORA_SHOT_DIR set: a picture of the window at the end of the process.
    const QString shots = qEnvironmentVariable("PELMORA_SHOT_DIR");
    if (!shots.isEmpty()) {
        w.resize(w.sizeHint().expandedTo(QSize(1160, 660)));
        w.show();
        QCoreApplication::processEvents();
        w.grab().save(shots + QStringLiteral("/mescapa.png"));
    }
}

// Through the real serial stack, with the virtual charger on a pseudo-terminal: the soft
// start and the delta adjustment reach the charge, and Arret leaves the charger with every
// path off, one beep, and the process ready to start again.
void TestMesCapa::stopThroughPseudoTerminal() {
    QTemporaryDir dir;
    qputenv("XDG_DATA_HOME", dir.path().toUtf8());
    sim::VirtualCharger charger;
    sim::BatterySpec spec;
    spec.cells = 6;
    spec.capacityAh = 1.0;
    spec.stateOfCharge = 0.6;
    charger.setBattery(spec);
    charger.setManualClock(true);
    sim::PtyServer server(&charger);
    QString why;
    if (!server.start(&why)) QSKIP(qPrintable(why));
    const QString device = server.slavePath();
    chlink::ChargerLink link([](const QString &d) { return new chlink::SerialBytePort(d); },
                             [&](int) { return device; });
    link.portSetup();
    QVERIFY(link.openPort(&why));
    chlink::Session session(link);
    for (int i = 0; i < 16; ++i) {
        link.tableA[i] = charger.eepromMaster[i];
        link.tableB[i] = charger.eepromSlave[i];
    }
    QStringList boxes;
    chlink::setBoxHook([&](const chlink::BoxRequest &r) {
        boxes << r.text;
        return true;
    });
    QWidget main;
    winkit::Host host;
    host.session = &session;
    host.opener = &main;
    {
        MesCapa w(host);
        prepare(w);
        int chargeSteps = 0;
        w.setStepPacer([&](int ms) {
            charger.advance(ms / 1000.0);
            if (text(&w, "LbEtat") == "Charge" && ++chargeSteps == 3) {
                QVERIFY(charger.outputs.charge && charger.outputs.power);
                QCOMPARE(int(charger.outputs.potCharge), 100);
                w.stop();
            }
            QTimer::singleShot(0, &w, [&] { w.tick(); });
        });
        w.start();
        QTRY_COMPARE(text(&w, "LbEtat"), QStringLiteral("Arret"));
        QCOMPARE(chargeSteps, 3);
        QVERIFY(w.gain() > 0);
        QVERIFY(!charger.outputs.charge && !charger.outputs.discharge && !charger.outputs.power);
        QVERIFY(charger.outputs.ground);
        QCOMPARE(charger.beeps(), 1);
        QVERIFY(w.findChild<QPushButton *>("CBstart")->isEnabled());
    }
    chlink::setBoxHook(nullptr);
    QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(';')));
}

QTEST_MAIN(TestMesCapa)
#include "tst_mescapa.moc"
