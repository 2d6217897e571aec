#include "flashtransfer.h"

#include "heximage.h"
#include "link/numtext.h"


using chlink::ChargerLink;
using chlink::LinkError;

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

// What went wrong at `address`, for the window's report.
FlashResult failure(const ChargerLink &link, const QString &what, int address, int exchanges) {
    FlashResult r;
    r.linkError = link.error();
    r.address = address;
    r.exchanges = exchanges;
    QString why;
    switch (link.error()) {
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
    r.error = QStringLiteral("%1 arrêtée à l'adresse %2 : %3").arg(what, hexAddress(address), why);
    return r;
}

FlashResult stoppedAt(int address, int exchanges) {
    FlashResult r;
    r.stopped = true;
    r.address = address;
    r.exchanges = exchanges;
    return r;
}

// One program word read with command 45 or 46; nullopt with the link's error on failure.
std::optional<int> readWord(ChargerLink &link, int target, int address) {
    link.command(target == 1 ? chlink::CMD_FLASH_READ_MASTER : chlink::CMD_FLASH_READ_SLAVE,
                 {high(address), low(address)});
    const auto f = link.readFrame(2);
    if (!f) return std::nullopt;
    return 256 * quint8(f->at(0)) + quint8(f->at(1));
}

} // namespace

QString hexAddress(int address) {
    return QStringLiteral("0x") +
           QStringLiteral("%1").arg(address, 4, 16, QLatin1Char('0')).toUpper();
}

FlashResult readFlash(ChargerLink &link, int target, int lastWord, QVector<quint16> *words,
                      const FlashProgress &progress) {
    const QString what = QStringLiteral("Lecture Flash");
    words->resize(lastWord + 1);
    link.drain(); // a late answer of an earlier exchange must not be taken for this one's
    int exchanges = 0;
    for (int i = 0; i <= lastWord; ++i) {
        bar(progress, i);
        if (stopNow(progress)) return stoppedAt(i, exchanges);
        const auto w = readWord(link, target, i);
        ++exchanges;
        if (!w) return failure(link, what, i, exchanges);
        if (target != 1 && *w > kSlaveErased) { // the slave's words have 14 bits
            FlashResult r;
            r.address = i;
            r.exchanges = exchanges;
            r.error =
                QStringLiteral("Lecture Flash : mot %1 lu à l'adresse %2, au-dessus de 0x3FFF")
                    .arg(hexAddress(*w), hexAddress(i));
            return r;
        }
        (*words)[i] = quint16(*w);
        info(progress, QStringLiteral("Mots restant à lire : ") + chlink::numText(lastWord - i));
    }
    FlashResult r;
    r.ok = true;
    r.address = lastWord + 1;
    r.exchanges = exchanges;
    return r;
}

FlashResult writeMasterFlash(ChargerLink &link, const QByteArray &image,
                             const FlashProgress &progress) {
    const QString what = QStringLiteral("Écriture Flash Master");
    int exchanges = 0;
    if (image.size() < kMasterImageSize) {
        FlashResult r;
        r.error = QStringLiteral("Écriture Flash Master : image incomplète");
        return r;
    }
    link.drain();
    for (int a = kMasterWriteFirst; a < kMasterImageSize; a += kMasterBlockBytes) {
        bar(progress, a);
        if (stopNow(progress)) return stoppedAt(a, exchanges);
        QByteArray args;
        args.reserve(2 + kMasterBlockBytes);
        args.append(char(high(a)));
        args.append(char(low(a)));
        args.append(image.mid(a, kMasterBlockBytes));
        link.command(chlink::CMD_FLASH_WRITE_MASTER, args);
        ++exchanges;
        if (!link.waitAck()) return failure(link, what, a, exchanges);
    }
    bar(progress, kMasterImageSize);
    FlashResult r;
    r.ok = true;
    r.address = kMasterImageSize;
    r.exchanges = exchanges;
    return r;
}

FlashResult writeSlaveFlash(ChargerLink &link, const QVector<quint16> &image,
                            const QVector<bool> &changed, const FlashProgress &progress) {
    const QString what = QStringLiteral("Écriture Flash Slave");
    int remaining = int(std::count(changed.begin(), changed.end(), true));
    int exchanges = 0;
    const int n = int(qMin(image.size(), changed.size()));
    link.drain();
    for (int i = 0; i < n; ++i) {
        if (!changed[i]) continue;
        if (stopNow(progress)) return stoppedAt(i, exchanges);
        const int w = image[i];
        link.command(chlink::CMD_FLASH_WRITE_SLAVE, {high(i), low(i), high(w), low(w)});
        ++exchanges;
        if (!link.waitAck()) return failure(link, what, i, exchanges);
        --remaining;
        info(progress,
             QStringLiteral("Mots restants pour transfer = ") + chlink::numText(remaining));
    }
    FlashResult r;
    r.ok = true;
    r.address = n;
    r.exchanges = exchanges;
    return r;
}

VerifyResult verifySlaveFlash(ChargerLink &link, const QVector<quint16> &image,
                              const QVector<bool> &changed, const FlashProgress &progress) {
    VerifyResult v;
    const QString what = QStringLiteral("Vérification Flash");
    const int n = int(qMin(image.size(), changed.size()));
    int exchanges = 0;
    link.drain();
    for (int i = 0; i < n; ++i) {
        if (!changed[i]) continue;
        if (stopNow(progress)) {
            v.read = stoppedAt(i, exchanges);
            return v;
        }
        const auto w = readWord(link, 2, i);
        ++exchanges;
        if (!w) {
            v.read = failure(link, what, i, exchanges);
            return v;
        }
        if (*w != image[i]) {
            if (v.mismatches++ == 0) v.firstMismatch = i;
        }
    }
    v.read.ok = true;
    v.read.address = n;
    v.read.exchanges = exchanges;
    return v;
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
