#pragma once

#include "charger/eeprommap.h"

#include <QString>
#include <QVector>
#include <array>
#include <optional>

// The calibration windows' arithmetic and tables: what they compute from the readings and
// the values typed, and what they refuse to store. Plain code: no port, no widget.
namespace calib {

// ---------------------------------------------------------------- numbers

// A number typed in a box, read as the windows read it: the leading number of the text
// (blanks, a sign, digits, '.' and digits), 0 when there is none.
double typedNumber(const QString &text);

// A 16-bit value as the EEPROMs hold it, high byte first.
struct WordBytes {
    quint8 high = 0, low = 0;
    bool operator==(const WordBytes &) const = default;
};
// high = floor(v / 256), low = v - 256 x high; nothing when v is not a whole number from 0
// to 65 535 (it would not fit the two bytes written).
std::optional<WordBytes> splitWord(double v);
// A byte value: nothing outside 0..255 or when not whole.
std::optional<quint8> byteValue(double v);

// What a window says when a computed or typed value does not fit what it is written into;
// nothing is written then.
QString doesNotFit(const QString &what, double value, int max);

// ---------------------------------------------------------------- cell voltages

// The reference voltages a cell-voltage window asks for, per cell count: volts for its
// computation and the caption of its capture button ("12,2 V").
struct ReferencePoints {
    charger::CellBlock kind;
    int cells;
    QVector<double> volts;
    QStringList captions;
};
// Nothing for a cell count the block kind does not have.
std::optional<ReferencePoints> referencePoints(charger::CellBlock kind, int cells);

// The lithium law from the five captured points (volts, counts), in double precision in
// this order: four segment slopes and the whole range's, A their floored mean (microvolts
// per count), four point offsets and B their floored mean (millivolts).
struct LithiumLaw {
    std::array<double, 5> slopes{};
    double a = 0;
    std::array<double, 4> offsets{};
    double b = 0;
};
struct LawResult {
    std::optional<LithiumLaw> law;
    QString refusal; // why nothing may be written (empty when law is set)
};
LawResult lithiumLaw(const std::array<double, 5> &volts, const std::array<double, 5> &counts);

// ---------------------------------------------------------------- scales and currents

// The arithmetic the scale and current windows store; a test puts a wrong one in its place
// to see a miscalibration through.
class Arithmetic {
  public:
    virtual ~Arithmetic() = default;
    // Scale of a voltage channel: floor(1024 x reading / hundredths); nothing for 0
    // hundredths.
    virtual std::optional<double> scale(double reading, double hundredths) const;
    // Current multiplier: floor(cad x 1024 / tens of milliamperes); nothing for 0.
    virtual std::optional<double> multiplier(double cad, double current) const;
    // Pot coefficient: floor(pot / tens of milliamperes x 100); nothing for 0.
    virtual std::optional<double> potCoefficient(double pot, double current) const;

    static const Arithmetic &standard();
};

// ---------------------------------------------------------------- automatic-mode currents

// The slider of a stored automatic-mode value: clamped to 127, from half to twice it.
struct AutoRange {
    int stored = 0; // after the clamp
    int minimum = 0;
    int maximum = 0;
};
AutoRange autoRange(int storedByte);
// floor(now / stored x 100) / 100; nothing for a stored 0.
std::optional<double> autoRatio(int now, int stored);

} // namespace calib
