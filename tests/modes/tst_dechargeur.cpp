// The discharge window against a scripted charger: command sequences, refused starts,
// the end of discharge, leaving, and the log.
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
const QStringList kStart = {"41", "15,0", "17,0", "16,1", "18,1"};
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
    void leaveSendsDischargeOff();
    void closingMidPoll();
    void timeoutDuringRun();
};

void TestDechargeur::loadAndSlider() {
    Bench b;
    Dechargeur w(b.host);
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

void TestDechargeur::leaveSendsDischargeOff() {
    Bench b;
    auto *w = new Dechargeur(b.host);
    w->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<Dechargeur> alive(w);
    w->findChild<QLineEdit *>("Text1")->setText("4");
    w->start();
    b.fake->take();
    w->leave();
    QCOMPARE(b.fake->take(), QStringList{"16,0"});
    QVERIFY(b.main.isVisible());
    QCOMPARE(b.link->reconnectOnActivate, 0);
    QTRY_VERIFY(!alive);
    // The answer byte was not waited for: it is still pending on the link.
    QTRY_COMPARE(b.link->pending(), qint64(1));
}

void TestDechargeur::closingMidPoll() {
    Bench b;
    auto *w = new Dechargeur(b.host);
    w->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<Dechargeur> alive(w);
    w->findChild<QLineEdit *>("Text1")->setText("4");
    w->start();
    const QString path = w->logPath();
    b.fake->take();
    b.fake->replyDelayMs = 5;
    b.fake->onCommand = [&](const QString &cmd) {
        if (cmd == "11" && alive) QTimer::singleShot(0, alive, [&] { alive->close(); });
    };
    w->timerCycle();
    QVERIFY(alive);
    b.fake->onCommand = nullptr;
    const QStringList sent = b.fake->take();
    // Closing switches the discharge off at once and the poll sends nothing more.
    QCOMPARE(sent, (QStringList{"41", "6", "7", "5", "11", "16,0"}));
    QTRY_VERIFY(!alive);
    QCOMPARE(Bench::lines(path).size(), 2);
    QVERIFY(b.main.isVisible());
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

QTEST_MAIN(TestDechargeur)
#include "tst_dechargeur.moc"
