#pragma once

#include "firmware/heximage.h"
#include "support/hexwriter.h"

#include <QRandomGenerator>

// A link to the in-process virtual charger through the scripted charger, which records
// every byte the PC writes, and HEX text made from images, for the flash transfer and
// window tests.

#include "link/chargerlink.h"
#include "link/session.h"
#include "sim/virtualcharger.h"
#include "support/scriptedcharger.h"

#include <QByteArray>
#include <QVector>

struct FlashRig {
    sim::VirtualCharger charger;
    ScriptedCharger *port = nullptr;
    chlink::ChargerLink link{
        [this](const QString &) { return port = new ScriptedCharger(&charger); },
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

    // The commands the PC sent, as (code, address, argument bytes after the address).
    QList<ScriptedCharger::Sent> sent() const { return port->sent(); }
    int count(int code) const { return port->count(code); }
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
