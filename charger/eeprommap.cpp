#include "eeprommap.h"

namespace charger {

namespace {

constexpr CellBlockLayout kLithium{5, 16, 5, true};
constexpr CellBlockLayout kLeadAcid{6, 8, 3, false};

const char *const kLithiumPoints[] = {
    "lithium block: count at 4.4 V per cell", "lithium block: count at 4.2 V per cell",
    "lithium block: count at 4.1 V per cell", "lithium block: count at 3.0 V per cell",
    "lithium block: count at 2.7 V per cell",
};
const char *const kLeadPoints[] = {
    "lead-acid block: count at the charge-voltage point",
    "lead-acid block: count at the discharge-voltage point",
    "lead-acid block: count at the holding-voltage point",
};

void addBlocks(QVector<Param> &map, CellBlock kind) {
    const CellBlockLayout &l = cellBlockLayout(kind);
    const bool lithium = kind == CellBlock::Lithium;
    for (int n = 1; n <= l.maxCells; ++n) {
        const int base = cellBlockBase(kind, n);
        const auto add = [&](int offset, Width w, const char *meaning) {
            map.append({Controller::Master, base + offset, w, nullptr, nullptr, meaning});
        };
        add(cellblock::kOffsetPot, Width::Byte,
            lithium ? "lithium block: delta offset potentiometer"
                    : "lead-acid block: delta offset potentiometer");
        add(cellblock::kGainPot, Width::Byte,
            lithium ? "lithium block: delta gain potentiometer"
                    : "lead-acid block: delta gain potentiometer");
        for (int p = 0; p < l.points; ++p)
            add(cellblock::point(p), Width::Word, lithium ? kLithiumPoints[p] : kLeadPoints[p]);
        if (l.law) {
            add(cellblock::kCoefficientA, Width::Word,
                "lithium block: coefficient A, microvolts per count");
            add(cellblock::kOffsetB, Width::Word, "lithium block: offset B, millivolts");
        }
    }
}

QVector<Param> masterMap() {
    using namespace master;
    QVector<Param> map = {kTempSlope,         kTempOffset,    kFanTemp,       kStopTemp,
                          kBatTempCorrection, kBatCutoffTemp, kSupplyDivisor, kDoublerDivisor,
                          kAutoCharge,        kAutoDischarge, kMaxPower};
    addBlocks(map, CellBlock::Lithium);
    addBlocks(map, CellBlock::LeadAcid);
    return map;
}

QVector<Param> slaveMap() {
    using namespace slave;
    QVector<Param> map = {kChargeDivisor, kDischargeDivisor, kPotCharge, kPotDischarge,
                          kBatteryDivisor};
    for (int a = kFirstUnused; a < kGeneralBytes; ++a)
        map.append(byteParam(Controller::Slave, a, "NU", "no use"));
    return map;
}

} // namespace

const CellBlockLayout &cellBlockLayout(CellBlock kind) {
    return kind == CellBlock::Lithium ? kLithium : kLeadAcid;
}

const QVector<Param> &addressMap(Controller c) {
    static const QVector<Param> master = masterMap();
    static const QVector<Param> slave = slaveMap();
    return c == Controller::Master ? master : slave;
}

QString editorName(Controller c, int address) {
    if (address < 0 || regionOf(address) != Region::General) return {};
    for (const Param &p : addressMap(c)) {
        if (address == p.address) return QString::fromUtf8(p.name);
        if (address == p.last()) return QString::fromUtf8(p.lowName);
    }
    return {};
}

QString identificationText(const QByteArray &image) {
    QByteArray text;
    for (int a = kIdentFirst; a < kImageBytes && a < image.size(); ++a)
        if (image.at(a) != 0) text.append(image.at(a));
    return QString::fromLatin1(text);
}

int word(const QByteArray &image, int address) {
    if (address < 0 || address + 1 >= image.size()) return 0;
    return 256 * quint8(image.at(address)) + quint8(image.at(address + 1));
}

void setWord(QByteArray &image, int address, int value) {
    image[address] = char((value >> 8) & 0xFF);
    image[address + 1] = char(value & 0xFF);
}

int value(const QByteArray &image, const Param &p) {
    if (p.width == Width::Word) return word(image, p.address);
    if (p.address < 0 || p.address >= image.size()) return 0;
    return quint8(image.at(p.address));
}

void setValue(QByteArray &image, const Param &p, int v) {
    if (p.width == Width::Word)
        setWord(image, p.address, v);
    else
        image[p.address] = char(v & 0xFF);
}

} // namespace charger
