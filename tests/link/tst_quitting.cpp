// A wait in progress when the program is told to quit ends at once instead of spinning until
// its time-out: no event loop runs any more once the application is quitting.
#include "link/chargerlink.h"
#include "support/scriptedcharger.h"

#include <QElapsedTimer>
#include <QTest>

using namespace chlink;

class TstQuitting : public QObject {
    Q_OBJECT
  private slots:
    void waitEndsWhenTheApplicationQuits() {
        ChargerLink link([](const QString &) { return ScriptedCharger::silent(); },
                         [](int) { return QStringLiteral("silent"); });
        link.portSetup();
        QVERIFY(link.openPort());
        link.setReplyTimeout(3000);
        QTimer::singleShot(50, [] { QCoreApplication::exit(0); });
        QElapsedTimer t;
        t.start();
        link.command(CMD_READ_VBAT);
        QVERIFY(!link.readFrame(2).has_value());
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(link.isShuttingDown());
        QCOMPARE(link.error(), LinkError::Aborted);
        // Later waits return at once too.
        QVERIFY(!link.waitByte());
    }
};

QTEST_GUILESS_MAIN(TstQuitting)
#include "tst_quitting.moc"
