// The charge window against a scripted charger (and, where the outputs' state matters, the
// in-process virtual charger): exact command sequences, sliders, end of charge, logs, the
// run clock, time-outs, "Arret" and leaving in the middle of a poll.
#include "bench.h"
#include "modes/chargeur.h"
#include "modes/runchart.h"
#include "modes/runinfo.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QtTest>

using modes::Chargeur;

namespace {
QString text(QWidget *w, const char *name) {
    return w->findChild<QLabel *>(QLatin1String(name))->text();
}
QByteArray hms(int h, int m, int s) {
    return QByteArray(1, char(h)) + char(m) + char(s);
}
// Runs action (once) in the wait for the reply to `command`, or `delayMs` after it arrives.
void when(ScriptedCharger *fake, QObject *ctx, const QString &command, std::function<void()> action,
          int delayMs = 0) {
    fake->onCommand = [=, done = false](const QString &cmd) mutable {
        if (done || cmd != command) return;
        done = true;
        QTimer::singleShot(delayMs, ctx, action);
    };
}
const QStringList kStart = {"41", "19,0", "18,0", "16,0", "17,1", "15,1", "20,35"};
const QStringList kPollHead = {"41", "6", "7", "5", "10"};
const QStringList kPulseMode0 = {"15,0", "17,0", "18,1", "16,1"};
const QStringList kPollTail = {"16,0", "13", "12", "18,0", "17,1", "15,1"};
const QStringList kStop = {"15,0", "17,0", "18,1"};
} // namespace

class TestChargeur : public QObject {
    Q_OBJECT
  private slots:
    void loadHidesMain();
    void runSequences_data();
    void runSequences();
    void refusedMode();
    void slidersWhileIdle();
    void slidersWhileCharging();
    void endOfCharge_data();
    void endOfCharge();
    void currentSliderResetsPeak();
    void uncalibratedTableLeavesFieldsEmpty();
    void timeoutDuringRun();
    void leaving_data();
    void leaving();
    void leavingUnconfirmed_data();
    void leavingUnconfirmed();
    void stopMidPoll();
    void stopDuringPulse_data();
    void stopDuringPulse();
    void twoRunsKeepTwoLogs();
    void runClock_data();
    void runClock();
    void startSendsShownSetpoint_data();
    void startSendsShownSetpoint();
    void dvdtIndicatorTakesNoInput_data();
    void dvdtIndicatorTakesNoInput();
    void sliderDuringPollWaitsItsTurn();
    void pollTimerKeepsPolling();
    void runInfoSaysHowItEnded_data();
    void runInfoSaysHowItEnded();
};

void TestChargeur::loadHidesMain() {
    Bench b;
    Chargeur w(b.host);
    QVERIFY(!w.isVisible()); // built, not shown: the registry loads it
    QCOMPARE(b.mainTimersStopped, 0);
    w.load();
    QCOMPARE(w.windowTitle(), QStringLiteral("Mode chargeur rapide"));
    QVERIFY(w.isVisible());
    QVERIFY(!b.main.isVisible());
    QCOMPARE(b.mainTimersStopped, 1);
    QCOMPARE(text(&w, "Label18"), QStringLiteral("Prêt"));
    QCOMPARE(text(&w, "Label12"), QStringLiteral("COURANT DE CHARGE = 0.00 A"));
    QCOMPARE(w.findChild<QCheckBox *>("Check1")->checkState(), Qt::Unchecked);
    QCOMPARE(w.findChild<QSlider *>("Slider2")->maximum(), 255);
    QVERIFY(w.isIdle());
    QVERIFY(b.fake->take().isEmpty());
}

void TestChargeur::runSequences_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("firstPoll");
    QTest::addColumn<QStringList>("secondPoll");
    QTest::newRow("MODE 0 pulses before the battery reading")
        << "0" << (kPollHead + kPulseMode0 + kPollTail) << (kPollHead + kPulseMode0 + kPollTail);
    QTest::newRow("MODE 1 only opens the discharge path")
        << "1" << (kPollHead + kPollTail) << (kPollHead + kPollTail);
    QTest::newRow("text that is not a number is MODE 0")
        << "abc" << (kPollHead + kPulseMode0 + kPollTail) << (kPollHead + kPulseMode0 + kPollTail);
}

