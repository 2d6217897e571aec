#include "statefile.h"

#include "virtualcharger.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace sim {

namespace {

constexpr int kVersion = 1;

QString b64(const QByteArray &bytes) {
    return QString::fromLatin1(bytes.toBase64());
}

bool fromB64(const QJsonObject &o, const char *key, int size, QByteArray *out, QString *why) {
    const auto r = QByteArray::fromBase64Encoding(o.value(QLatin1String(key)).toString().toLatin1(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!r || r.decoded.size() != size) {
        *why = QStringLiteral("%1 is missing or is not %2 bytes").arg(QLatin1String(key)).arg(size);
        return false;
    }
    *out = r.decoded;
    return true;
}

} // namespace

bool saveState(const VirtualCharger &charger, const QString &path, QString *error) {
    QJsonObject o;
    o[QStringLiteral("version")] = kVersion;
    o[QStringLiteral("eepromMaster")] = b64(charger.eepromMaster);
    o[QStringLiteral("eepromSlave")] = b64(charger.eepromSlave);
    o[QStringLiteral("extEeprom0")] = b64(charger.extEeprom[0]);
    o[QStringLiteral("extEeprom1")] = b64(charger.extEeprom[1]);
    o[QStringLiteral("masterFlash")] = b64(charger.masterFlash);
    QByteArray words;
    for (quint16 w : charger.slaveFlash) {
        words += char(w >> 8);
        words += char(w & 0xFF);
    }
    o[QStringLiteral("slaveFlash")] = b64(words);
    const Battery &bat = charger.battery();
    QJsonObject b;
    b[QStringLiteral("chemistry")] = chemistryText(bat.spec().chemistry);
    b[QStringLiteral("cells")] = bat.spec().cells;
    b[QStringLiteral("capacityAh")] = bat.spec().capacityAh;
    b[QStringLiteral("stateOfCharge")] = bat.stateOfCharge();
    b[QStringLiteral("ambientC")] = bat.spec().ambientC;
    o[QStringLiteral("battery")] = b;
    o[QStringLiteral("slavePresent")] = charger.slavePresent;
    o[QStringLiteral("boosterSupply")] = charger.boosterSupply;
    o[QStringLiteral("supplyVolts")] = charger.supplyVolts;

    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        if (error) *error = f.errorString();
        return false;
    }
    f.write(QJsonDocument(o).toJson());
    if (!f.commit()) {
        if (error) *error = f.errorString();
        return false;
    }
    return true;
}

bool loadState(VirtualCharger &charger, const QString &path, QString *error) {
    QString why;
    const auto failed = [&](const QString &text) {
        if (error) *error = text;
        return false;
    };
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return failed(f.errorString());
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(f.read(16 * 1024 * 1024), &pe);
    if (!doc.isObject())
        return failed(QStringLiteral("not a charger state file (%1)").arg(pe.errorString()));
    const QJsonObject o = doc.object();
    if (o.value(QStringLiteral("version")).toInt() != kVersion)
        return failed(QStringLiteral("unknown state file version"));

    QByteArray em, es, x0, x1, mf, sf;
    if (!fromB64(o, "eepromMaster", charger::kImageBytes, &em, &why) ||
        !fromB64(o, "eepromSlave", charger::kImageBytes, &es, &why) ||
        !fromB64(o, "extEeprom0", kExtEepromBytes, &x0, &why) ||
        !fromB64(o, "extEeprom1", kExtEepromBytes, &x1, &why) ||
        !fromB64(o, "masterFlash", VirtualCharger::kMasterFlashBytes, &mf, &why) ||
        !fromB64(o, "slaveFlash", 2 * VirtualCharger::kSlaveFlashWords, &sf, &why))
        return failed(why);
    const QJsonObject b = o.value(QStringLiteral("battery")).toObject();
    BatterySpec spec;
    if (!chemistryFromText(b.value(QStringLiteral("chemistry")).toString(), &spec.chemistry))
        return failed(QStringLiteral("unknown battery chemistry"));
    spec.cells = b.value(QStringLiteral("cells")).toInt(0);
    spec.capacityAh = b.value(QStringLiteral("capacityAh")).toDouble(0);
    spec.stateOfCharge = b.value(QStringLiteral("stateOfCharge")).toDouble(-1);
    spec.ambientC = b.value(QStringLiteral("ambientC")).toDouble(20);
    if (spec.cells < 1 || spec.cells > 40 || spec.capacityAh <= 0 || spec.stateOfCharge < 0 ||
        spec.stateOfCharge > 1)
        return failed(QStringLiteral("battery values out of range"));

    // Everything parsed: apply.
    charger.eepromMaster = em;
    charger.eepromSlave = es;
    charger.extEeprom[0] = x0;
    charger.extEeprom[1] = x1;
    charger.masterFlash = mf;
    for (int i = 0; i < VirtualCharger::kSlaveFlashWords; ++i)
        charger.slaveFlash[i] =
            quint16((quint8(sf.at(2 * i)) << 8 | quint8(sf.at(2 * i + 1))) & 0x3FFF);
    charger.setBattery(spec);
    charger.slavePresent = o.value(QStringLiteral("slavePresent")).toBool(true);
    charger.boosterSupply = o.value(QStringLiteral("boosterSupply")).toBool(false);
    charger.supplyVolts = o.value(QStringLiteral("supplyVolts")).toDouble(12.0);
    return true;
}

} // namespace sim
