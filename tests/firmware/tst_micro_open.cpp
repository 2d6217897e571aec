// "Acces Micro" and the "Debugging Micro" menu entry of the main window open the
// microcontroller window, which hides the main window until "Retour".

#include "firmware/micro.h"
#include "link/chargerlink.h"
#include "serial/commap.h"
#include "sim/simport.h"
#include "sim/virtualcharger.h"
#include "ui/main/app.h"
#include "ui/main/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QtTest>

class TstMicroOpen : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("pelmora-test")); }

    void opensFromTheMainWindow_data() {
        QTest::addColumn<bool>("menu");
        QTest::newRow("Acces Micro") << false;
        QTest::newRow("Debugging Micro") << true;
    }
    void opensFromTheMainWindow() {
        QFETCH(bool, menu);
        sim::VirtualCharger charger;
        serialio::ComMap ports(4);
        chlink::ChargerLink link([&](const QString &) { return new sim::SimBytePort(&charger); },
                                 [](int) { return QStringLiteral("virtuel"); });
        Main main(link, ports);
        registerWindows(main.registry());
        main.show();
        if (menu)
            main.findChild<QAction *>(QStringLiteral("MnuMicro"))->trigger();
        else
            main.findChild<QPushButton *>(QStringLiteral("Cb_Debug"))->click();
        QPointer<Micro> micro;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *m = qobject_cast<Micro *>(w)) micro = m;
        QVERIFY(micro);
        QVERIFY(micro->isVisible());
        QVERIFY(micro->testAttribute(Qt::WA_DeleteOnClose));
        QVERIFY(main.isHidden());
        micro->findChild<QPushButton *>(QStringLiteral("MQuitter"))->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(micro.isNull());
        QVERIFY(main.isVisible());
        QCOMPARE(link.reconnectOnActivate, 0);
    }
};

QTEST_MAIN(TstMicroOpen)
#include "tst_micro_open.moc"
