// The discharge window against a scripted charger (and the in-process virtual charger for
// the setpoint): command sequences, refused starts, the end of discharge, leaving, the log.
#include "bench.h"
#include "modes/dechargeur.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QtTest>

using modes::Dechargeur;

namespace {
QString text(QWidget *w, const char *name) {
    return w->findChild<QLabel *>(QLatin1String(name))->text();
}
const QStringList kStart = {"41", "20,0", "15,0", "17,0", "16,1", "18,1"};
const QStringList kPoll = {"41", "6", "7", "5", "11", "16,0", "13", "16,1"};
const QStringList kOff = {"16,0", "17,0", "18,1"};
} // namespace

class TestDechargeur : public QObject {
    Q_OBJECT
  private slots:
    void loadAndSlider();
    void runSequences();
    void refusedStart_data();
    void refusedStart();
    void endOfDischarge_data();
    void endOfDischarge();
    void leaving_data();
    void leaving();
    void timeoutDuringRun();
    void startSendsShownSetpoint_data();
    void startSendsShownSetpoint();
};

void TestDechargeur::loadAndSlider() {
    Bench b;
    Dechargeur w(b.host);
    w.load();
    QCOMPARE(w.windowTitle(), QStringLiteral("DECHARGEUR"));
    QVERIFY(!b.main.isVisible());
    QCOMPARE(b.mainTimersStopped, 1);
    QCOMPARE(text(&w, "Label18"), QStringLiteral("Prêt"));
    QCOMPARE(text(&w, "Label12"), QStringLiteral("COURANT DE DECHARGE = 0.00 A"));
    w.findChild<QSlider *>("Slider1")->setValue(100);
    QCOMPARE(b.fake->take(), QStringList{"20,100"});
    QCOMPARE(text(&w, "Label12"), QStringLiteral("COURANT DE DECHARGE = 2 A")); // B(5) 50
}

void TestDechargeur::runSequences() {
    Bench b;
    b.fake->counts[chlink::CMD_READ_IDECH] = {100};
    b.fake->counts[chlink::CMD_READ_VBAT] = {720};
    b.fake->counts[chlink::CMD_READ_TEMP] = {575};
    Dechargeur w(b.host);
    w.findChild<QLineEdit *>("Text1")->setText("6");
    w.start();
    QCOMPARE(b.fake->take(), kStart);
    QCOMPARE(text(&w, "Label18"), QStringLiteral("DECHARGE"));
    w.timerCycle();
    QCOMPARE(b.fake->take(), kPoll);
    w.findChild<QSlider *>("Slider1")->setValue(30); // at once, during the run
    QCOMPARE(b.fake->take(), QStringList{"20,30"});
    w.timerCycle();
    QCOMPARE(b.fake->take(), kPoll);
    QCOMPARE(text(&w, "Label17"), QStringLiteral(" 7.2V"));
    QCOMPARE(text(&w, "Label26"), QStringLiteral(" 1.2V"));
    QCOMPARE(text(&w, "Label11"), QStringLiteral(" 1A"));
    QCOMPARE(text(&w, "Label9"), QStringLiteral(" 25"));
    w.stop();
    QCOMPARE(b.fake->take(), kOff);
    QCOMPARE(text(&w, "Label18"), QStringLiteral("Arret"));

    const QStringList log = Bench::lines(w.logPath());
    QCOMPARE(log.size(), 4);
    QCOMPARE(log[0], modes::headerLine(modes::dischargeColumns()));
    QCOMPARE(log[1], QString());
    QCOMPARE(log[3], QStringLiteral(" 2 : 0 : 0 : 575 : 0 : 0 : 25 : 100 : 720 : 1 : 7.2 : 0 :") +
                         modes::recordLine({2.0 / 86400}, modes::localeDecimalPoint()));
    QVERIFY(QFileInfo(w.logPath()).fileName().startsWith("S_DCH_D"));
}

void TestDechargeur::refusedStart_data() {
    QTest::addColumn<QString>("cells");
    QTest::addColumn<bool>("vbatCalibrated");
    QTest::newRow("no cell count") << "" << true;
    QTest::newRow("zero cells") << "0" << true;
    QTest::newRow("not a number") << "six" << true;
    QTest::newRow("battery voltage not calibrated") << "6" << false;
}

void TestDechargeur::refusedStart() {
    QFETCH(QString, cells);
    QFETCH(bool, vbatCalibrated);
    Bench b;
    if (!vbatCalibrated) Bench::setWord(b.link->tableB, 6, 0);
    Dechargeur w(b.host);
    w.findChild<QLineEdit *>("Text1")->setText(cells);
    w.start();
    QCOMPARE(b.boxes.size(), 1);
    QVERIFY(b.boxes[0].contains(vbatCalibrated ? "Nombre Elements" : "V Batterie"));
    QVERIFY(b.fake->take().isEmpty());
    QVERIFY(!w.isRunActive());
    QCOMPARE(text(&w, "Label18"), QStringLiteral("Prêt"));
}

void TestDechargeur::endOfDischarge_data() {
    QTest::addColumn<int>("vbatCount");
    QTest::addColumn<bool>("ends");
    QTest::newRow("6 cells at 3.05 V go on") << 305 << false;
    QTest::newRow("6 cells at 2.99 V end") << 299 << true;
}

