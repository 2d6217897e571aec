#pragma once

#include <QString>

namespace sim {

enum class Chemistry { NiCd, NiMH, Lithium, LeadAcid };

// "nicd", "nimh", "lithium", "lead" (and the digits 0..3 of the charge-program records).
bool chemistryFromText(const QString &text, Chemistry *out);
QString chemistryText(Chemistry c);

struct BatterySpec {
    Chemistry chemistry = Chemistry::NiMH;
    int cells = 6;
    double capacityAh = 2.0;
    double stateOfCharge = 0.3; // 0..1
    double ambientC = 20.0;
};

// A battery pack: open-circuit voltage from the state of charge, a polarisation that builds
// up under current and relaxes when it stops, an internal resistance, a charge efficiency
// that falls near full charge (the unaccepted charge turns into heat), and a temperature
// with a thermal mass and a thermal resistance to the ambient air.
//
// Near full charge a nickel pack's voltage rises steeply, peaks, then falls as the pack
// warms: the drop a delta-voltage detector ends the charge on.
class Battery {
  public:
    Battery() { reset(BatterySpec{}); }
    explicit Battery(const BatterySpec &spec) { reset(spec); }

    void reset(const BatterySpec &spec);
    const BatterySpec &spec() const { return m_spec; }

    // Moves the pack forward by dt seconds with `amps` flowing (positive: charge). The
    // caller keeps dt at a second or less.
    void step(double dt, double amps, bool fanCooling = false);

    // Pack voltage at the terminals with `amps` flowing now (the polarisation is the state
    // built up so far; the resistive drop follows the current at once).
    double terminalVolts(double amps) const;
    double restVolts() const { return terminalVolts(0); }
    double resistanceOhms() const; // whole pack
    double temperatureC() const { return m_tempC; }
    double stateOfCharge() const { return m_soc; }
    double polarisationVolts() const { return m_polar; } // per cell

    // Restoring a saved pack.
    void setState(double soc, double tempC, double polarisationPerCell);

  private:
    double openCircuitPerCell() const;
    double chargeEfficiency() const;
    double polarisationTarget(double amps) const; // per cell
    double cellResistance() const;

    BatterySpec m_spec;
    double m_soc = 0;
    double m_tempC = 20;
    double m_polar = 0; // per cell, volts
};

} // namespace sim
