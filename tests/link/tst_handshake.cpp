// The connection routine against the virtual charger and against scripted chargers.
#include "link/chargerlink.h"
#include "link/exchanges.h"
#include "link/handshake.h"
#include "sim/simport.h"
#include "sim/virtualcharger.h"
#include "support/scriptedcharger.h"

#include <QSignalSpy>
#include <QTest>

using namespace chlink;

namespace {

// The link, the two timers of the main window and the handshake, wired as pelmora wires
// them, on a port made by `make`.
struct Rig {
    ChargerLink link;
    QTimer timer1, timer2;
    Handshake hs{link, &timer1, &timer2};
    QStringList shown;

    explicit Rig(ChargerLink::PortFactory make)
        : link(std::move(make), [](int) { return QStringLiteral("dev"); }) {
        timer1.setInterval(200);
        timer2.setInterval(20);
        QObject::connect(&timer1, &QTimer::timeout, [this] { link.setAbortFlag(1); });
        QObject::connect(&timer2, &QTimer::timeout, [this] { link.setProbeTimeoutFlag(1); });
        QObject::connect(&hs, &Handshake::display, [this](const QString &t) { shown << t; });
        link.portSetup();
        link.setReplyTimeout(500);
    }
    // Runs the handshake, cancelling it after `ms` if it has not ended.
    Handshake::Result runFor(int ms) {
        QTimer::singleShot(ms, &hs, [this] { hs.cancel(); });
        return hs.run();
    }
};

// Answers the probe at once and the confirmation `confirmDelayMs` later; after the handshake
// the virtual charger answers the commands.
class SlowConfirmPort : public ScriptedCharger {
  public:
    SlowConfirmPort(sim::VirtualCharger *charger, int confirmDelayMs)
        : m_charger(charger), m_delay(confirmDelayMs) {}
    void write(const QByteArray &bytes) override {
        if (!isOpen()) return;
        written += bytes;
        if (bytes == QByteArray(1, char(PROBE))) {
            deliver(QByteArray(1, char(ESC)));
        } else if (bytes == QByteArray(1, char(CONFIRM))) {
            deliver(QByteArray(1, char(PROBE)), m_delay);
        } else {
            QByteArray out;
            auto c = QObject::connect(m_charger, &sim::VirtualCharger::transmit,
                                      [&](const QByteArray &b) { out += b; });
            m_charger->receive(bytes);
            QObject::disconnect(c);
            deliver(out);
        }
    }

  private:
    sim::VirtualCharger *m_charger;
    int m_delay;
};

QByteArray probes(const QByteArray &written) {
    QByteArray p;
    for (char c : written)
        if (quint8(c) == PROBE) p += c;
    return p;
}

} // namespace

class TstHandshake : public QObject {
    Q_OBJECT
  private slots:
    void connectsAndReportsTheSlave_data() {
        QTest::addColumn<bool>("slave");
        QTest::addColumn<QString>("text");
        QTest::newRow("slave answers") << true << "Srl Connecté\r\nSlave Connecté.";
        QTest::newRow("slave silent") << false << "Srl Connecté\r\nI2C err : 0, 0, 0";
    }
    void connectsAndReportsTheSlave() {
        QFETCH(bool, slave);
        QFETCH(QString, text);
        sim::VirtualCharger charger;
        charger.slavePresent = slave;
        Rig rig([&](const QString &) { return new sim::SimBytePort(&charger); });
        rig.link.tableA.fill(char(0x77), 257);
        rig.link.tableB.fill(char(0x66), 257);
        rig.link.connectionFlag = 0;

        QCOMPARE(rig.runFor(5000), Handshake::Result::Connected);
        QCOMPARE(rig.shown.first(), QStringLiteral("Essais de Connection\r\n 0"));
        QCOMPARE(rig.shown.last(), text);
        QVERIFY(rig.shown.contains(QStringLiteral("Connecté")));
        QCOMPARE(rig.link.connectionFlag, 1);
        QCOMPARE(rig.link.tableA.left(16), charger.eepromMaster.left(16));
        // A slave that does not answer over I2C reads as erased bytes.
        QCOMPARE(rig.link.tableB.left(16),
                 slave ? charger.eepromSlave.left(16) : QByteArray(16, char(0xFF)));
        QCOMPARE(rig.link.tableA.mid(16), QByteArray(241, char(0x77)));
        QCOMPARE(rig.link.tableB.mid(16), QByteArray(241, char(0x66)));
        // The retry timer is stopped and its flag clear, so later waits do not return at once.
        QVERIFY(!rig.timer1.isActive());
        QCOMPARE(rig.link.abortFlag(), quint8(0));
        QVERIFY(chlink::eeRead(chlink::Session(rig.link), 1, 3).has_value());
    }

    void reconnectionReloadsTheTables() {
        sim::VirtualCharger charger;
        Rig rig([&](const QString &) { return new sim::SimBytePort(&charger); });
        QCOMPARE(rig.runFor(5000), Handshake::Result::Connected);
        charger.eepromMaster[5] = char(0xA5);
        charger.eepromSlave[15] = char(0x5A);
        rig.link.closePort();
        QCOMPARE(rig.runFor(5000), Handshake::Result::Connected);
        QCOMPARE(quint8(rig.link.tableA[5]), quint8(0xA5));
        QCOMPARE(quint8(rig.link.tableB[15]), quint8(0x5A));
    }

