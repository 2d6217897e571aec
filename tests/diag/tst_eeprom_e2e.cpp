// The internal EEPROM editor through the real serial stack, against the chargersim program on
// its pseudo-terminal: a byte edited and written is read back from the charger by the editor
// opened again; a worn cell that keeps its old byte is reported, not passed over.
#include "diag/eeprom.h"
#include "diag/eepromlogic.h"
#include "diag/register.h"
#include "link/chargerlink.h"
#include "link/messages.h"
#include "link/session.h"
#include "serial/serialport.h"
#include "support/process.h"
#include "support/shot.h"
#include "winkit/windowregistry.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

class TestEEpromEndToEnd : public QObject {
    Q_OBJECT
  private slots:
    void editedByteIsReadBackFromTheCharger() {
        QStringList boxes;
        chlink::setBoxHook([&](const chlink::BoxRequest &r) {
            boxes << r.text;
            return true;
        });
        QProcess sim;
        const QString dev =
            startChargersim(sim, qEnvironmentVariable("PELMORA_BIN_DIR") + "/sim/chargersim",
                            {QStringLiteral("--fail-eeprom-write"), QStringLiteral("slave:150")});
        if (!dev.startsWith("/dev/")) QSKIP("chargersim did not start on a pseudo-terminal");
        chlink::ChargerLink link([](const QString &d) { return new chlink::SerialBytePort(d); },
                                 [dev](int) { return dev; });
        link.portSetup();
        QString why;
        QVERIFY2(link.openPort(&why), qPrintable(why));
        chlink::Session session(link);
        QWidget main;
        main.show();
        winkit::WindowRegistry registry(&session);
        diag::registerWindows(registry);
        session.setTargetSelector(2); // "EEprom Slave"

        const auto open = [&] {
            QPointer<diag::EEprom> w =
                qobject_cast<diag::EEprom *>(registry.open(QStringLiteral("EEprom"), &main));
            if (!w) return w;
            // The activation reads both EEPROMs: 512 exchanges.
            QTest::qWait(50);
            if (!QTest::qWaitFor([&] { return !w || !w->isBusy(); }, 30000))
                qWarning("the editor's reads did not end");
            return w;
        };
        QPointer<diag::EEprom> w = open();
        QVERIFY(w);
        QVERIFY(!w->findChild<QLabel *>("Label3")->text().isEmpty());
        QVERIFY2(w->findChild<QLineEdit *>("Text4")->text().contains("ESCLAVE"),
                 qPrintable(w->findChild<QLineEdit *>("Text4")->text()));
        const quint8 old = quint8(link.tableB.at(10));
        const quint8 edited = quint8(old ^ 0x5A);
        w->findChild<QLineEdit *>("Text2")->setText("10");
        w->enterAddress();
        w->findChild<QLineEdit *>("Text3")->setText(QString::number(edited));
        w->enterData();
        link.tableB[150] = char(~quint8(link.tableB.at(150))); // a worn cell: keeps its byte
        w->findChild<QPushButton *>("CBUpdate")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w->isBusy(), 30000);
        QCOMPARE(boxes, QStringList{"Vérification : 1 octet(s) différent(s) après écriture, le "
                                    "premier à l'adresse 150"});
        w->findChild<QPushButton *>("CBeepend")->click();
        QTRY_VERIFY(w.isNull());

        // Forget the byte on the PC's side; the editor opened again reads it from the charger.
        link.tableB[10] = char(old);
        w = open();
        QVERIFY(w);
        QCOMPARE(quint8(link.tableB.at(10)), edited);
        QCOMPARE(w->findChild<QLabel *>("Label3")->text().mid(40, 2),
                 diag::hexByte(edited)); // address 10 of the general line
        shot(*w, "eeprom");
        QCOMPARE(link.timeouts(), 0);
        delete w.data();
        chlink::setBoxHook({});
        sim.terminate();
        sim.waitForFinished(5000);
    }
};

QTEST_MAIN(TestEEpromEndToEnd)
#include "tst_eeprom_e2e.moc"