void TestChargeur::runSequences() {
    QFETCH(QString, mode);
    QFETCH(QStringList, firstPoll);
    QFETCH(QStringList, secondPoll);
    Bench b;
    b.fake->counts[chlink::CMD_READ_ICHRG] = {150};
    b.fake->counts[chlink::CMD_READ_VBAT] = {140};
    b.fake->counts[chlink::CMD_READ_VDELTA] = {300};
    Chargeur w(b.host);
    w.findChild<QLineEdit *>("Text1")->setText(mode);
    w.start();
    QCOMPARE(b.fake->take(), kStart);
    QCOMPARE(text(&w, "Label18"), QStringLiteral("CHARGE"));
    QVERIFY(w.pollTimer()->isActive());
    QVERIFY(w.keepAwake().wanted()); // the computer must not sleep during the run
    QVERIFY(!w.findChild<QPushButton *>("CBstart")->isEnabled());
    w.start(); // a second start during the run does nothing
    QVERIFY(b.fake->take().isEmpty());

    w.timerCycle();
    QCOMPARE(b.fake->take(), firstPoll);
    QVERIFY(w.pollTimer()->isActive());
    w.timerCycle();
    QCOMPARE(b.fake->take(), secondPoll);
    QCOMPARE(text(&w, "Label3"), QStringLiteral("02"));
    QCOMPARE(text(&w, "Label11"), QStringLiteral(" 1.5A"));
    QCOMPARE(text(&w, "Label29"), QStringLiteral(" 0 mAh")); // 3000 mA.s
    QCOMPARE(w.counter().milliampereSeconds(), 3000.0);
    QCOMPARE(text(&w, "Label22"), QStringLiteral(" 300"));

    w.stop();
    QCOMPARE(b.fake->take(), kStop);
    QCOMPARE(text(&w, "Label18"), QStringLiteral("Arret"));
    QVERIFY(!w.pollTimer()->isActive());
    QVERIFY(w.isIdle());
    QVERIFY(!w.logOpen());
    QVERIFY(!w.keepAwake().wanted());

    const QStringList log = Bench::lines(w.logPath());
    QCOMPARE(log.size(), 4); // header, empty line, two records
    QCOMPARE(log[0], modes::headerLine(modes::chargeColumns()));
    QCOMPARE(log[1], QString());
    QCOMPARE(log[2].split(':').size(), 16);
    QCOMPARE(log[2].split(':').at(0), QStringLiteral(" 1 "));
    QCOMPARE(log[3].split(':').at(0), QStringLiteral(" 2 "));
    QVERIFY(QFileInfo(w.logPath()).fileName().startsWith("St_CH_D"));
    QVERIFY(text(&w, "LbJournal").contains(QDir::toNativeSeparators(w.logPath())));
    QCOMPARE(w.chart()->pointCount(0), 2);
}

void TestChargeur::refusedMode() {
    Bench b;
    Chargeur w(b.host);
    w.findChild<QLineEdit *>("Text1")->setText("300");
    w.start();
    QCOMPARE(b.boxes.size(), 1);
    QVERIFY(b.fake->take().isEmpty());
    QVERIFY(w.isIdle());
    QCOMPARE(text(&w, "Label18"), QStringLiteral("Prêt"));
}

void TestChargeur::slidersWhileIdle() {
    Bench b;
    b.fake->counts[chlink::CMD_READ_VDELTA] = {412};
    Chargeur w(b.host);
    w.findChild<QSlider *>("Slider2")->setValue(40);
    QCOMPARE(b.fake->take(), (QStringList{"21,40", "18,1", "12", "18,0"}));
    QCOMPARE(text(&w, "Label26"), QStringLiteral(" 40"));
    QCOMPARE(text(&w, "Label21"), QStringLiteral(" 412"));
    w.findChild<QSlider *>("Slider3")->setValue(7);
    QCOMPARE(b.fake->take(), (QStringList{"22,7", "18,1", "12", "18,0"}));
    QCOMPARE(text(&w, "Label27"), QStringLiteral(" 7"));
    w.findChild<QSlider *>("Slider1")->setValue(150);
    QCOMPARE(b.fake->take(), QStringList{"19,150"});
    QCOMPARE(text(&w, "Label12"), QStringLiteral("COURANT DE CHARGE = 1.5 A"));
}

