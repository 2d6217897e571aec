#pragma once

#include "runlog.h"

#include <QString>
#include <QStringList>
#include <optional>

// The arithmetic and rules of the capacity measurement: the totals' display, the delta
// amplifier's adjustment, the end of a charge, the voltage a cell and the end of a
// discharge, the fan and overheat watch, the internal resistance and the log's lines.
// Plain code: no port, no widget.
namespace modes::capa {

// A charge in whole mAh as the window shows it: floor(1000 x ampereSeconds / 3600).
double milliampHours(double ampereSeconds);
// "C " + milliampHours(ampereSeconds) + "mAh" (prefix "C " or "D ").
QString totalText(const QString &prefix, double ampereSeconds);
// What a display step adds to the charge total: 12 x amps during the preparation (display
// argument 1), 2 x amps otherwise (a step of two seconds).
double chargeStepAmpereSeconds(int displayArgument, double amps);

// The delta amplifier's adjustment before each charge: the gain rises from 0 by tens until
// the delta count is above 700 (it ends ten above the setting that gave it); when no gain
// gets there, the offset falls from 255 by tens instead.
class DeltaAdjust {
  public:
    static constexpr int kTarget = 700;
    enum class Stage { Gain, Offset, Done, Problem };

    int gain() const { return m_gain; }
    int offset() const { return m_offset; }
    Stage stage() const { return m_stage; }
    bool finished() const { return m_stage == Stage::Done || m_stage == Stage::Problem; }

    // The count read with the present setting; afterwards gain() or offset() is the next
    // setting to send (the one that changed is the stage's: Gain, or Offset once the gain
    // has run out).
    void reading(int count);
    // Which potentiometer the last reading() changed.
    bool offsetChanged() const { return m_offsetChanged; }

  private:
    int m_gain = 0;
    int m_offset = 255;
    Stage m_stage = Stage::Gain;
    bool m_done = false; // a count above the target was seen
    bool m_offsetChanged = false;
};

// The end of a charge on the delta voltage: the count's peak, with the gain lowered by a
// sixteenth when the count climbs above 1000 (the peak then starts again).
class ChargeEnd {
  public:
    static constexpr int kCeiling = 1000;
    static constexpr int kDrop = 5; // the charge ends below peak - 5: a drop of 6 counts

    explicit ChargeEnd(int gain = 0) : m_gain(gain) {}
    struct Step {
        int count;    // the count as the rest of the step takes it (10 after a cut)
        bool gainCut; // the gain was lowered: send gain()
        bool ended;   // the count fell below the peak
    };
    Step update(int count);
    int gain() const { return m_gain; }
    int peak() const { return m_peak; }

  private:
    int m_gain;
    int m_peak = 0;
};

// VUNIT in hundredths of a volt: floor(100 x vbat / cells).
int voltsPerCellHundredths(double vbat, double cells);
inline double voltsPerCell(double vbat, double cells) {
    return voltsPerCellHundredths(vbat, cells) / 100.0;
}
// The discharge goes on while VUNIT is above 0.90 V.
inline bool dischargeGoesOn(int vunitHundredths) {
    return vunitHundredths > 90;
}

// floor(1000 x (v2 - v1)): the drop between the two discharge currents, shown in mR.
double resistance(double v1, double v2);

// The fan and overheat watch on TEMPER (the charger's temperature).
class TempWatch {
  public:
    static constexpr double kFanOn = 50;    // above: fan on
    static constexpr double kFanOff = 45;   // below: fan off
    static constexpr double kOverheat = 90; // above: hold
    static constexpr double kHoldEnd = 86;  // the hold ends below

    enum class Fan { Keep, On, Off };
    // The fan command due for this temperature (none when it is unknown); the fan state is
    // taken as switched.
    Fan update(std::optional<double> temper);
    static bool overheat(std::optional<double> temper) { return temper && *temper > kOverheat; }
    static bool holdEnds(std::optional<double> temper) { return temper && *temper < kHoldEnd; }
    bool fanOn() const { return m_fan; }
    void reset() { m_fan = false; }

  private:
    bool m_fan = false;
};

// The number of cycles: empty or 0 is taken as 1; a whole number from 1 to kMaxCycles is
// taken as it is; anything else (negative, a fraction, not a number) is refused.
inline constexpr int kMaxCycles = 999;
std::optional<int> parseCycles(const QString &text);

// The log.
inline constexpr const char *kLogPrefix = "Capa_Bat";
const QStringList &logColumns(); // 11 names
// After the discharge of the logged cycle, and at the end of the process.
QString starLine();
QString equalsLine();

} // namespace modes::capa
