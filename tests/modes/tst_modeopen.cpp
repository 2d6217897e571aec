// The main window's "Chargeur" and "Dechargeur" entries open the mode windows.
#include "bench.h"
#include "modes/chargeur.h"
#include "modes/dechargeur.h"
#include "ui/main/windows.h"

#include <QPointer>
#include <QPushButton>
#include <QtTest>

class TestModeOpen : public QObject {
    Q_OBJECT
  private slots:
    void opens_data() {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("title");
        QTest::newRow("Chargeur") << int(Main::Window::Chargeur) << "Mode chargeur rapide";
        QTest::newRow("Dechargeur") << int(Main::Window::Dechargeur) << "DECHARGEUR";
    }
    void opens() {
        QFETCH(int, which);
        QFETCH(QString, title);
        Bench b;
        QPointer<QWidget> w = openWindow(Main::Window(which), b.host);
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
};

QTEST_MAIN(TestModeOpen)
#include "tst_modeopen.moc"