void TestChargeur::slidersWhileCharging() {
    Bench b;
    Chargeur w(b.host);
    w.start();
    b.fake->take();
    w.findChild<QSlider *>("Slider2")->setValue(40);
    w.findChild<QSlider *>("Slider3")->setValue(40);
    QVERIFY(b.fake->take().isEmpty()); // gain and offset are left alone during a run
    QCOMPARE(text(&w, "Label26"), QStringLiteral("0"));
    w.findChild<QSlider *>("Slider1")->setValue(77);
    QCOMPARE(b.fake->take(), QStringList{"19,77"});
}

void TestChargeur::endOfCharge_data() {
    QTest::addColumn<int>("lastDelta");
    QTest::addColumn<bool>("ends");
    QTest::newRow("ten below the peak ends") << 490 << true;
    QTest::newRow("nine below goes on") << 491 << false;
}

void TestChargeur::endOfCharge() {
    QFETCH(int, lastDelta);
    QFETCH(bool, ends);
    Bench b;
    b.fake->counts[chlink::CMD_READ_VDELTA] = {450, 500, lastDelta};
    Chargeur w(b.host);
    w.start();
    for (int i = 0; i < 3; ++i)
        w.timerCycle();
    const QStringList sent = b.fake->take();
    if (ends) {
        QCOMPARE(text(&w, "Label18"), QStringLiteral("Charge Terminée"));
        // The detecting poll still resumes the charge, then charge and power go off.
        QCOMPARE(sent.mid(sent.size() - 5), (QStringList{"18,0", "17,1", "15,1", "17,0", "15,0"}));
        QVERIFY(!w.pollTimer()->isActive());
        QVERIFY(w.logOpen()); // until Arret or Retour
        QVERIFY(!w.keepAwake().wanted());
        QCOMPARE(Bench::lines(w.logPath()).size(), 5);
        QVERIFY(!w.isIdle());
        w.findChild<QSlider *>("Slider2")->setValue(9); // still inactive until Arret
        QVERIFY(b.fake->take().isEmpty());
        w.stop();
        QCOMPARE(b.fake->take(), kStop);
        QVERIFY(!w.logOpen());
    } else {
        QCOMPARE(text(&w, "Label18"), QStringLiteral("CHARGE"));
        QVERIFY(w.pollTimer()->isActive());
    }
}

void TestChargeur::currentSliderResetsPeak() {
    Bench b;
    b.fake->counts[chlink::CMD_READ_VDELTA] = {500, 480};
    Chargeur w(b.host);
    w.start();
    w.timerCycle();
    QCOMPARE(w.deltaPeak().peak(), 500);
    w.findChild<QSlider *>("Slider1")->setValue(60);
    QCOMPARE(w.deltaPeak().peak(), 0);
    w.timerCycle();
    QCOMPARE(text(&w, "Label18"), QStringLiteral("CHARGE"));
    QCOMPARE(w.deltaPeak().peak(), 480);
}

void TestChargeur::uncalibratedTableLeavesFieldsEmpty() {
    Bench b;
    b.link->tableA.fill(0, 257);
    b.fake->counts[chlink::CMD_READ_VALIM] = {1200};
    b.fake->counts[chlink::CMD_READ_TEMP] = {500};
    Chargeur w(b.host);
    w.start();
    w.timerCycle();
    w.stop();
    const QStringList rec = Bench::lines(w.logPath()).at(2).split(':');
    QCOMPARE(rec.size(), 16);
    QCOMPARE(rec.at(1), QStringLiteral(" 1200 ")); // VALIMCAD
    QCOMPARE(rec.at(4), QString());                // VALIM
    QCOMPARE(rec.at(7), QString());                // TEMPER
    QCOMPARE(rec.at(3), QString());                // DVaverage before the first block
    QCOMPARE(text(&w, "Label4"), QStringLiteral(" 1200"));
    QCOMPARE(text(&w, "Label6"), QString());
}

void TestChargeur::timeoutDuringRun() {
    Bench b;
    Chargeur w(b.host);
    w.start();
    w.timerCycle();
    b.fake->take();
    b.fake->dropReplies[chlink::CMD_READ_VBAT] = 1;
    w.timerCycle();
    const QStringList sent = b.fake->take();
    QCOMPARE(b.boxes, QStringList{"Time out sur interface Serie"});
    // Nothing more of the poll; the charge and discharge paths are switched off once.
    QCOMPARE(sent.mid(sent.indexOf("13")), (QStringList{"13", "15,0", "16,0"}));
    QVERIFY(!w.pollTimer()->isActive());
    QVERIFY(!w.logOpen());
    QCOMPARE(Bench::lines(w.logPath()).size(), 3); // the first poll's record is kept
    QVERIFY(w.isIdle());
    QVERIFY(!w.keepAwake().wanted());
    QVERIFY(w.findChild<QPushButton *>("CBstart")->isEnabled());
}

