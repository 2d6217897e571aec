// pelmora's link through the real serial stack to the virtual charger on a pseudo-terminal.
#include "link/chargerlink.h"
#include "link/exchanges.h"
#include "link/handshake.h"
#include "serial/serialport.h"
#include "sim/ptyserver.h"
#include "sim/virtualcharger.h"

#include "support/process.h"

#include <QSignalSpy>
#include <QTest>

#include <ctime>

using namespace chlink;

class TstSerialE2E : public QObject {
    Q_OBJECT

    struct Rig {
        sim::VirtualCharger charger;
        sim::PtyServer server{&charger};
        std::unique_ptr<ChargerLink> link;
        QTimer timer1, timer2;
        std::unique_ptr<Handshake> hs;

        bool start() {
            if (!server.start()) return false;
            const QString dev = server.slavePath();
            link = std::make_unique<ChargerLink>(
                [](const QString &d) { return new SerialBytePort(d); }, [dev](int) { return dev; });
            timer1.setInterval(200);
            QObject::connect(&timer1, &QTimer::timeout, [this] { link->setAbortFlag(1); });
            QObject::connect(&timer2, &QTimer::timeout, [this] { link->setProbeTimeoutFlag(1); });
            hs = std::make_unique<Handshake>(*link, &timer1, &timer2);
            link->portSetup();
            return true;
        }
    };

  private slots:
    void handshakeAndExchangesThroughAPseudoTerminal() {
        Rig rig;
        QVERIFY(rig.start());
        QTimer::singleShot(10000, rig.hs.get(), [&] { rig.hs->cancel(); });
        QCOMPARE(rig.hs->run(), Handshake::Result::Connected);
        QCOMPARE(rig.link->tableA.left(16), rig.charger.eepromMaster.left(16));
        QCOMPARE(rig.link->tableB.left(16), rig.charger.eepromSlave.left(16));
        // An EEPROM byte written and read back through the serial port.
        QVERIFY(chlink::eeWrite(chlink::Session(*rig.link), 1, 200, 0x5C));
        QCOMPARE(chlink::eeRead(chlink::Session(*rig.link), 1, 200).value_or(0), quint8(0x5C));
        QCOMPARE(quint8(rig.charger.eepromMaster[200]), quint8(0x5C));
    }

    // The other side closes mid-exchange: reported once, port closed, no core spinning.
    void vanishingPortIsReportedOnceAndCostsNothing() {
        Rig rig;
        QVERIFY(rig.start());
        QVERIFY(rig.link->openPort());
        QSignalSpy lost(rig.link.get(), &ChargerLink::portLost);
        rig.link->setReplyTimeout(5000);
        QTimer::singleShot(100, &rig.server, [&] { rig.server.vanish(); });
        // A read the charger never answers, because it is gone.
        rig.link->command(CMD_EXT_EE_READ, {0, 0});
        QVERIFY(!rig.link->readFrame(1).has_value());
        QCOMPARE(rig.link->error(), LinkError::PortFailed);
        QCOMPARE(lost.count(), 1);
        QVERIFY(!rig.link->isOpen());
        QCOMPARE(rig.link->connectionFlag, 0);

        const double before = cpuSeconds();
        QTest::qWait(1000);
        const double used = cpuSeconds() - before;
        QVERIFY2(used < 0.2, qPrintable(QStringLiteral("%1 s of CPU in 1 s idle").arg(used)));
        QCOMPARE(lost.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TstSerialE2E)
#include "tst_serial_e2e.moc"
