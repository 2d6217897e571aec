// How the link reads the charger's three reply kinds, and that no wait hangs.
#include "link/chargerlink.h"
#include "link/exchanges.h"
#include "support/scriptedcharger.h"

#include <QSignalSpy>
#include <QTest>

using namespace chlink;

class TstFraming : public QObject {
    Q_OBJECT

    // A link on a scripted port whose charger answers every write with `reply`.
    struct Rig {
        ScriptedCharger *port = nullptr;
        ChargerLink link;
        explicit Rig(const QByteArray &reply)
            : link(
                  [this, reply](const QString &) {
                      port = new ScriptedCharger([reply](const QByteArray &) { return reply; });
                      return port;
                  },
                  [](int) { return QStringLiteral("scripted"); }) {
            link.portSetup();
            link.openPort();
            link.setReplyTimeout(150);
        }
    };

  private slots:
    void replyFrame_data() {
        QTest::addColumn<QByteArray>("incoming");
        QTest::addColumn<int>("n");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("leftOver");
        QTest::newRow("plain") << QByteArray("\x1b\x01\x02\x00", 4) << 2 << QByteArray("\x01\x02")
                               << 0;
        QTest::newRow("stray bytes before the ESC are dropped")
            << QByteArray("\x13\x06\x55\x1b\x07\x08\x00", 7) << 2 << QByteArray("\x07\x08") << 0;
        QTest::newRow("27 inside the frame is data")
            << QByteArray("\x1b\x1b\x1b\x00", 4) << 2 << QByteArray("\x1b\x1b") << 0;
        QTest::newRow("6 inside the frame is data")
            << QByteArray("\x1b\x06\x00", 3) << 1 << QByteArray("\x06") << 0;
        QTest::newRow("trailing byte is read, the next reply stays")
            << QByteArray("\x1b\x01\x02\x03\x09\x1b", 6) << 3 << QByteArray("\x01\x02\x03") << 1;
    }
    void replyFrame() {
        QFETCH(QByteArray, incoming);
        QFETCH(int, n);
        QFETCH(QByteArray, data);
        QFETCH(int, leftOver);
        Rig rig(incoming);
        rig.link.command(CMD_READ_CLOCK);
        const auto f = rig.link.readFrame(n);
        QVERIFY(f.has_value());
        QCOMPARE(*f, data);
        QCOMPARE(rig.link.pending(), qint64(leftOver));
        QCOMPARE(rig.port->written, QByteArray("\x1b\x29", 2));
    }

    void ackWaitDiscardsUpToTheSix() {
        Rig rig(QByteArray("\x01\x1b\x55\x06\x44", 5));
        rig.link.command(CMD_EE_WRITE_MASTER, {12, 34});
        QVERIFY(rig.link.waitAck());
        QCOMPARE(rig.link.pending(), qint64(1));
        QCOMPARE(rig.port->written, QByteArray("\x1b\x27\x0c\x22", 4));
    }

    void answerByteIsNotInspected() {
        Rig rig(QByteArray("\x00", 1));
        QVERIFY(chlink::setOutput(chlink::Session(rig.link), CMD_CUT_CHARGE, 1));
        QCOMPARE(rig.link.lastByte, quint8(0));
        QCOMPARE(rig.link.error(), LinkError::None);
    }

    // Every way a reply can fail to come ends the wait with the reason, never a hang.
    void failedWaits_data() {
        QTest::addColumn<QByteArray>("incoming");
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("error");
        QTest::newRow("silent charger") << QByteArray() << "" << int(LinkError::Timeout);
        QTest::newRow("frame cut short")
            << QByteArray("\x1b\x01", 2) << "" << int(LinkError::Timeout);
        QTest::newRow("only noise, never an ESC")
            << QByteArray("\x01\x02\x03", 3) << "" << int(LinkError::Timeout);
        QTest::newRow("chattering charger, never an ESC")
            << QByteArray(1, char(0x11)) << "chatter" << int(LinkError::Timeout);
        QTest::newRow("abort flag raised") << QByteArray() << "abort" << int(LinkError::Aborted);
        QTest::newRow("port vanishes") << QByteArray() << "vanish" << int(LinkError::PortFailed);
        QTest::newRow("program ending") << QByteArray() << "shutdown" << int(LinkError::Aborted);
    }
    void failedWaits() {
        QFETCH(QByteArray, incoming);
        QFETCH(QString, how);
        QFETCH(int, error);
        Rig rig(incoming);
        rig.link.setReplyTimeout(how.isEmpty() ? 100 : 5000);
        QSignalSpy lost(&rig.link, &ChargerLink::portLost);
        QTimer chatter;
        if (how == "chatter") { // a byte every 5 ms, for ever
            rig.link.setReplyTimeout(300);
            QObject::connect(&chatter, &QTimer::timeout, rig.port,
                             [&] { rig.port->deliver(QByteArray(1, char(0x11))); });
            chatter.start(5);
        }
        if (how == "abort")
            QTimer::singleShot(20, &rig.link, [&] { rig.link.setAbortFlag(1); });
        else if (how == "vanish")
            QTimer::singleShot(20, rig.port, [&] { rig.port->vanish(); });
        else if (how == "shutdown")
            QTimer::singleShot(20, &rig.link, [&] { rig.link.shutdown(); });
        QElapsedTimer t;
        t.start();
        rig.link.command(CMD_READ_VBAT);
        QVERIFY(!rig.link.readFrame(2).has_value());
        QCOMPARE(int(rig.link.error()), error);
        QVERIFY2(t.elapsed() < 3000, "the wait ended late");
        if (how == "vanish") {
            QCOMPARE(lost.count(), 1);
            QCOMPARE(rig.link.connectionFlag, 0);
            // Further exchanges fail at once and report nothing more.
            QVERIFY(!chlink::readChannel(chlink::Session(rig.link), CMD_READ_VBAT).has_value());
            QCOMPARE(lost.count(), 1);
        }
        if (how.isEmpty() || how == "chatter") QCOMPARE(rig.link.timeouts(), 1);
    }

    void abortedWaitLeavesLastByteZero() {
        Rig rig(QByteArray("\x42", 1));
        rig.link.lastByte = 9;
        rig.link.setAbortFlag(1);
        QVERIFY(!rig.link.waitByte());
        QCOMPARE(rig.link.lastByte, quint8(0));
    }
};

QTEST_GUILESS_MAIN(TstFraming)
#include "tst_framing.moc"