void TestChargeur::leaving_data() {
    QTest::addColumn<bool>("viaRetour");
    QTest::addColumn<QString>("during"); // the command in whose reply wait it is left; "": after
    QTest::addColumn<QStringList>("sent");
    const QStringList poll = kPollHead + kPulseMode0 + kPollTail;
    QTest::newRow("Retour between polls") << true << "" << (poll + kStop);
    QTest::newRow("closed between polls") << false << "" << (poll + kStop);
    QTest::newRow("Retour while a supply is read")
        << true << "6" << (QStringList{"41", "6"} + kStop);
    QTest::newRow("closed while the battery is read")
        << false << "13" << (kPollHead + kPulseMode0 + QStringList{"16,0", "13"} + kStop);
    QTest::newRow("Retour with the pulse's discharge path on")
        << true << "16,1" << (kPollHead + kPulseMode0 + QStringList{"16,0"} + kStop);
}

// The charge never goes on unwatched: leaving sends Arret's bytes once, after the reply in
// progress, and the log keeps what it had.
void TestChargeur::leaving() {
    QFETCH(bool, viaRetour);
    QFETCH(QString, during);
    QFETCH(QStringList, sent);
    Bench b;
    auto *w = qobject_cast<Chargeur *>(b.registry->open("Chargeur", &b.main));
    QVERIFY(w);
    QPointer<Chargeur> alive(w);
    w->start();
    const QString path = w->logPath();
    b.fake->take();
    b.fake->replyDelayMs = 5;
    const auto leave = [&] {
        if (viaRetour)
            alive->leave();
        else
            alive->close();
    };
    if (!during.isEmpty()) when(b.fake, w, during, leave);
    w->timerCycle(); // returns after the wait in which the window was left
    if (during.isEmpty()) leave();
    QVERIFY(alive); // never deleted inside a wait
    QVERIFY(!alive->isVisible());
    QVERIFY(!alive->logOpen());
    QVERIFY(!alive->keepAwake().wanted());
    QVERIFY(b.main.isVisible());
    QCOMPARE(b.link->reconnectOnActivate, viaRetour ? 0 : 1);
    QCOMPARE(b.fake->take(), sent);
    QVERIFY(b.fake->outputsStopped());
    QTRY_VERIFY(!alive);
    QVERIFY(b.fake->take().isEmpty());
    QCOMPARE(Bench::lines(path).size(), during.isEmpty() ? 3 : 2);
}

void TestChargeur::leavingUnconfirmed_data() {
    QTest::addColumn<QString>("during"); // the command in whose reply wait it is left; "": idle
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("between polls") << "" << kStop;
    QTest::newRow("while a supply is read") << "6" << (QStringList{"41", "6"} + kStop);
}

// A charger that does not confirm the first stop byte still gets the others, and the user
// is told, on top of the main window that has come back, that the outputs may still be on.
void TestChargeur::leavingUnconfirmed() {
    QFETCH(QString, during);
    QFETCH(QStringList, sent);
    Bench b;
    QPointer<Chargeur> w = qobject_cast<Chargeur *>(b.registry->open("Chargeur", &b.main));
    QVERIFY(w);
    w->start();
    b.fake->take();
    b.fake->dropReplies[chlink::CMD_CUT_CHARGE] = 1;
    bool mainShownUnderBox = false;
    chlink::setBoxHook([&](const chlink::BoxRequest &r) {
        b.boxes << r.text;
        mainShownUnderBox = b.main.isVisible();
        return true;
    });
    if (during.isEmpty()) {
        w->leave();
    } else {
        when(b.fake, w, during, [&] { w->leave(); });
        w->timerCycle();
    }
    QCOMPARE(b.boxes, QStringList{"Sortie de la fenêtre : le chargeur n'a pas confirmé l'arrêt "
                                  "des sorties\nTime out sur interface Serie"});
    QVERIFY(mainShownUnderBox);
    QCOMPARE(b.fake->take(), sent);
    QVERIFY(b.fake->outputsStopped());
    QTRY_VERIFY(!w);
}

