#pragma once

#include "firmware/heximage.h"
#include "support/hexwriter.h"

#include <QRandomGenerator>

// A link to an in-process virtual charger that records every byte the PC writes, and
// HEX text made from images, for the flash transfer and window tests.

#include "link/chargerlink.h"
#include "link/session.h"
#include "sim/simport.h"
#include "sim/virtualcharger.h"

#include <QByteArray>
#include <QVector>

class RecordingPort : public sim::SimBytePort {
  public:
    using sim::SimBytePort::SimBytePort;
    void write(const QByteArray &bytes) override {
        written += bytes;
        sim::SimBytePort::write(bytes);
    }
    QByteArray written;
};

struct FlashRig {
    sim::VirtualCharger charger;
    RecordingPort *port = nullptr;
    chlink::ChargerLink link{[this](const QString &) { return port = new RecordingPort(&charger); },
                             [](int) { return QStringLiteral("virtuel"); }};
    // What the flash transfers and the window talk through.
    chlink::Session session{link};

    // The link's own reply time-out unless a test wants a time-out to happen quickly: a
    // loaded machine (sanitizers, parallel builds) must not time out an answered exchange.
    explicit FlashRig(int replyTimeoutMs = chlink::ChargerLink::kReplyTimeoutMs) {
        link.portSetup();
        link.openPort();
        link.connectionFlag = 1;
        link.setReplyTimeout(replyTimeoutMs);
    }

    // Commands of one code the PC sent, as (address, argument bytes after the address),
    // read from the recorded bytes with the argument counts of the flash commands.
    struct Sent {
        int code;
        int address;
        QByteArray data;
    };
    QList<Sent> sent() const {
        QList<Sent> out;
        const QByteArray &w = port->written;
        for (qsizetype i = 0; i + 1 < w.size();) {
            if (quint8(w[i]) != 27) {
                ++i;
                continue;
            }
            const int code = quint8(w[i + 1]);
            const int args = code == 47 ? 66 : code == 48 ? 4 : (code == 45 || code == 46) ? 2 : 0;
            if (i + 2 + args > w.size()) break;
            const int address = args >= 2 ? 256 * quint8(w[i + 2]) + quint8(w[i + 3]) : 0;
            out.append({code, address, w.mid(i + 4, qMax(0, args - 2))});
            i += 2 + args;
        }
        return out;
    }
    int count(int code) const {
        int n = 0;
        for (const Sent &s : sent())
            n += s.code == code;
        return n;
    }
};

// Random slave program words (14 bits), the same for the same seed.
inline QVector<quint16> randomWords(quint32 seed) {
    QVector<quint16> w(firmware::kSlaveWords);
    QRandomGenerator rng(seed);
    for (quint16 &v : w)
        v = quint16(rng.bounded(0x4000));
    return w;
}

// HEX text of slave words first..first+count-1 (low byte first).
inline QByteArray slaveHex(const QVector<quint16> &words, int first, int count) {
    QByteArray bytes;
    for (int i = first; i < first + count; ++i) {
        bytes.append(char(words[i] & 0xFF));
        bytes.append(char(words[i] >> 8));
    }
    return hexText(bytes, 2 * first);
}
