#pragma once

#include "eeprommap.h"
#include "link/commands.h"

#include <QByteArray>
#include <optional>

// The measurement channels the windows convert, with the calibration words their
// conversions read. Plain code: no port, no widget.
namespace charger {

// What the channel of each measurement command (5..13) measures.
enum class Measure {
    HeatsinkTemperature, // 5: the charger's own temperature, at the heat sink of its power stage
    SupplyVolts,         // 6: the supply at the charger's input
    DoublerVolts,        // 7: the doubler's (or booster's) output feeding the charge stage
    Polarity,            // 8: the battery's polarity; a count below 100 means reversed
    PackTemperature,     // 9: the battery pack's temperature
    ChargeAmps,          // 10: the charge current
    DischargeAmps,       // 11: the discharge current
    DeltaVolts,          // 12: the battery voltage through the delta amplifier (pots 21, 22)
    BatteryVolts,        // 13: the battery voltage at its terminals
};

struct ChannelMeaning {
    chlink::Cmd command;
    Measure measure;
    const char *meaning;
};

// The meaning of a measurement command's channel, or nullptr for any other code.
const ChannelMeaning *channelMeaning(int code);

// The quantities read from a measurement channel and converted with the calibration tables.
// Temper is the charger's heat-sink temperature of channel 5 (`TEMPER`); the pack temperature
// of channel 9 has no conversion in the programs.
enum class Quantity { Valim, Vdbl, Temper, Ichrg, Idech, Vbat };

struct ChannelDef {
    Quantity quantity;
    chlink::Cmd command;
    Param calibration; // the calibration word (the gain for the temperature)
    const char *countName;
};

// The channel table, once for every window and the virtual charger.
const ChannelDef &channel(Quantity q);

// Converted value of a count, or nullopt when the calibration word is zero: the caller then
// keeps the value it had (empty before the first computation).
//   volts/amperes: floor(1024 x count / word) / 100
//   temperature:   floor(1024 x (offset - count) / gain)
std::optional<double> convert(Quantity q, int count, const QByteArray &tableA,
                              const QByteArray &tableB);

// The converter count that reads as `value`, before rounding and clipping: the inverse of
// convert(), as a charger whose converters match its calibration produces it.
//   volts/amperes: value x 100 x word / 1024
//   temperature:   offset - value x gain / 1024
double countFor(Quantity q, double value, const QByteArray &tableA, const QByteArray &tableB);

} // namespace charger
