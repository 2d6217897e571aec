#include "flashtransfer.h"

#include "heximage.h"
#include "link/numtext.h"

using chlink::LinkError;
using chlink::Session;

namespace firmware {

namespace {

quint8 high(int v) {
    return quint8(v / 256);
}
quint8 low(int v) {
    return quint8(v - 256 * (v / 256));
}

bool stopNow(const FlashProgress &p) {
    return p.stopRequested && p.stopRequested();
}
void bar(const FlashProgress &p, int v) {
    if (p.bar) p.bar(v);
}
void info(const FlashProgress &p, const QString &s) {
    if (p.info) p.info(s);
}

QString transferName(Transfer t) {
    switch (t) {
    case Transfer::ReadBack:
        return QStringLiteral("Lecture Flash");
    case Transfer::MasterWrite:
        return QStringLiteral("Écriture Flash Master");
    case Transfer::SlaveWrite:
        return QStringLiteral("Écriture Flash Slave");
    case Transfer::Verify:
        break;
    }
    return QStringLiteral("Vérification Flash");
}

// Progress common to every way a transfer ends.
FlashResult progressOf(Transfer t, int target, int address, int exchanges, int done, int total) {
    FlashResult r;
    r.transfer = t;
    r.target = target;
    r.address = address;
    r.exchanges = exchanges;
    r.done = done;
    r.total = total;
    return r;
}

FlashResult endedAt(FlashResult r, const QString &why) {
    r.error = QStringLiteral("%1 arrêtée à l'adresse %2 : %3")
                  .arg(transferName(r.transfer), hexAddress(r.address), why);
    return r;
}

// The link's error at `address`, for the window's report.
FlashResult failure(const Session &session, FlashResult r) {
    r.linkError = session.error();
    QString why;
    switch (session.error()) {
    case LinkError::Timeout:
    case LinkError::NotOpen:
        why = QStringLiteral("pas de réponse du chargeur");
        break;
    case LinkError::PortFailed:
        why = QStringLiteral("port série perdu");
        break;
    case LinkError::Aborted:
        why = QStringLiteral("échange interrompu");
        break;
    case LinkError::None:
        break;
    }
    return endedAt(r, why);
}

FlashResult refused(FlashResult r, quint8 answer) {
    r.refusal = answer;
    return endedAt(r, QStringLiteral("écriture refusée par le chargeur (réponse %1 au lieu de %2)")
                          .arg(answer)
                          .arg(int(chlink::ACK)));
}

FlashResult stopped(FlashResult r) {
    r.stopped = true;
    return endedAt(r, QStringLiteral("arrêt demandé à la fermeture de la fenêtre"));
}

FlashResult succeeded(FlashResult r) {
    r.ok = true;
    return r;
}

// One write command's answer: the charger answers a flash write with a single byte, 6 when
// the block or word is written. Bytes left over from before the command are not its answer.
// Sends one write command after dropping what is left on the line from before it, and reads
// its single answer byte: nullopt when the charger answers 6 (written), else the result that
// ends the transfer at `where` (a refusal at once, or the link's failure).
std::optional<FlashResult> writeOne(Session &session, chlink::Cmd code, const QByteArray &args,
                                    const FlashResult &where) {
    session.drain();
    session.command(code, args);
    const auto a = session.answerByte();
    if (!a) return failure(session, where);
    if (*a != chlink::ACK) return refused(where, *a);
    return std::nullopt;
}

// One program word read with command 45 or 46; nullopt with the link's error on failure.
std::optional<int> readWord(Session &session, int target, int address) {
    session.command(target == 1 ? chlink::CMD_FLASH_READ_MASTER : chlink::CMD_FLASH_READ_SLAVE,
                    {high(address), low(address)});
    const auto f = session.readFrame(2);
    if (!f) return std::nullopt;
    return 256 * quint8(f->at(0)) + quint8(f->at(1));
}

} // namespace

QString hexAddress(int address) {
    return QStringLiteral("0x") +
           QStringLiteral("%1").arg(address, 4, 16, QLatin1Char('0')).toUpper();
}

FlashResult readFlash(Session &session, int target, int lastWord, QVector<quint16> *words,
                      const FlashProgress &progress) {
    words->resize(lastWord + 1);
    session.drain(); // a late answer of an earlier exchange must not be taken for this one's
    int exchanges = 0;
    const auto at = [&](int i) {
        return progressOf(Transfer::ReadBack, target, i, exchanges, i, lastWord + 1);
    };
    for (int i = 0; i <= lastWord; ++i) {
        bar(progress, i);
        if (stopNow(progress)) return stopped(at(i));
        const auto w = readWord(session, target, i);
        ++exchanges;
        if (!w) return failure(session, at(i));
        if (target != 1 && *w > kSlaveErased) { // the slave's words have 14 bits
            FlashResult r = at(i);
            r.error =
                QStringLiteral("Lecture Flash : mot %1 lu à l'adresse %2, au-dessus de 0x3FFF")
                    .arg(hexAddress(*w), hexAddress(i));
            return r;
        }
        (*words)[i] = quint16(*w);
        info(progress, QStringLiteral("Mots restant à lire : ") + chlink::numText(lastWord - i));
    }
    return succeeded(at(lastWord + 1));
}

FlashResult writeMasterFlash(Session &session, const QByteArray &image,
                             const FlashProgress &progress) {
    int exchanges = 0;
    const auto at = [&](int a) {
        return progressOf(Transfer::MasterWrite, 1, a, exchanges,
                          (a - kMasterWriteFirst) / kMasterBlockBytes, kMasterBlocks);
    };
    if (image.size() < kMasterImageSize) {
        FlashResult r = at(kMasterWriteFirst);
        r.error = QStringLiteral("Écriture Flash Master : image incomplète");
        return r;
    }
    for (int a = kMasterWriteFirst; a < kMasterImageSize; a += kMasterBlockBytes) {
        bar(progress, a);
        if (stopNow(progress)) return stopped(at(a));
        QByteArray args;
        args.reserve(2 + kMasterBlockBytes);
        args.append(char(high(a)));
        args.append(char(low(a)));
        args.append(image.mid(a, kMasterBlockBytes));
        ++exchanges;
        if (auto end = writeOne(session, chlink::CMD_FLASH_WRITE_MASTER, args, at(a))) return *end;
    }
    bar(progress, kMasterImageSize);
    return succeeded(at(kMasterImageSize));
}

FlashResult writeSlaveFlash(Session &session, const QVector<quint16> &image,
                            const QVector<bool> &changed, const FlashProgress &progress) {
    const int total = int(std::count(changed.begin(), changed.end(), true));
    int remaining = total;
    int exchanges = 0;
    const auto at = [&](int i) {
        return progressOf(Transfer::SlaveWrite, 2, i, exchanges, total - remaining, total);
    };
    const int n = int(qMin(image.size(), changed.size()));
    for (int i = 0; i < n; ++i) {
        if (!changed[i]) continue;
        if (stopNow(progress)) return stopped(at(i));
        const int w = image[i];
        ++exchanges;
        const char args[] = {char(high(i)), char(low(i)), char(high(w)), char(low(w))};
        if (auto end = writeOne(session, chlink::CMD_FLASH_WRITE_SLAVE, QByteArray(args, 4), at(i)))
            return *end;
        --remaining;
        info(progress,
             QStringLiteral("Mots restants pour transfer = ") + chlink::numText(remaining));
    }
    return succeeded(at(n));
}

VerifyResult verifySlaveFlash(Session &session, const QVector<quint16> &image,
                              const QVector<bool> &changed, const FlashProgress &progress) {
    VerifyResult v;
    const int n = int(qMin(image.size(), changed.size()));
    const int total = int(std::count(changed.begin(), changed.begin() + n, true));
    int exchanges = 0;
    const auto at = [&](int i) {
        return progressOf(Transfer::Verify, 2, i, exchanges, exchanges, total);
    };
    session.drain();
    for (int i = 0; i < n; ++i) {
        if (!changed[i]) continue;
        if (stopNow(progress)) {
            v.read = stopped(at(i));
            return v;
        }
        const auto w = readWord(session, 2, i);
        ++exchanges;
        if (!w) {
            v.read = failure(session, at(i));
            return v;
        }
        if (*w != image[i]) {
            if (v.mismatches++ == 0) v.firstMismatch = i;
        }
    }
    v.read = succeeded(at(n));
    return v;
}

QString stopReport(const FlashResult &r) {
    QString text = r.error;
    if (r.linkError == LinkError::Timeout || r.linkError == LinkError::NotOpen)
        text += QLatin1Char('\n') + chlink::linkErrorText(r.linkError);
    text += QLatin1Char('\n');
    switch (r.transfer) {
    case Transfer::ReadBack:
        text += QStringLiteral("Rien n'a été écrit : la Flash %1 est inchangée.")
                    .arg(r.target == 1 ? QStringLiteral("Master") : QStringLiteral("Slave"));
        break;
    case Transfer::MasterWrite:
        text += QStringLiteral("La Flash Master est maintenant en partie écrite : %1 blocs "
                               "écrits sur %2. Refaites le chargement avant d'utiliser le "
                               "chargeur.")
                    .arg(r.done)
                    .arg(r.total);
        break;
    case Transfer::SlaveWrite:
        text += QStringLiteral("La Flash Slave est maintenant en partie écrite : %1 mots écrits "
                               "sur %2, %3 non écrits. Refaites le chargement avant d'utiliser "
                               "le chargeur.")
                    .arg(r.done)
                    .arg(r.total)
                    .arg(r.total - r.done);
        break;
    case Transfer::Verify:
        text += QStringLiteral("Les %1 mots sont écrits mais la vérification n'est pas allée "
                               "au bout.")
                    .arg(r.total);
        break;
    }
    return text;
}

DataExtent masterDataExtent(const QByteArray &text, int from, int to) {
    DataExtent e;
    const ByteImageLoad load = loadMasterImage(text, QByteArray(kMasterImageSize, char(0xFF)));
    if (!load.ok) return e;
    for (const AddressSpan &span : load.spans) {
        const int lo = qMax(span.from, from), hi = qMin(span.to, to);
        if (lo >= hi) continue;
        if (e.first < 0) e.first = lo;
        e.last = hi - 1;
        e.count += hi - lo;
    }
    return e;
}

SlaveDiff compareSlave(const QVector<quint16> &image, const QVector<quint16> &readBack,
                       int lastWord) {
    SlaveDiff d;
    d.changed = QVector<bool>(image.size(), false);
    const int end = int(qMin<qsizetype>(lastWord, qMin(image.size(), readBack.size()) - 1));
    for (int i = 0; i <= end; ++i) {
        if (readBack[i] != image[i]) {
            d.changed[i] = true;
            ++d.count;
            if (i >= kSlaveProtectedFirst) ++d.protectedCount;
        }
    }
    return d;
}

} // namespace firmware
