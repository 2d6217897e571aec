#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// The internal EEPROMs of the charger's two controllers: 256 bytes each, the PC's images of
// them being calibration tables A (master) and B (slave). Every address a window, a codec or
// the virtual charger uses is named here.
namespace charger {

enum class Controller { Master, Slave }; // table A, table B
enum class Width { Byte, Word };         // a word: high byte at the address, low byte after it
enum class Region {
    General,        // 0..15, the named parameters
    Parameters,     // 16..191, shown by the editor without names
    Identification, // 192..255, a text made of the non-zero bytes
};

constexpr int kImageBytes = 256;
constexpr int kGeneralBytes = 16;
constexpr int kIdentFirst = 192;
constexpr int kIdentBytes = kImageBytes - kIdentFirst;
// The EEPROM editor writes addresses 0..kEditorWritten - 1 back to a controller: never the
// identification text, which belongs to the firmware.
constexpr int kEditorWritten = kIdentFirst;

constexpr Region regionOf(int address) {
    return address < kGeneralBytes ? Region::General
           : address < kIdentFirst ? Region::Parameters
                                   : Region::Identification;
}

// One entry of the address map.
struct Param {
    Controller controller;
    int address;
    Width width;
    const char *name;    // what the editor shows for the first (high) byte; null above 15
    const char *lowName; // what it shows for a word's low byte
    const char *meaning;

    constexpr int size() const { return width == Width::Word ? 2 : 1; }
    constexpr int last() const { return address + size() - 1; }
    constexpr Region region() const { return regionOf(address); }
};

constexpr Param byteParam(Controller c, int address, const char *name, const char *meaning) {
    return {c, address, Width::Byte, name, nullptr, meaning};
}
constexpr Param wordParam(Controller c, int address, const char *highName, const char *lowName,
                          const char *meaning) {
    return {c, address, Width::Word, highName, lowName, meaning};
}

// General parameters of the master controller (table A).
namespace master {
constexpr Controller M = Controller::Master;
inline constexpr Param kTempSlope =
    wordParam(M, 0, "Correction temperature H", "Correction temperature L", "temperature slope");
inline constexpr Param kTempOffset =
    wordParam(M, 2, "Decallage temperature H", "Decallage Temperature L",
              "temperature offset: the count at 0 degrees");
inline constexpr Param kFanTemp = byteParam(M, 4, "Temperature ventilo", "fan temperature");
inline constexpr Param kStopTemp = byteParam(M, 5, "Temperature arret", "stop temperature");
inline constexpr Param kBatTempCorrection =
    wordParam(M, 6, "Correction tenperature bat H", "Correction temperature bat L",
              "battery temperature correction");
inline constexpr Param kBatCutoffTemp =
    byteParam(M, 8, "Temperature bat coupure",
              "battery cut-off temperature; the state panel adds it to the temperature reading");
inline constexpr Param kSupplyDivisor =
    wordParam(M, 9, "Correction V alim H", "Correction V alim L", "supply voltage divisor");
inline constexpr Param kDoublerDivisor = wordParam(
    M, 11, "Correction V alim dbl H", "Correction V alim dbl L", "doubler voltage divisor");
inline constexpr Param kAutoCharge =
    byteParam(M, 13, "NU", "automatic-mode charge current (potentiometer value)");
inline constexpr Param kAutoDischarge =
    byteParam(M, 14, "NU", "automatic-mode discharge current (potentiometer value)");
inline constexpr Param kMaxPower =
    byteParam(M, 15, "Nombre de choix modes", "maximum power, as the temperature window edits it");
} // namespace master

// General parameters of the slave controller (table B); addresses 8..15 are unused.
namespace slave {
constexpr Controller S = Controller::Slave;
inline constexpr Param kChargeDivisor =
    wordParam(S, 0, "Correction I Charge H", "Correction I Charge L", "charge current divisor");
inline constexpr Param kDischargeDivisor = wordParam(
    S, 2, "Correction I Decharge H", "Correction I Decharge L", "discharge current divisor");
inline constexpr Param kPotCharge = byteParam(
    S, 4, "Correction Pot I Charge", "charge-current potentiometer coefficient (steps per ampere)");
inline constexpr Param kPotDischarge =
    byteParam(S, 5, "Correction Pot I Decharge",
              "discharge-current potentiometer coefficient (steps per ampere)");
inline constexpr Param kBatteryDivisor = wordParam(
    S, 6, "Correction V Batterie H", "Correction V Batteriet L", "battery voltage divisor");
constexpr int kFirstUnused = 8;
} // namespace slave

// The cell-voltage blocks of the master's parameter region, written by the cell-voltage
// calibration windows: lithium packs of 1 to 5 cells (16 bytes a block), then lead-acid
// packs of 1 to 6 cells (8 bytes).
enum class CellBlock { Lithium, LeadAcid };

struct CellBlockLayout {
    int maxCells;
    int length; // bytes
    int points; // reference points, one word each
    bool law;   // the block ends with coefficient A and offset B
};
const CellBlockLayout &cellBlockLayout(CellBlock kind);
// First address of the block for a pack of `cells` cells (1..maxCells).
constexpr int cellBlockBase(CellBlock kind, int cells) {
    return kind == CellBlock::Lithium ? 16 * cells : 88 + 8 * cells;
}

// Offsets inside a block.
namespace cellblock {
constexpr int kOffsetPot = 0; // byte: delta amplifier offset potentiometer
constexpr int kGainPot = 1;   // byte: delta amplifier gain potentiometer
// Word: the count captured at reference point p (0-based).
constexpr int point(int p) {
    return 2 + 2 * p;
}
constexpr int kCoefficientA = 12; // word: microvolts per count (lithium)
constexpr int kOffsetB = 14;      // word: millivolts (lithium)
} // namespace cellblock

// Every entry of a controller's map, in address order: the general parameters and, for the
// master, the fields of every cell-voltage block.
const QVector<Param> &addressMap(Controller c);

// The name the editor shows for an address of the general region; empty elsewhere.
QString editorName(Controller c, int address);
// The controller a target selector value addresses: 1 the master, any other the slave.
constexpr Controller controllerOf(int targetSelector) {
    return targetSelector == 1 ? Controller::Master : Controller::Slave;
}
// The identification text of an image: its non-zero bytes from kIdentFirst on, in address
// order, each taken as a Latin-1 character.
QString identificationText(const QByteArray &image);

// A 16-bit constant of an image, high byte first: 256 x T(i) + T(i + 1); 0 when the image
// holds no byte at i or i + 1.
int word(const QByteArray &image, int address);
void setWord(QByteArray &image, int address, int value);
// A parameter's value, byte or word by its width.
int value(const QByteArray &image, const Param &p);
void setValue(QByteArray &image, const Param &p, int v);

} // namespace charger
