// How fast the virtual charger runs its model, and how true its line timing is on a
// pseudo-terminal.
#include "sim/ptyserver.h"
#include "sim/virtualcharger.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSerialPort>
#include <QTimer>

#include <cstdio>

namespace {

QByteArray cmd(int code, int arg = -1) {
    QByteArray b(1, char(27));
    b += char(code);
    if (arg >= 0) b += char(arg);
    return b;
}

void wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A whole 1C charge polled every charger second as the charge window does.
void modelThroughput() {
    sim::VirtualCharger c;
    c.setManualClock(true);
    c.setBattery({sim::Chemistry::NiMH, 6, 2.0, 0.0, 20.0});
    int replies = 0;
    QObject::connect(&c, &sim::VirtualCharger::transmit,
                     [&](const QByteArray &b) { replies += int(b.size()); });
    c.receive(cmd(19, 100) + cmd(21, 128) + cmd(22, 255) + cmd(17, 1) + cmd(15, 1));
    QElapsedTimer t;
    t.start();
    int peak = 0, seconds = 0;
    for (; seconds < 3 * 3600; ++seconds) {
        c.advance(1);
        c.receive(cmd(15, 0) + cmd(17, 0) + cmd(18, 1));
        c.receive(cmd(13));
        const int delta = c.channelCount(12);
        c.receive(cmd(12) + cmd(18, 0) + cmd(17, 1) + cmd(15, 1));
        peak = std::max(peak, delta);
        if (delta < peak - 9) break;
    }
    const double ms = double(t.nsecsElapsed()) / 1e6;
    std::printf("model: a %d s charge polled every second in %.1f ms (%.0f charger seconds per "
                "wall second, %d reply bytes)\n",
                seconds, ms, seconds / (ms / 1000.0), replies);
}

void monitorThroughput() {
    sim::VirtualCharger c;
    c.setManualClock(true);
    qint64 bytes = 0;
    QObject::connect(&c, &sim::VirtualCharger::transmit,
                     [&](const QByteArray &b) { bytes += b.size(); });
    c.receive(cmd(3));
    QElapsedTimer t;
    t.start();
    c.advance(10 * 3600);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    std::printf("monitor: 10 h of records (%lld bytes) in %.1f ms\n", bytes, ms);
}

void pacing(int baud) {
    sim::VirtualCharger c;
    sim::PtyServer pty(&c);
    if (!pty.start()) return;
    pty.setPacing(baud);
    QSerialPort port(pty.slavePath());
    if (!port.open(QIODevice::ReadWrite)) return;
    const int n = 1000;
    QElapsedTimer t;
    t.start();
    port.write(QByteArray(n, char(0x55)));
    qint64 got = 0;
    while (got < n && t.elapsed() < 5000) {
        wait(1);
        got += port.readAll().size();
    }
    const double ideal = n * 10000.0 / baud;
    // The probes go in and their answers come out at the byte time, overlapping.
    std::printf("pacing at %d baud: %d probes in and %d answers out in %lld ms (line time "
                "%.0f ms, %+.1f %%)\n",
                baud, n, n, t.elapsed(), ideal, 100.0 * (t.elapsed() - ideal) / ideal);
}

void roundTrip() {
    sim::VirtualCharger c;
    sim::PtyServer pty(&c);
    if (!pty.start()) return;
    QSerialPort port(pty.slavePath());
    if (!port.open(QIODevice::ReadWrite)) return;
    const int n = 500;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < n; ++i) {
        port.write(cmd(37, i & 0xFF));
        qint64 got = 0;
        QElapsedTimer one;
        one.start();
        while (got < 3 && one.elapsed() < 1000) {
            QEventLoop loop;
            QObject::connect(&port, &QSerialPort::readyRead, &loop, &QEventLoop::quit);
            QTimer::singleShot(5, &loop, &QEventLoop::quit);
            loop.exec();
            got += port.readAll().size();
        }
    }
    std::printf("round trip on the pseudo-terminal, unpaced: %.2f ms per EEPROM read\n",
                double(t.elapsed()) / n);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    modelThroughput();
    monitorThroughput();
    pacing(9600);
    pacing(19200);
    roundTrip();
    return 0;
}
