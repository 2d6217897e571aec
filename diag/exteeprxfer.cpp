#include "exteeprxfer.h"

namespace diag::exteepr {

namespace {

using chlink::LinkError;

TransferResult stoppedAt(const chlink::Session &session, TransferResult r, const QString &verb,
                         int selection, bool requested) {
    r.stopped = requested;
    r.linkError = requested ? LinkError::None : session.error();
    r.context =
        QStringLiteral("%1 %2 adresse %3 : ").arg(verb, memoryName(selection)).arg(r.address);
    return r;
}

bool stop(const TransferProgress &p) {
    return p.stopRequested && p.stopRequested();
}

} // namespace

TransferResult readMemory(chlink::Session &session, int selection, QByteArray *memory,
                          const TransferProgress &progress) {
    const QString verb = QStringLiteral("Lecture");
    TransferResult r;
    r.total = kMemoryBytes;
    QByteArray bytes;
    bytes.reserve(kMemoryBytes);
    const quint8 device = quint8(deviceOf(selection));
    for (int a = 0; a < kMemoryBytes; ++a) {
        r.address = a;
        if (stop(progress)) return stoppedAt(session, r, verb, selection, true);
        session.command(chlink::CMD_EXT_EE_READ, {device, quint8(a >> 8), quint8(a & 0xFF)});
        const auto frame = session.readFrame(1);
        if (stop(progress)) return stoppedAt(session, r, verb, selection, true);
        if (!frame) return stoppedAt(session, r, verb, selection, false);
        bytes.append(frame->at(0));
        r.done = a + 1;
        if (progress.step) progress.step(a, r.done);
    }
    *memory = bytes;
    r.ok = true;
    return r;
}

TransferResult writeMemory(chlink::Session &session, int selection, const QVector<Write> &writes,
                           const TransferProgress &progress) {
    const QString verb = QStringLiteral("Ecriture");
    TransferResult r;
    r.total = int(writes.size());
    const quint8 device = quint8(deviceOf(selection));
    for (const Write &w : writes) {
        r.address = w.address;
        if (stop(progress)) return stoppedAt(session, r, verb, selection, true);
        session.command(chlink::CMD_EXT_EE_WRITE,
                        {device, quint8(w.address >> 8), quint8(w.address & 0xFF), w.value});
        const bool acked = session.waitAck();
        if (acked) ++r.done;
        if (stop(progress)) return stoppedAt(session, r, verb, selection, true);
        if (!acked) return stoppedAt(session, r, verb, selection, false);
        if (progress.step) progress.step(w.address, r.done);
    }
    r.ok = true;
    return r;
}

} // namespace diag::exteepr
