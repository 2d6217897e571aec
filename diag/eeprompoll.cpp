#include "eeprompoll.h"

#include "link/exchanges.h"

namespace diag {

using namespace chlink;

namespace {
bool stop(const EeProgress &p) {
    return p.interrupted && p.interrupted();
}
EeResult stopped(int address, bool interrupted) {
    EeResult r;
    r.ok = false;
    r.interrupted = interrupted;
    r.address = address;
    return r;
}
} // namespace

EeResult readEeprom(Session s, int target, int first, int last, QByteArray &image,
                    const EeProgress &p) {
    for (int a = first; a <= last; ++a) {
        if (stop(p)) return stopped(a, true);
        const auto v = eeRead(s, target, quint8(a));
        if (!v) return stopped(a, stop(p));
        image[a] = char(*v);
        if (p.at) p.at(a);
    }
    return {};
}

EeResult writeEeprom(Session s, int target, int first, int last, const QByteArray &image,
                     const EeProgress &p) {
    for (int a = first; a <= last; ++a) {
        if (stop(p)) return stopped(a, true);
        if (!eeWrite(s, target, quint8(a), quint8(image.at(a)))) return stopped(a, stop(p));
        if (p.at) p.at(a);
    }
    return {};
}

EeResult checkEeprom(Session s, int target, int first, int last, const QByteArray &image,
                     const EeProgress &p) {
    QByteArray back = image;
    EeResult r = readEeprom(s, target, first, last, back, p);
    if (!r.ok) return r;
    for (int a = first; a <= last; ++a)
        if (back.at(a) != image.at(a)) r.mismatches.append(a);
    return r;
}

QString eeContext(bool write, int target, int address) {
    return QStringLiteral("%1 EEPROM %2 adresse %3 :")
        .arg(write ? QStringLiteral("Ecriture") : QStringLiteral("Lecture"),
             target == 1 ? QStringLiteral("Master") : QStringLiteral("Slave"))
        .arg(address);
}

} // namespace diag