void TestChargeur::stopMidPoll() {
    Bench b;
    Chargeur w(b.host);
    w.start();
    b.fake->take();
    b.fake->replyDelayMs = 5;
    b.fake->onCommand = [&](const QString &cmd) {
        if (cmd == "10") QTimer::singleShot(0, &w, [&] { w.stop(); });
    };
    w.timerCycle();
    b.fake->onCommand = nullptr;
    QTRY_COMPARE(text(&w, "Label18"), QStringLiteral("Arret"));
    const QStringList sent = b.fake->take();
    // The poll ends at its current wait; Stop's commands follow, never interleaved.
    QCOMPARE(sent, (QStringList{"41", "6", "7", "5", "10"} + kStop));
    QVERIFY(!w.pollTimer()->isActive());
    QCOMPARE(Bench::lines(w.logPath()).size(), 2);
}

void TestChargeur::sliderDuringPollWaitsItsTurn() {
    Bench b;
    Chargeur w(b.host);
    w.start();
    b.fake->take();
    b.fake->replyDelayMs = 2;
    auto *slider = w.findChild<QSlider *>("Slider1");
    b.fake->onCommand = [&](const QString &cmd) {
        if (cmd == "6")
            QTimer::singleShot(0, &w, [&] {
                slider->setValue(10);
                slider->setValue(20); // only the last value is sent
            });
    };
    w.timerCycle();
    b.fake->onCommand = nullptr;
    QTRY_VERIFY(b.fake->commands.contains("19,20"));
    const QStringList sent = b.fake->take();
    QCOMPARE(sent, kPollHead + kPulseMode0 + kPollTail + QStringList{"19,20"});
}

void TestChargeur::pollTimerKeepsPolling() {
    Bench b;
    Chargeur w(b.host);
    QVERIFY(text(&w, "LbJournal").contains(QDir::toNativeSeparators(b.dir.path())));
    w.start();
    // The timer itself, not a direct call: one record a second, each poll whole.
    QTRY_VERIFY_WITH_TIMEOUT(Bench::lines(w.logPath()).size() >= 4, 5000);
    w.stop();
    const QStringList sent = b.fake->take();
    const QStringList poll = kPollHead + kPulseMode0 + kPollTail;
    QCOMPARE(sent.mid(kStart.size(), poll.size()), poll);
    QCOMPARE(sent.mid(kStart.size() + poll.size(), poll.size()), poll);
}

void TestChargeur::stopDuringPulse_data() {
    QTest::addColumn<bool>("virtualCharger");
    QTest::addColumn<QString>("during"); // "delay": the 5 ms before the discharge-off
    QTest::addColumn<QStringList>("sent");
    const QStringList pulseOff = kPulseMode0 + QStringList{"16,0"};
    const struct {
        const char *name, *during;
        QStringList sent;
    } rows[] = {
        {"as the charge path goes off", "15,0", QStringList{"15,0"} + kStop},
        {"as the power path goes off", "17,0", QStringList{"15,0", "17,0"} + kStop},
        {"as the battery is grounded", "18,1", QStringList{"15,0", "17,0", "18,1"} + kStop},
        {"as the discharge path goes on", "16,1", pulseOff + kStop},
        {"in the measurement delay", "delay", pulseOff + kStop},
        {"as the discharge path goes off", "16,0", pulseOff + kStop},
        {"while the battery is read", "13", pulseOff + QStringList{"13"} + kStop},
    };
    for (bool model : {false, true})
        for (const auto &r : rows)
            QTest::addRow("%s, %s", model ? "virtual charger" : "scripted", r.name)
                << model << QString::fromLatin1(r.during) << (kPollHead + r.sent);
}

