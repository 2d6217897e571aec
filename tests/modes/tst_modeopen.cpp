// The main window's "Chargeur" and "Dechargeur" entries open the mode windows, and its
// "Quitter" stops their runs before the port closes.
#include "bench.h"
#include "modes/chargeur.h"
#include "modes/dechargeur.h"
#include "serial/commap.h"
#include "ui/main/app.h"
#include "ui/main/mainwindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

namespace {
const QStringList kChargePoll = {"41",   "6",    "7",  "5",  "10",   "15,0", "17,0", "18,1",
                                 "16,1", "16,0", "13", "12", "18,0", "17,1", "15,1"};
const QStringList kChargeStop = {"15,0", "17,0", "18,1"};
const QStringList kDischargePoll = {"41", "6", "7", "5", "11", "16,0", "13", "16,1"};
const QStringList kDischargeStop = {"16,0", "17,0", "18,1"};
} // namespace

class TestModeOpen : public QObject {
    Q_OBJECT
  private slots:
    void opens_data() {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("title");
        QTest::newRow("Chargeur") << "Chargeur"
                                  << "Mode chargeur rapide";
        QTest::newRow("Dechargeur") << "Dechargeur"
                                    << "DECHARGEUR";
    }
    void opens() {
        QFETCH(QString, which);
        QFETCH(QString, title);
        Bench b;
        QPointer<QWidget> w = b.registry->open(which, &b.main);
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), title);
        QVERIFY(w->isVisible());
        QVERIFY(w->testAttribute(Qt::WA_DeleteOnClose));
        QVERIFY(!b.main.isVisible());
        QCOMPARE(b.mainTimersStopped, 1);
        // "Retour": the main window comes back without a new handshake.
        w->findChild<QPushButton *>("CQuitter")->click();
        QVERIFY(b.main.isVisible());
        QCOMPARE(b.link->reconnectOnActivate, 0);
        QTRY_VERIFY(!w);
    }

    void quitterStopsRuns_data() {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("during"); // the command in whose reply wait Quitter comes
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("charge, between polls") << "Chargeur"
                                               << "" << (kChargePoll + kChargeStop);
        QTest::newRow("charge, while the battery is read")
            << "Chargeur"
            << "13" << (kChargePoll.mid(0, 11) + kChargeStop);
        QTest::newRow("charge, with the pulse's discharge path on")
            << "Chargeur"
            << "16,1" << (kChargePoll.mid(0, 9) + QStringList{"16,0"} + kChargeStop);
        QTest::newRow("discharge, between polls") << "Dechargeur"
                                                  << "" << (kDischargePoll + kDischargeStop);
        QTest::newRow("discharge, while the current is read")
            << "Dechargeur"
            << "11" << (kDischargePoll.mid(0, 5) + kDischargeStop);
    }
    // "Quitter" with a run going: its outputs go off with Arret's bytes, once, after the reply
    // in progress and before the port closes; its log keeps every record.
    void quitterStopsRuns() {
        QFETCH(QString, which);
        QFETCH(QString, during);
        QFETCH(QStringList, sent);
        Bench b;
        b.fake->counts[chlink::CMD_READ_VBAT] = {720}; // 1.8 V a cell: the discharge goes on
        serialio::ComMap ports(4);
        Main main(*b.link, ports); // its load closes the port and clears the tables
        b.link->openPort();
        b.calibrate();
        QPointer<modes::ModeWindow> w;
        registerWindows(main.registry());
        main.open(which, Main::Check::AsRegistered);
        for (QWidget *top : QApplication::topLevelWidgets())
            if (auto *m = qobject_cast<modes::ModeWindow *>(top)) w = m;
        QVERIFY(w);
        if (auto *cells = w->findChild<QLineEdit *>("Text1"); which == "Dechargeur")
            cells->setText("4");
        w->start();
        QVERIFY(w->isRunActive());
        const QString path = w->logPath();
        b.fake->take();
        b.fake->replyDelayMs = 5;
        if (!during.isEmpty())
            b.fake->onCommand = [&](const QString &cmd) {
                if (cmd == during) QTimer::singleShot(0, &main, [&] { main.quit(); });
            };
        w->timerCycle();
        b.fake->onCommand = nullptr;
        if (during.isEmpty()) main.quit();
        QTRY_VERIFY(!w);
        QTRY_VERIFY(!b.link->isOpen());
        QCOMPARE(b.fake->take(), sent); // nothing can be sent once the port is closed
        QVERIFY(b.fake->outputsStopped());
        QVERIFY(b.link->isShuttingDown());
        QVERIFY(!main.isVisible());
        QCOMPARE(Bench::lines(path).size(), during.isEmpty() ? 3 : 2);
    }
};

QTEST_MAIN(TestModeOpen)
#include "tst_modeopen.moc"
