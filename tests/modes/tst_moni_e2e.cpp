// The monitor through the real serial stack: the virtual charger on a pseudo-terminal whose
// line passes bytes only at the charger's own speed (9600 for commands, 19200 for its
// stream), paced at that speed. The window sends command 3 at 9600 baud, follows the
// charger's own run at 19200 on the port the user chose, logs every record, and leaves the
// port at 9600, where the charger answers again.
#include "link/chargerlink.h"
#include "link/exchanges.h"
#include "link/messages.h"
#include "link/session.h"
#include "modes/moni.h"
#include "modes/register.h"
#include "modes/runchart.h"
#include "serial/serialport.h"
#include "sim/ptyserver.h"
#include "sim/simport.h"
#include "sim/virtualcharger.h"
#include "winkit/windowregistry.h"

#include "support/shot.h"

#include <QCheckBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using modes::Moni;

namespace {
QStringList fileLines(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList l = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"));
    if (!l.isEmpty() && l.last().isEmpty()) l.removeLast();
    return l;
}
} // namespace

class TestMoniEndToEnd : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY(m_data.isValid());
        qputenv("XDG_DATA_HOME", m_data.path().toLocal8Bit());
        chlink::setBoxHook([](const chlink::BoxRequest &r) {
            qWarning() << "message box:" << r.text;
            return true;
        });
    }
    void followsTheChargersOwnRun();
    void followsTheDemoCharger();

  private:
    QTemporaryDir m_data;
};

void TestMoniEndToEnd::followsTheChargersOwnRun() {
    sim::VirtualCharger charger;
    charger.setBattery({sim::Chemistry::NiMH, 6, 2.0, 0.3, 20.0});
    charger.setManualClock(true);
    sim::PtyServer server(&charger);
    server.setStrictBaud(true);
    server.setPacingFollowsCharger(true);
    QString why;
    QVERIFY2(server.start(&why), qPrintable(why));
    const QString device = server.slavePath();

    // The charger is on COM 3; COM 1 is another device.
    chlink::ChargerLink link([](const QString &d) { return new chlink::SerialBytePort(d); },
                             [&](int n) { return n == 3 ? device : QStringLiteral("/dev/null"); });
    link.portNumber = 3;
    link.portSetup();
    QVERIFY(link.openPort(&why));
    chlink::Session session(link);
    QVERIFY(chlink::eeRead(session, 1, 0)); // talking at 9600
    winkit::WindowRegistry registry(&session);
    modes::registerWindows(registry);
    QWidget main;
    main.show();

    QPointer<Moni> m = qobject_cast<Moni *>(registry.open(QStringLiteral("Moni"), &main));
    QVERIFY(m);
    QTRY_VERIFY(m->streamOpen());
    QTRY_COMPARE(charger.mode(), sim::VirtualCharger::Mode::Monitor);
    QCOMPARE(link.deviceName(), device);
    QCOMPARE(link.port()->baudRate(), 19200);

    // The charger's own run, ten of its seconds at a time (ten records, paced at 19200 baud).
    constexpr int kRecords = 300;
    QTimer clock;
    clock.setInterval(170);
    connect(&clock, &QTimer::timeout, m, [&] {
        if (m->tally().total() >= kRecords)
            m->arret();
        else
            charger.advance(10);
    });
    QTimer::singleShot(30000, m, [&] { m->arret(); });
    clock.start();
    m->depart();
    clock.stop();
    QVERIFY(m->tally().total() >= kRecords);

    const QStringList lines = fileLines(m->logPath());
    QCOMPARE(lines.size(), 1 + m->tally().total());
    QCOMPARE(lines.first(), modes::moni::logHeader());
    int lastSample = -1, lastTemps = -1;
    for (const QString &line : lines.mid(1)) {
        const QStringList f = line.split(QLatin1Char(','));
        QCOMPARE(f.size(), 16);
        QCOMPARE(f.at(0), QStringLiteral("C")); // still charging
        QCOMPARE(f.at(3), QStringLiteral("="));
        const int sample = f.at(1).trimmed().toInt();
        const int temps = f.at(2).trimmed().toInt();
        if (lastSample >= 0) {
            QCOMPARE(sample, lastSample + 1); // no record lost, none twice
            QCOMPARE(temps, lastTemps + 1);
        }
        lastSample = sample;
        lastTemps = temps;
        const int vbat = f.at(4).trimmed().toInt();
        QVERIFY2(vbat > 6 * 1.1 * 50 && vbat < 6 * 1.6 * 50, qPrintable(line));
        QVERIFY(f.at(5).trimmed().toInt() > 0); // the charge current
        QCOMPARE(f.at(10).trimmed().toInt(), 1);
    }
    QCOMPARE(m->chart()->pointCount(m->curve(Moni::CurveVbat)), m->tally().total() / 10);
    QCOMPARE(m->rejected(), 0);
    shot(*m, "moni", QSize(1100, 700));

    m->findChild<QPushButton *>("CbQuit")->click();
    QTRY_VERIFY(!m);
    QVERIFY(link.isOpen());
    QCOMPARE(link.deviceName(), device);
    QCOMPARE(link.port()->baudRate(), 9600);
    // Back at 9600 the charger's stream is noise; the PC's first byte ends it, and the
    // charger answers the next command.
    session.send(QByteArray(1, char(0x55)));
    QTRY_COMPARE(charger.mode(), sim::VirtualCharger::Mode::Firmware);
    QTest::qWait(100);
    session.drain();
    QVERIFY(chlink::eeRead(session, 1, 0));

    if (!qEnvironmentVariable("PELMORA_SHOT_DIR").isEmpty()) {
        QPointer<QWidget> sel = registry.open(QStringLiteral("SelMoni"), &main);
        QVERIFY(sel);
        shot(*sel, "selmoni", sel->size());
        sel->close();
    }
}

// pelmora --demo: the virtual charger of the program itself, its clock twenty times as fast.
void TestMoniEndToEnd::followsTheDemoCharger() {
    sim::VirtualCharger charger;
    charger.setBattery({sim::Chemistry::NiMH, 6, 2.0, 0.3, 20.0});
    charger.setSpeed(20);
    chlink::ChargerLink link(
        [&](const QString &) {
            auto *p = new sim::SimBytePort(&charger);
            p->strictBaud = true;
            return p;
        },
        [](int) { return QStringLiteral("virtual"); });
    link.portSetup();
    QVERIFY(link.openPort());
    chlink::Session session(link);
    winkit::WindowRegistry registry(&session);
    modes::registerWindows(registry);
    QWidget main;
    main.show();
    QPointer<Moni> m = qobject_cast<Moni *>(registry.open(QStringLiteral("Moni"), &main));
    QVERIFY(m);
    QTRY_VERIFY(m->streamOpen());
    QCOMPARE(charger.mode(), sim::VirtualCharger::Mode::Monitor);
    QTimer::singleShot(2500, m, [&] { m->arret(); });
    m->depart();
    QVERIFY2(m->tally().total() >= 10, qPrintable(QString::number(m->tally().total())));
    QCOMPARE(fileLines(m->logPath()).size(), 1 + m->tally().total());
    QCOMPARE(m->chart()->pointCount(m->curve(Moni::CurveVbat)), m->tally().total() / 10);
    m->close();
    QTRY_VERIFY(!m);
    QCOMPARE(link.port()->baudRate(), 9600);
}

QTEST_MAIN(TestMoniEndToEnd)
#include "tst_moni_e2e.moc"
