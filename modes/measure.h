#pragma once

#include "charger/channels.h"

#include <QByteArray>
#include <QString>
#include <optional>

// Measurement arithmetic shared by the charge, discharge and capacity windows: converter
// counts to volts, amperes and degrees with the calibration tables, the setpoint display,
// the run clock and the charge integration. Plain code: no port, no widget.
namespace modes {

// floor() that forgives the last-bit error of a binary product: 1000 x 4.35 / 3 is 1450,
// not 1449.9999999.
double floorExact(double x);

// The channel table and its conversions are the charger's own (charger/channels.h); the mode
// windows use them by their short names.
using charger::channel;
using charger::ChannelDef;
using charger::convert;
using charger::Quantity;

// A converted value that keeps its previous value when a conversion is not possible.
struct Kept {
    std::optional<double> value;
    void update(std::optional<double> v) {
        if (v) value = v;
    }
    double orZero() const { return value.value_or(0.0); }
};

// The current of a potentiometer setting: floor(100 x v / divisor) / 100 amperes, nullopt
// when the divisor byte is zero.
std::optional<double> setpointAmps(int sliderValue, int divisorByte);
// "COURANT DE CHARGE = 1.5 A"; with a zero divisor the slider value alone.
QString setpointText(const QString &prefix, int sliderValue, int divisorByte);

// Elapsed run time split for the clock labels.
struct Hms {
    int hours = 0, minutes = 0, seconds = 0;
};
Hms splitClock(qint64 seconds);
// "05" below 10, the number text otherwise.
QString clockText(int v);

// Seconds since the start of a run from the charger's clock readings (seconds of the day).
// The clock wraps after 24 hours; elapsed time keeps growing across the wrap. A reading
// below the last one is the wrap only when it looks like it: the step forward across
// midnight, from the last reading to the new one, is at most kWrapWindow. Any other backward
// step, or a reading whose fields cannot be a time of day, is a glitch (a corrupted byte):
// elapsed time stays where it was and the next readings are measured from the last good one.
class RunClock {
  public:
    static constexpr int kDaySeconds = 24 * 3600;
    // One hour: a poll of the fastest demonstration clock (about 1200 charger seconds) still
    // crosses midnight as a wrap, while a corrupted minutes or hours byte almost never lands
    // within an hour after midnight just when the clock is within the hour before it.
    static constexpr int kWrapWindow = 3600;

    struct Reading {
        qint64 elapsed = 0;  // DUREE: grows with the clock, unchanged by a glitch
        qint64 received = 0; // the reading as it came, against the start (what the log shows)
        bool glitch = false;
    };

    void start(int chargerSeconds);
    // fieldsValid: hours below 24, minutes and seconds below 60.
    Reading read(int chargerSeconds, bool fieldsValid = true);

  private:
    int m_start = 0;
    int m_last = 0;
    qint64 m_wraps = 0;
};

// Charge delivered or taken out in a run: milliampere-seconds, and CAPACITE in mAh.
class ChargeCounter {
  public:
    void reset() { m_mAs = 0; }
    // Adds (duree - previous duree) x 1000 x amps; a step that is not forward adds nothing.
    void add(qint64 seconds, double amps) {
        if (seconds > 0) m_mAs += double(seconds) * 1000.0 * amps;
    }
    double milliampereSeconds() const { return m_mAs; }
    qint64 capacity() const; // floor(mA.s / 3600)

  private:
    double m_mAs = 0;
};

// Voltage per cell: floor(1000 x vbat / cells) / 1000.
double voltsPerCell(double vbat, double cells);
// The discharge ends below 0.5 V per cell: floor(10 x vpc) < 5.
bool endOfDischarge(double voltsPerCell);

} // namespace modes

namespace modes {

// The MODE box of the charge window: text that is not a number counts as 0; a number
// outside 0..255 is refused (nullopt).
std::optional<int> parseModeText(const QString &text);
// The cell count of the discharge window: nullopt when empty, not a number, or not above 0
// (the voltage per cell could not be formed and the discharge would never end).
std::optional<double> parseCellCount(const QString &text);

} // namespace modes