// After "Arret" every output of the run is in its stopped state, wherever in the pulse it
// landed, and the poll's own bytes never mix with Arret's.
void TestChargeur::stopDuringPulse() {
    QFETCH(bool, virtualCharger);
    QFETCH(QString, during);
    QFETCH(QStringList, sent);
    Bench b;
    if (virtualCharger) b.useModel();
    Chargeur w(b.host);
    w.start();
    b.fake->take();
    const bool inDelay = during == QLatin1String("delay");
    b.fake->replyDelayMs = inDelay ? 0 : 3;
    when(
        b.fake, &w, inDelay ? QStringLiteral("16,1") : during, [&] { w.stop(); }, inDelay ? 1 : 0);
    w.timerCycle();
    QTRY_COMPARE(text(&w, "Label18"), QStringLiteral("Arret"));
    b.fake->onCommand = nullptr;
    QCOMPARE(b.fake->take(), sent);
    QVERIFY(b.fake->outputsStopped());
    QVERIFY(!w.logOpen());
    QVERIFY(!w.pollTimer()->isActive());
    QCOMPARE(Bench::lines(w.logPath()).size(), 2);
}

// No log replaces another: names of the same minute (here taken before each run) get the
// next free number, the earlier files stay as they were, and the window shows the name used.
void TestChargeur::twoRunsKeepTwoLogs() {
    Bench b;
    const QDateTime now = QDateTime::currentDateTime();
    QStringList taken;
    for (const QDateTime &t : {now, now.addSecs(60)}) {
        const QString name = modes::logFileName(modes::kChargePrefix, t);
        QFile f(b.dir.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("an earlier run\r\n");
        taken << QFileInfo(name).completeBaseName();
    }
    Chargeur w(b.host);
    QStringList paths;
    QByteArray firstLog;
    for (int run = 0; run < 2; ++run) {
        w.start();
        w.timerCycle();
        w.stop();
        paths << w.logPath();
        QVERIFY(text(&w, "LbJournal").endsWith(QDir::toNativeSeparators(w.logPath())));
        if (run == 0) {
            QFile f(paths[0]);
            QVERIFY(f.open(QIODevice::ReadOnly));
            firstLog = f.readAll();
        }
    }
    QVERIFY(paths[0] != paths[1]);
    for (const QString &p : paths) {
        const QString base = QFileInfo(p).completeBaseName();
        QVERIFY2(taken.contains(base.left(base.lastIndexOf('_'))), qPrintable(p));
        QVERIFY(QFileInfo(p).fileName().endsWith(QStringLiteral(".txt")));
        QCOMPARE(Bench::lines(p).size(), 3);
    }
    QFile first(paths[0]);
    QVERIFY(first.open(QIODevice::ReadOnly));
    QCOMPARE(first.readAll(), firstLog);
    for (const QString &base : taken)
        QCOMPARE(Bench::lines(b.dir.filePath(base + ".txt")), QStringList{"an earlier run"});
}

void TestChargeur::runClock_data() {
    QTest::addColumn<QList<QByteArray>>("clocks"); // start, then one per poll
    QTest::addColumn<QStringList>("logged");       // DUREE of each record
    QTest::addColumn<QStringList>("labels");       // the clock after the last poll
    QTest::addColumn<double>("mAs");               // at 1 A
    QTest::newRow("wrap at midnight")
        << QList<QByteArray>{hms(23, 59, 58), hms(23, 59, 59), hms(0, 0, 0), hms(0, 0, 2)}
        << QStringList{" 1 ", " 2 ", " 4 "} << QStringList{"00", "00", "04"} << 4000.0;
    QTest::newRow("a corrupted minutes byte adds no time")
        << QList<QByteArray>{hms(10, 0, 0), hms(10, 6, 5), hms(10, 6, 6), hms(10, 0, 7),
                             hms(10, 6, 8)}
        << QStringList{" 365 ", " 366 ", " 7 ", " 368 "} << QStringList{"00", "06", "08"}
        << 368000.0;
    QTest::newRow("a minutes byte out of range adds no time")
        << QList<QByteArray>{hms(10, 0, 0), hms(10, 0, 1), hms(10, 200, 2), hms(10, 0, 3)}
        << QStringList{" 1 ", " 12002 ", " 3 "} << QStringList{"00", "00", "03"} << 3000.0;
}

void TestChargeur::runClock() {
    QFETCH(QList<QByteArray>, clocks);
    QFETCH(QStringList, logged);
    QFETCH(QStringList, labels);
    QFETCH(double, mAs);
    Bench b;
    b.fake->counts[chlink::CMD_READ_ICHRG] = {100}; // 1 A
    b.fake->clockReplies = clocks;
    Chargeur w(b.host);
    w.start();
    for (int i = 1; i < clocks.size(); ++i)
        w.timerCycle();
    w.stop();
    QStringList got;
    const QStringList log = Bench::lines(w.logPath());
    for (int i = 2; i < log.size(); ++i)
        got << log[i].split(':').at(0);
    QCOMPARE(got, logged);
    QCOMPARE((QStringList{text(&w, "Label1"), text(&w, "Label2"), text(&w, "Label3")}), labels);
    QCOMPARE(w.counter().milliampereSeconds(), mAs);
}

void TestChargeur::startSendsShownSetpoint_data() {
    QTest::addColumn<int>("earlier"); // the setting an earlier run left in the charger
    QTest::addColumn<int>("slider");
    QTest::newRow("window at 0 A, charger left at 2 A") << 200 << 0;
    QTest::newRow("slider moved before the start") << 200 << 60;
}

// What the window shows is what runs: the start sends the slider's setpoint.
void TestChargeur::startSendsShownSetpoint() {
    QFETCH(int, earlier);
    QFETCH(int, slider);
    Bench b;
    sim::VirtualCharger &charger = b.useModel();
    charger.outputs.potCharge = quint8(earlier);
    Chargeur w(b.host);
    w.findChild<QSlider *>("Slider1")->setValue(slider);
    w.start();
    QCOMPARE(int(charger.outputs.potCharge), slider);
    QVERIFY(charger.outputs.charge);
    QCOMPARE(text(&w, "Label12"),
             slider ? modes::setpointText(QStringLiteral("COURANT DE CHARGE ="), slider, 100)
                    : QStringLiteral("COURANT DE CHARGE = 0.00 A"));
    w.stop();
}

void TestChargeur::dvdtIndicatorTakesNoInput_data() {
    QTest::addColumn<int>("state");
    QTest::newRow("clear") << int(Qt::Unchecked);
    QTest::newRow("grayed") << int(Qt::PartiallyChecked);
    QTest::newRow("ticked") << int(Qt::Checked);
}

// "DV/DT Mode" only shows the watch: no click, key or focus changes what it shows.
void TestChargeur::dvdtIndicatorTakesNoInput() {
    QFETCH(int, state);
    Bench b;
    Chargeur w(b.host);
    auto *c = w.findChild<QCheckBox *>("Check1");
    c->setCheckState(Qt::CheckState(state));
    QCOMPARE(c->focusPolicy(), Qt::NoFocus);
    QTest::mouseClick(c, Qt::LeftButton);
    QTest::keyClick(c, Qt::Key_Space);
    c->click();
    QCOMPARE(int(c->checkState()), state);
    QCOMPARE(c->text(), QStringLiteral("DV/DT Mode"));
}

// The information file next to the log: the window's setting at the start, then how the run
// ended, whatever way it ends.
void TestChargeur::runInfoSaysHowItEnded_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("reason");
    QTest::newRow("Arret") << "stop"
                           << "Arret";
    QTest::newRow("a reply that does not come") << "timeout"
                                                << "Liaison perdue";
    QTest::newRow("Retour during the run") << "leave"
                                           << "Arret";
}

