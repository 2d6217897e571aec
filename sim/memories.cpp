#include "memories.h"

#include "charger/eeprommap.h"
#include "charger/progrecord.h"
#include "truth.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace sim {

using namespace charger;

namespace {

// A factory threshold block: the delta amplifier set for the pack, and the counts its
// reference voltages give.
struct DeltaSetting {
    int offsetPot;
    int gainPot;
};

int deltaCount(double volts, DeltaSetting s) {
    const double c = (volts - s.offsetPot * hw::kDeltaOffsetStep) * hw::deltaGain(s.gainPot) *
                     hw::kDeltaCountsPerVolt;
    return int(std::lround(std::clamp(c, 0.0, double(hw::kAdcMax))));
}

DeltaSetting settingFor(double lowVolts, double highVolts) {
    DeltaSetting s;
    s.offsetPot = std::clamp(int(std::floor(lowVolts * 0.95 / hw::kDeltaOffsetStep)), 0, 255);
    const double span = highVolts - s.offsetPot * hw::kDeltaOffsetStep;
    const double gain = 950.0 / (span * hw::kDeltaCountsPerVolt);
    s.gainPot = std::clamp(int(std::floor(std::log2(std::max(1.0, gain)) * 64.0)), 0, 255);
    return s;
}

} // namespace

QByteArray defaultMasterEeprom() {
    QByteArray e(kImageBytes, char(0xFF));
    const std::pair<Param, int> factory[] = {
        {master::kFanTemp, 40},       {master::kStopTemp, 60},
        {master::kBatCutoffTemp, 0},  {master::kAutoCharge, 100}, // potentiometer value
        {master::kAutoDischarge, 50},                             // potentiometer value
        {master::kMaxPower, 30},
    };
    for (const auto &[param, v] : factory)
        setValue(e, param, v);
    QByteArray slaveImage(kImageBytes, char(0xFF));
    storeCalibration(e, slaveImage, HardwareTruth::unit());
    // Lithium threshold blocks, 1 to 5 cells.
    const double lithiumPoints[5] = {4.4, 4.2, 4.1, 3.0, 2.7};
    for (int n = 1; n <= cellBlockLayout(CellBlock::Lithium).maxCells; ++n) {
        const int base = cellBlockBase(CellBlock::Lithium, n);
        const DeltaSetting s = settingFor(2.7 * n, 4.4 * n);
        e[base + cellblock::kOffsetPot] = char(s.offsetPot);
        e[base + cellblock::kGainPot] = char(s.gainPot);
        for (int p = 0; p < 5; ++p) {
            const double volts = n == 3 && p == 2 ? 12.2 : lithiumPoints[p] * n;
            setWord(e, base + cellblock::point(p), deltaCount(volts, s));
        }
        const double microvoltsPerCount =
            1e6 / (hw::deltaGain(s.gainPot) * hw::kDeltaCountsPerVolt);
        setWord(e, base + cellblock::kCoefficientA, int(std::lround(microvoltsPerCount)));
        setWord(e, base + cellblock::kOffsetB,
                int(std::lround(s.offsetPot * hw::kDeltaOffsetStep * 1000)));
    }
    // Lead-acid blocks, 1 to 6 cells: charge, discharge and holding points.
    const double leadPoints[3] = {2.47, 5.0 / 3.0, 2.29};
    for (int n = 1; n <= cellBlockLayout(CellBlock::LeadAcid).maxCells; ++n) {
        const int base = cellBlockBase(CellBlock::LeadAcid, n);
        const DeltaSetting s = settingFor(1.6 * n, 2.5 * n);
        e[base + cellblock::kOffsetPot] = char(s.offsetPot);
        e[base + cellblock::kGainPot] = char(s.gainPot);
        for (int p = 0; p < 3; ++p)
            setWord(e, base + cellblock::point(p), deltaCount(leadPoints[p] * n, s));
    }
    QByteArray id(kIdentBytes, '\0');
    id.replace(0, 40, "CHARGEUR RAPIDE MAITRE V2.3 (VIRTUEL)   ");
    e.replace(kIdentFirst, kIdentBytes, id);
    return e;
}

