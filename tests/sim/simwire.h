#pragma once

#include "sim/virtualcharger.h"

#include <QByteArray>
#include <QObject>
#include <QSignalSpy>

// Talks to a virtual charger directly: collects what it transmits.
struct SimWire {
    sim::VirtualCharger &charger;
    QByteArray rx;
    QMetaObject::Connection conn;

    explicit SimWire(sim::VirtualCharger &c) : charger(c) {
        conn = QObject::connect(&c, &sim::VirtualCharger::transmit,
                                [this](const QByteArray &b) { rx += b; });
    }
    ~SimWire() { QObject::disconnect(conn); }

    // Sends the bytes and returns what the charger answered to them, EEPROM write cycles
    // included (each waited for, at most a second).
    QByteArray exchange(const QByteArray &bytes) {
        rx.clear();
        charger.receive(bytes);
        while (charger.writing()) {
            QSignalSpy ended(&charger, &sim::VirtualCharger::writeCycleEnded);
            if (!ended.wait(1000)) break;
        }
        return rx;
    }
    static QByteArray cmd(int code, std::initializer_list<int> args = {}) {
        QByteArray b(1, char(27));
        b += char(code);
        for (int a : args)
            b += char(a);
        return b;
    }
    // A reply frame's data bytes (after the ESC, before the trailing byte).
    static QByteArray frameData(const QByteArray &reply) {
        const int esc = reply.indexOf(char(27));
        return esc < 0 ? QByteArray() : reply.mid(esc + 1, reply.size() - esc - 2);
    }
    int readChannel(int code) {
        const QByteArray d = frameData(exchange(cmd(code)));
        return d.size() == 2 ? quint8(d[0]) * 256 + quint8(d[1]) : -1;
    }
};

// One boot loader block: ESC, address, 64 bytes, sum, 0.
inline QByteArray bootBlock(int address, const QByteArray &data, int sumError = 0,
                            char trailing = 0) {
    QByteArray b(1, char(27));
    b += char(address >> 8);
    b += char(address & 0xFF);
    b += data.left(64).leftJustified(64, char(0xFF));
    unsigned sum = 0;
    for (int i = 1; i < b.size(); ++i)
        sum += quint8(b[i]);
    b += char(quint8(sum + sumError));
    b += trailing;
    return b;
}