void TestChargeur::runInfoSaysHowItEnded() {
    QFETCH(QString, how);
    QFETCH(QString, reason);
    Bench b;
    auto *w = qobject_cast<Chargeur *>(b.registry->open("Chargeur", &b.main));
    QVERIFY(w);
    QPointer<Chargeur> alive(w);
    w->findChild<QSlider *>("Slider1")->setValue(150);
    w->start();
    const QString path = w->logPath();
    const auto info = modes::readRunInfo(path);
    QVERIFY(info);
    QCOMPARE(info->window, QStringLiteral("Chargeur"));
    QCOMPARE(info->setpoint, QStringLiteral("1.5 A"));
    QCOMPARE(info->port, QStringLiteral("fake"));
    QVERIFY(info->start.isValid());
    QVERIFY(!info->version.isEmpty());
    QVERIFY(info->endReason.isEmpty());
    w->timerCycle();
    if (how == "timeout") {
        b.fake->dropReplies[chlink::CMD_READ_VBAT] = 1;
        w->timerCycle();
    } else if (how == "stop") {
        w->stop();
    } else {
        alive->leave();
    }
    QTRY_COMPARE(modes::readRunInfo(path)->endReason, reason);
    // The window goes before the bench it talks through.
    if (alive) alive->close();
    QTRY_VERIFY(!alive);
}

QTEST_MAIN(TestChargeur)
#include "tst_chargeur.moc"