void TestDechargeur::endOfDischarge() {
    QFETCH(int, vbatCount);
    QFETCH(bool, ends);
    Bench b;
    b.fake->counts[chlink::CMD_READ_VBAT] = {vbatCount};
    Dechargeur w(b.host);
    w.findChild<QLineEdit *>("Text1")->setText("6");
    w.start();
    b.fake->take();
    w.timerCycle();
    if (ends) {
        QCOMPARE(text(&w, "Label18"), QStringLiteral("Limite Dech."));
        QCOMPARE(b.fake->take(), kPoll + kOff);
        QVERIFY(!w.pollTimer()->isActive());
        QVERIFY(w.logOpen());
        QVERIFY(!w.keepAwake().wanted());
        QCOMPARE(Bench::lines(w.logPath()).size(), 3); // the detecting poll's record
    } else {
        QCOMPARE(text(&w, "Label18"), QStringLiteral("DECHARGE"));
        QCOMPARE(b.fake->take(), kPoll);
        QVERIFY(w.pollTimer()->isActive());
        QVERIFY(w.keepAwake().wanted());
    }
}

void TestDechargeur::leaving_data() {
    QTest::addColumn<bool>("viaRetour");
    QTest::addColumn<QString>("during"); // the command in whose reply wait it is left; "": after
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("Retour between polls") << true << "" << (kPoll + kOff);
    QTest::newRow("closed between polls") << false << "" << (kPoll + kOff);
    QTest::newRow("Retour while the current is read")
        << true << "11" << (QStringList{"41", "6", "7", "5", "11"} + kOff);
    QTest::newRow("closed while the battery is read")
        << false << "13" << (QStringList{"41", "6", "7", "5", "11", "16,0", "13"} + kOff);
}

// The discharge never goes on unwatched: leaving sends Arret's bytes once, each with its
// answer, after the reply in progress (never in the middle of it), and the log keeps what
// it had.
void TestDechargeur::leaving() {
    QFETCH(bool, viaRetour);
    QFETCH(QString, during);
    QFETCH(QStringList, sent);
    Bench b;
    b.fake->counts[chlink::CMD_READ_VBAT] = {720}; // 1.8 V a cell: the discharge goes on
    auto *w = qobject_cast<Dechargeur *>(b.registry->open("Dechargeur", &b.main));
    QVERIFY(w);
    QPointer<Dechargeur> alive(w);
    w->findChild<QLineEdit *>("Text1")->setText("4");
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
    if (!during.isEmpty())
        b.fake->onCommand = [&](const QString &cmd) {
            if (cmd == during && alive) QTimer::singleShot(0, alive, leave);
        };
    w->timerCycle();
    b.fake->onCommand = nullptr;
    if (during.isEmpty()) leave();
    QVERIFY(alive); // never deleted inside a wait
    QVERIFY(!alive->isVisible());
    QVERIFY(!alive->logOpen());
    QVERIFY(b.main.isVisible());
    QCOMPARE(b.link->reconnectOnActivate, viaRetour ? 0 : 1);
    QCOMPARE(b.fake->take(), sent);
    QVERIFY(b.fake->outputsStopped());
    QCOMPARE(b.link->pending(), qint64(0)); // every answer was waited for
    QTRY_VERIFY(!alive);
    QVERIFY(b.fake->take().isEmpty());
    QCOMPARE(Bench::lines(path).size(), during.isEmpty() ? 3 : 2);
}

void TestDechargeur::timeoutDuringRun() {
    Bench b;
    Dechargeur w(b.host);
    w.findChild<QLineEdit *>("Text1")->setText("4");
    w.start();
    b.fake->take();
    b.fake->dropReplies[chlink::CMD_READ_IDECH] = 1;
    w.timerCycle();
    QCOMPARE(b.boxes, QStringList{"Time out sur interface Serie"});
    QCOMPARE(b.fake->take(), (QStringList{"41", "6", "7", "5", "11", "15,0", "16,0"}));
    QVERIFY(!w.pollTimer()->isActive());
    QVERIFY(!w.isRunActive());
    QCOMPARE(Bench::lines(w.logPath()).size(), 2);
}

void TestDechargeur::startSendsShownSetpoint_data() {
    QTest::addColumn<int>("earlier"); // the setting left in the charger (35: a charge's pulse)
    QTest::addColumn<int>("slider");
    QTest::newRow("window at 0 A, charger left at 0.7 A") << 35 << 0;
    QTest::newRow("slider moved before the start") << 35 << 100;
}

// What the window shows is what runs: the start sends the slider's setpoint.
void TestDechargeur::startSendsShownSetpoint() {
    QFETCH(int, earlier);
    QFETCH(int, slider);
    Bench b;
    sim::VirtualCharger &charger = b.useModel();
    charger.outputs.potDischarge = quint8(earlier);
    Dechargeur w(b.host);
    w.findChild<QSlider *>("Slider1")->setValue(slider);
    w.findChild<QLineEdit *>("Text1")->setText("6");
    w.start();
    QCOMPARE(int(charger.outputs.potDischarge), slider);
    QVERIFY(charger.outputs.discharge);
    w.stop();
    QVERIFY(!charger.outputs.discharge);
}

QTEST_MAIN(TestDechargeur)
#include "tst_dechargeur.moc"