    // With no charger the probes go on, one per retry tick, and the count is shown.
    void probesCountWithNoCharger() {
        ScriptedCharger *port = nullptr;
        Rig rig([&](const QString &) { return port = ScriptedCharger::silent(); });
        QCOMPARE(rig.runFor(1100), Handshake::Result::Cancelled);
        const int sent = int(probes(port->written).size());
        QVERIFY2(sent >= 3 && sent <= 7, qPrintable(QString::number(sent)));
        QCOMPARE(rig.shown.last(), QStringLiteral("Essais de Connection\r\n %1").arg(sent - 1));
        QVERIFY(!rig.timer1.isActive());
        QCOMPARE(rig.link.abortFlag(), quint8(0));
    }

    // A charger that answers 27 but then not 0x55 is probed again at the next tick.
    void wrongConfirmationProbesAgain() {
        int confirmations = 0;
        sim::VirtualCharger charger;
        ScriptedCharger *port = nullptr;
        Rig rig([&](const QString &) {
            port = new ScriptedCharger([&](const QByteArray &w) -> QByteArray {
                if (w == QByteArray(1, char(PROBE))) return QByteArray(1, char(ESC));
                if (w == QByteArray(1, char(CONFIRM)))
                    return QByteArray(1, char(++confirmations < 3 ? 0x11 : PROBE));
                // After the handshake, the virtual charger answers the commands.
                QByteArray out;
                auto c = QObject::connect(&charger, &sim::VirtualCharger::transmit,
                                          [&](const QByteArray &b) { out += b; });
                charger.receive(w);
                QObject::disconnect(c);
                return out;
            });
            return port;
        });
        QCOMPARE(rig.runFor(5000), Handshake::Result::Connected);
        QCOMPARE(confirmations, 3);
        QCOMPARE(probes(port->written).size(), 3);
        QCOMPARE(rig.shown.last(), QStringLiteral("Srl Connecté\r\nSlave Connecté."));
    }

    // A second run while one probes restarts that one instead of nesting a second loop.
    void secondRunRestartsInsteadOfNesting() {
        QList<ScriptedCharger *> ports;
        Rig rig([&](const QString &) {
            ports << ScriptedCharger::silent();
            return ports.last();
        });
        Handshake::Result inner = Handshake::Result::Connected;
        bool innerReturned = false;
        QTimer::singleShot(500, &rig.hs, [&] {
            inner = rig.hs.run();
            innerReturned = true;
        });
        QCOMPARE(rig.runFor(1200), Handshake::Result::Cancelled);
        QVERIFY(innerReturned);
        QCOMPARE(inner, Handshake::Result::Cancelled);
        QVERIFY(!rig.hs.isRunning());
        QCOMPARE(ports.size(), 1);
        QCOMPARE(ports.first()->opens, 2); // closed and reopened by the restart
        QCOMPARE(rig.shown.count(QStringLiteral("Essais de Connection\r\n 0")), 2);
    }

    // Retry ticks that fall while the charger takes its time to confirm raise the abort flag;
    // the handshake clears it as it stops the retry timer, or the reads after it would end
    // at once.
    void retryTicksDuringTheConfirmation_data() {
        QTest::addColumn<int>("delayMs");
        QTest::newRow("one tick") << 260;
        QTest::newRow("two ticks") << 460;
    }
    void retryTicksDuringTheConfirmation() {
        QFETCH(int, delayMs);
        sim::VirtualCharger charger;
        Rig rig([&](const QString &) { return new SlowConfirmPort(&charger, delayMs); });
        QCOMPARE(rig.runFor(5000), Handshake::Result::Connected);
        QCOMPARE(rig.shown.last(), QStringLiteral("Srl Connecté\r\nSlave Connecté."));
        QCOMPARE(rig.link.tableA.left(16), charger.eepromMaster.left(16));
        QCOMPARE(rig.link.abortFlag(), quint8(0));
    }

    void portThatCannotOpenIsAPortFault() {
        Rig rig([&](const QString &) {
            auto *p = ScriptedCharger::silent();
            p->openOk = false;
            return p;
        });
        QSignalSpy errors(&rig.hs, &Handshake::portError);
        rig.link.connectionFlag = 1;
        QCOMPARE(rig.runFor(2000), Handshake::Result::PortError);
        QCOMPARE(errors.count(), 1);
        QVERIFY(rig.link.portFault);
        QCOMPARE(rig.link.connectionFlag, 1); // left as it was
        QVERIFY(!rig.timer1.isActive());
        QCOMPARE(rig.link.abortFlag(), quint8(0));
    }

    // A charger that answers the handshake and then falls silent gives a time-out, not a hang.
    void silenceAfterHandshakeTimesOut() {
        Rig rig([&](const QString &) {
            return new ScriptedCharger([](const QByteArray &w) -> QByteArray {
                if (w == QByteArray(1, char(PROBE))) return QByteArray(1, char(ESC));
                if (w == QByteArray(1, char(CONFIRM))) return QByteArray(1, char(PROBE));
                return {};
            });
        });
        QSignalSpy timedOut(&rig.hs, &Handshake::timedOut);
        QCOMPARE(rig.runFor(5000), Handshake::Result::Timeout);
        QCOMPARE(timedOut.count(), 1);
        QCOMPARE(rig.shown.last(), QStringLiteral("Connecté"));
    }
};

QTEST_GUILESS_MAIN(TstHandshake)
#include "tst_handshake.moc"
