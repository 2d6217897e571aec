// The paced line of the pseudo-terminal, both ways: no byte crosses sooner than the line
// could carry it, and a block takes about its line time.
#include "sim/ptyserver.h"
#include "sim/virtualcharger.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSerialPort>
#include <QTest>
#include <QTimer>

class TestSimPacing : public QObject {
    Q_OBJECT
  private slots:
    void bytesCrossAtTheByteTime_data();
    void bytesCrossAtTheByteTime();
};

void TestSimPacing::bytesCrossAtTheByteTime_data() {
    QTest::addColumn<bool>("toCharger");
    QTest::addColumn<int>("pacing"); // 0: the charger's own line speed, as chargersim --pace
    QTest::addColumn<int>("baud");
    QTest::newRow("PC to charger, 9600") << true << 9600 << 9600;
    QTest::newRow("PC to charger, 19200") << true << 19200 << 19200;
    QTest::newRow("PC to charger, the charger's speed") << true << 0 << 9600;
    QTest::newRow("charger to PC, 9600") << false << 9600 << 9600;
    QTest::newRow("charger to PC, 19200") << false << 19200 << 19200;
}

void TestSimPacing::bytesCrossAtTheByteTime() {
    QFETCH(bool, toCharger);
    QFETCH(int, pacing);
    QFETCH(int, baud);
    sim::VirtualCharger charger;
    sim::PtyServer pty(&charger);
    QVERIFY(pty.start());
    if (pacing)
        pty.setPacing(pacing);
    else
        pty.setPacingFollowsCharger(true);
    QSerialPort port(pty.slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));

    const int n = 200;
    const double byteMs = 10'000.0 / baud;
    QList<QPair<double, int>> crossings; // ms since the block was handed over, bytes across
    int across = 0;
    QElapsedTimer t;
    QEventLoop loop;
    const auto crossed = [&](int count) {
        across += count;
        crossings.append({double(t.nsecsElapsed()) / 1e6, across});
        if (across >= n) loop.quit();
    };
    if (toCharger) {
        // The charger answers each probe byte 0x55 the moment it takes it.
        connect(&charger, &sim::VirtualCharger::transmit, &loop,
                [&](const QByteArray &b) { crossed(int(b.size())); });
        t.start();
        port.write(QByteArray(n, char(0x55)));
    } else {
        connect(&port, &QSerialPort::readyRead, &loop,
                [&] { crossed(int(port.readAll().size())); });
        t.start();
        emit charger.transmit(QByteArray(n, char(0x3C)));
    }
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    QCOMPARE(across, n);

    // Strict, whatever the load: in both directions the k-th byte has crossed k byte times
    // after it was written at the earliest (a UART hands a byte over once its stop bit is in).
    for (const auto &[ms, count] : crossings)
        QVERIFY2(ms >= count * byteMs - 0.001,
                 qPrintable(QStringLiteral("%1 bytes after %2 ms").arg(count).arg(ms)));
    // Generous: the block's line time, give or take the timers' grain and a busy machine.
    const double ideal = n * byteMs;
    QVERIFY2(
        crossings.last().first < ideal * 1.5 + 100,
        qPrintable(
            QStringLiteral("%1 ms for %2 ms of line time").arg(crossings.last().first).arg(ideal)));
}

QTEST_MAIN(TestSimPacing)
#include "tst_simpacing.moc"
