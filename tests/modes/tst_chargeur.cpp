// The charge window against a scripted charger: exact command sequences, sliders, end of
// charge, logs, time-outs and closing in the middle of a poll.
#include "bench.h"
#include "modes/chargeur.h"
#include "modes/runchart.h"

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
const QStringList kStart = {"41", "18,0", "16,0", "17,1", "15,1", "20,35"};
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
    void leavingMidPoll_data();
    void leavingMidPoll();
    void stopMidPoll();
    void sliderDuringPollWaitsItsTurn();
    void pollTimerKeepsPolling();
};

void TestChargeur::loadHidesMain() {
    Bench b;
    Chargeur w(b.host);
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

void TestChargeur::leavingMidPoll_data() {
    QTest::addColumn<bool>("viaRetour");
    QTest::newRow("Retour") << true;
    QTest::newRow("window closed") << false;
}

void TestChargeur::leavingMidPoll() {
    QFETCH(bool, viaRetour);
    Bench b;
    auto *w = new Chargeur(b.host);
    w->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<Chargeur> alive(w);
    w->start();
    const QString path = w->logPath();
    b.fake->take();
    b.fake->replyDelayMs = 5;
    b.fake->onCommand = [&](const QString &cmd) {
        if (cmd != "13" || !alive) return;
        QTimer::singleShot(0, alive, [&] {
            if (viaRetour)
                alive->leave();
            else
                alive->close();
        });
    };
    w->timerCycle(); // returns after the wait in which the window was left
    QVERIFY(alive);  // never deleted inside a wait
    QVERIFY(!alive->isVisible());
    QVERIFY(!alive->keepAwake().wanted());
    QVERIFY(b.main.isVisible());
    QCOMPARE(b.link->reconnectOnActivate, viaRetour ? 0 : 1);
    const QStringList sent = b.fake->take();
    QCOMPARE(sent.last(), QStringLiteral("13")); // nothing sent after leaving
    QTRY_VERIFY(!alive);
    QCOMPARE(Bench::lines(path).size(), 2); // header and empty line, no record
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

QTEST_MAIN(TestChargeur)
#include "tst_chargeur.moc"
