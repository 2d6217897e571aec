// The main window's "Réglage" button and "Mode Reglage" entry open the calibration selector
// in its place, and "Quitter" switches off what a calibration window drives before the port
// closes.
#include "../modes/bench.h"
#include "calib/calibwindow.h"
#include "calib/reglage.h"
#include "serial/commap.h"
#include "ui/main/app.h"
#include "ui/main/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

class TestCalibOpen : public QObject {
    Q_OBJECT
  private slots:
    void mainWindowOpensSelector_data() {
        QTest::addColumn<QString>("control");
        QTest::newRow("Réglage button") << "Cb_Reglage";
        QTest::newRow("Mode Reglage entry") << "MnuReglage";
    }
    void mainWindowOpensSelector() {
        QFETCH(QString, control);
        Bench b;
        serialio::ComMap ports(4);
        Main main(*b.link, ports);
        b.link->openPort();
        b.link->connectionFlag = 1;
        registerWindows(main.registry());
        main.show();
        if (auto *button = main.findChild<QPushButton *>(control))
            button->click();
        else
            main.findChild<QAction *>(control)->trigger();
        QPointer<calib::Reglage> selector =
            qobject_cast<calib::Reglage *>(main.registry().openWindow("Reglage"));
        QVERIFY(selector);
        QCOMPARE(selector->windowTitle(), QStringLiteral("Mode Reglage"));
        QVERIFY(selector->isVisible());
        QVERIFY(!main.isVisible());
        QVERIFY(b.boxes.isEmpty());

        // A calibration window measuring beside it; Quitter switches its paths off.
        selector->choose(3); // "Courrant Charge"
        QPointer<calib::CalibWindow> w =
            qobject_cast<calib::CalibWindow *>(main.registry().openWindow("Rcourant"));
        QVERIFY(w);
        QTRY_VERIFY(w->isOpened());
        QCOMPARE(b.fake->outputs.value(chlink::CMD_CUT_CHARGE), 1);
        main.quit();
        QTRY_VERIFY(!w);
        QTRY_VERIFY(!selector);
        QCOMPARE(b.fake->outputs.value(chlink::CMD_CUT_CHARGE), 0);
        QCOMPARE(b.fake->outputs.value(chlink::CMD_CUT_POWER), 0);
    }
};

QTEST_MAIN(TestCalibOpen)
#include "tst_calibopen.moc"
