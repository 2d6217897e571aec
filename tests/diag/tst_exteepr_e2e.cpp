// The external EEPROM editor against the chargersim program on a pseudo-terminal, through
// the real serial stack: read the program library, edit a program, download the whole
// memory, read it again in a new window and find the edit. The line is not paced, so the
// 2 x 4096 reads take little time; the download takes the virtual EEPROM's 5 ms write cycle
// per byte. The window's event loop must keep running all along.
#include "diag/exteepr.h"
#include "diag/register.h"
#include "link/chargerlink.h"
#include "link/messages.h"
#include "link/session.h"
#include "serial/serialport.h"
#include "support/process.h"
#include "support/shot.h"
#include "winkit/windowregistry.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QtTest>

using diag::Exteepr;

class TstExteeprE2E : public QObject {
    Q_OBJECT
  private slots:
    void editedProgramReachesTheCharger() {
        QStringList boxes;
        chlink::setBoxHook([&](const chlink::BoxRequest &r) {
            boxes << r.text;
            return true;
        });
        QProcess sim;
        const QString dev = startChargersim(
            sim, qEnvironmentVariable("PELMORA_BIN_DIR") + QStringLiteral("/sim/chargersim"),
            {QStringLiteral("--no-console")});
        if (dev.isEmpty()) QSKIP("chargersim did not start");
        chlink::ChargerLink link([](const QString &d) { return new chlink::SerialBytePort(d); },
                                 [dev](int) { return dev; });
        link.portSetup();
        QString why;
        QVERIFY2(link.openPort(&why), qPrintable(why));
        link.connectionFlag = 1;
        chlink::Session session(link);
        winkit::WindowRegistry registry(&session);
        diag::registerWindows(registry);
        QWidget main;
        main.show();

        // The longest stretch the event loop went without running a 5 ms timer.
        QElapsedTimer gap;
        qint64 longest = 0;
        QTimer tick;
        tick.setInterval(5);
        connect(&tick, &QTimer::timeout, [&] { longest = qMax(longest, gap.restart()); });
        const auto open = [&] {
            auto *w = qobject_cast<Exteepr *>(registry.open(QStringLiteral("Exteepr"), &main));
            gap.start();
            tick.start();
            return w;
        };
        const auto edit = [](Exteepr *w, const char *name, const QString &t) {
            w->findChild<QLineEdit *>(name)->setText(t);
        };

        QPointer<Exteepr> w = open();
        QElapsedTimer clock;
        clock.start();
        w->option2();
        const qint64 readMs = clock.elapsed();
        QVERIFY(w->memoryRead(2));
        w->findChild<QScrollBar *>("Slider1")->setValue(4);
        QCOMPARE(w->findChild<QLineEdit *>("Text5")->text(), QStringLiteral("NiCd Cyclage    "));
        edit(w, "Text5", QStringLiteral("Essai bout-en-bout"));
        edit(w, "EdICharg", QStringLiteral("1,35"));
        edit(w, "EdDuree", QStringLiteral("02H20"));
        w->findChild<QCheckBox *>("Check1")->setChecked(true);
        shot(*w, "exteepr");
        QTimer::singleShot(3000, w, [&] { shot(*w, "exteepr_download"); });
        clock.restart();
        w->download();
        const qint64 downloadMs = clock.elapsed();
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(" | ")));
        QVERIFY(w->findChild<QLabel *>("LbInfos")->text().startsWith(
            QStringLiteral("EEprom2 écrite : 4067 octets")));
        w->leave();
        QTRY_VERIFY(w.isNull());
        tick.stop();

        w = open();
        w->option2();
        w->findChild<QScrollBar *>("Slider1")->setValue(4);
        QCOMPARE(w->findChild<QLineEdit *>("Text5")->text(), QStringLiteral("Essai bout-en-bo"));
        QCOMPARE(w->findChild<QLineEdit *>("EdICharg")->text(), QStringLiteral("1,350 A"));
        QCOMPARE(w->findChild<QLineEdit *>("EdDuree")->text(), QStringLiteral("02H20"));
        QVERIFY(w->findChild<QCheckBox *>("Check1")->isChecked());
        QVERIFY(w->findChild<QCheckBox *>("Check4")->isChecked()); // as it was
        w->findChild<QScrollBar *>("Slider1")->setValue(3);
        QCOMPARE(w->findChild<QLineEdit *>("Text5")->text(), QStringLiteral("NiCd SC 1700    "));
        w->findChild<QScrollBar *>("Slider1")->setValue(8);
        shot(*w, "exteepr_lithium");
        tick.stop();
        qInfo() << "read" << readMs << "ms, download" << downloadMs << "ms, longest gap" << longest
                << "ms";
        QCOMPARE(link.timeouts(), 0);
        QVERIFY2(longest < 250, qPrintable(QString::number(longest)));
        delete w.data();
        chlink::setBoxHook({});
        sim.terminate();
        sim.waitForFinished(5000);
    }
};

QTEST_MAIN(TstExteeprE2E)
#include "tst_exteepr_e2e.moc"