QByteArray defaultSlaveEeprom() {
    QByteArray e(kImageBytes, char(0xFF));
    QByteArray masterImage(kImageBytes, char(0xFF));
    storeCalibration(masterImage, e, HardwareTruth::unit());
    for (int a = slave::kFirstUnused; a < kGeneralBytes; ++a)
        e[a] = 0;
    QByteArray id(kIdentBytes, '\0');
    id.replace(0, 38, "CHARGEUR RAPIDE ESCLAVE V1.4 (VIRTUEL)");
    e.replace(kIdentFirst, kIdentBytes, id);
    return e;
}

QByteArray defaultTextEeprom() {
    static const char *const messages[] = {
        "CHARGEUR RAPIDE ", "Pret            ", "Charge en cours ",  "Charge terminee ",
        "Decharge        ", "Limite decharge ", "Batterie absente",  "Inversion polar.",
        "Temp. trop haute", "Ventilateur     ", "Mode moniteur   ",  "Mesure capacite ",
        "Cyclage         ", "Erreur I2C      ", "Alim. trop basse",  "Doubleur coupe  ",
        "Booster actif   ", "Choix programme ", "Nbre elements ?  ", "Courant charge  ",
        "Courant decharge", "Duree max.      ", "Delta V detecte ",  "dV/dT detecte   ",
        "Maintien        ", "Fin de cycle    ",
    };
    QByteArray e;
    e.reserve(kExtEepromBytes);
    const int known = int(sizeof messages / sizeof messages[0]);
    for (int r = 0; r < 256; ++r) {
        QByteArray rec =
            r < known ? QByteArray(messages[r]).left(16)
                      : QByteArray("Message ") + QByteArray::number(r).rightJustified(3, '0');
        e += rec.leftJustified(16, ' ', true);
    }
    return e;
}

QByteArray defaultProgramEeprom() {
    namespace pr = charger::progrecord;
    struct Program {
        const char *name;
        pr::ProgramParams p; // flags, type, cells, charge and discharge in 10 mA, hours,
                             // minutes, cycles, voltage in 10 mV
    };
    static const Program programs[] = {
        {"NiMH AA 2000", {0, pr::NiMh, 6, 200, 100, 1, 30, 1, 90}},
        {"NiMH AAA 800", {0, pr::NiMh, 4, 80, 40, 1, 30, 1, 90}},
        {"NiCd SC 1700", {0, pr::NiCd, 8, 170, 170, 1, 20, 1, 85}},
        {"NiCd Cyclage", {16, pr::NiCd, 6, 120, 120, 1, 20, 3, 90}},
        {"NiMH 7.2V 3000", {2, pr::NiMh, 6, 300, 200, 1, 30, 1, 100}},
        {"Rx 4.8V 1100", {32, pr::NiMh, 4, 55, 55, 2, 40, 1, 100}},
        {"LiIon 2S 2200", {pr::option::kLithiumFastEnd, pr::Lithium, 2, 110, 100, 2, 30, 1, 420}},
        {"LiPo 3S 1500", {pr::option::kLithiumCv41, pr::Lithium, 3, 150, 150, 1, 50, 1, 410}},
        {"Plomb 12V 7Ah", {0, pr::LeadAcid, 6, 70, 70, 0, 0, 1, 247}},
        {"Plomb 6V 4Ah", {2, pr::LeadAcid, 3, 40, 40, 0, 0, 1, 229}},
    };
    const int count = int(sizeof programs / sizeof programs[0]);
    // The header: the number of programs; the rest of the record is blank.
    QByteArray e = QByteArray::number(count).rightJustified(pr::kHeaderChars, '0') +
                   QByteArray(pr::kRecordBytes - pr::kHeaderChars, ' ');
    for (int k = 1; k <= pr::kPrograms; ++k)
        e += k <= count
                 ? pr::programRecord(QString::fromLatin1(programs[k - 1].name), programs[k - 1].p)
                 : pr::programRecord(QString(), {});
    return e;
}

ChargerMemories::ChargerMemories()
    : eepromMaster(defaultMasterEeprom()),
      eepromSlave(defaultSlaveEeprom()), extEeprom{defaultTextEeprom(), defaultProgramEeprom()},
      masterFlash(kMasterFlashBytes, char(0xFF)), slaveFlash(kSlaveFlashWords, 0x3FFF) {}

} // namespace sim
