#include "battery.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

struct CellTraits {
    double ocvEmpty;   // open-circuit volts at the foot of the curve
    double ocvSlope;   // volts gained over the whole state of charge
    double ocvKnee;    // depth of the collapse when empty
    double kneeWidth;  // state of charge over which the collapse happens
    double polarBase;  // polarisation at 1C, volts
    double polarFull;  // extra polarisation at 1C when full (the steep rise)
    double polarPower; // how late that rise comes
    double effBase;    // charge efficiency in the body of the charge
    double effKnee;    // state of charge where the charge efficiency starts to fall
    double tempCoeff;  // volts per kelvin (negative: a warm cell reads lower)
    double ohmAh;      // cell resistance times capacity (ohm * Ah)
    double heatCapAh;  // thermal mass per cell and Ah (J/K)
    double thermalRes; // kelvin per watt of one cell of 2 Ah to the air (scales as 1/sqrt(Ah))
    // Gassing: an overpotential that appears near full charge and hardly depends on the
    // current (a lead-acid cell climbs to its gassing voltage even at a tenth of C).
    double gasVolts; // at full charge
    double gasSoc;   // state of charge where it is half grown
    double gasWidth; // state of charge over which it grows
    // Nickel past full: the oxygen the positive electrode gives off recombines at the
    // negative and pulls the cell voltage down, the more so the more of the current goes
    // into that cycle (per cell at 1C, all of it unaccepted).
    double oxygenDrop;
};

// Nickel heating aimed at (ambient 20 C, a 2 Ah Ni-MH pack, the charge ended on its delta
// drop), from general battery-engineering knowledge: the pack stays within a few degrees of
// the ambient through the body of the charge, the oxygen cycle turns the charge it no longer
// stores into heat near full; by the end of charge it has risen some 3-10 K at 0.5C, 10-15 K
// at 1C and 15-30 K at 2C, and it keeps rising past full (Ni-Cd a little less: its charge
// reaction absorbs heat).
const CellTraits &traits(Chemistry c) {
    static const CellTraits nicd{1.20,    0.10, 0.32, 0.04, 0.07, 0.12, 10, 0.93, 0.88,
                                 -0.0020, 0.04, 14,   11,   0,    0,    0,  0.10};
    static const CellTraits nimh{1.21,    0.09, 0.33, 0.04, 0.07, 0.10, 10, 0.93, 0.88,
                                 -0.0025, 0.05, 14,   11,   0,    0,    0,  0.08};
    static const CellTraits lith{3.45,    0.75, 0.55, 0.05, 0.03, 0.35, 40, 0.99, 0.99,
                                 -0.0005, 0.08, 17,   12,   0,    0,    0,  0};
    static const CellTraits lead{1.95,    0.17, 0.25, 0.03, 0.60, 0.02, 8,    0.95, 0.80,
                                 -0.0040, 0.02, 25,   12,   0.45, 0.90, 0.03, 0};
    switch (c) {
    case Chemistry::NiCd:
        return nicd;
    case Chemistry::NiMH:
        return nimh;
    case Chemistry::Lithium:
        return lith;
    case Chemistry::LeadAcid:
        return lead;
    }
    return nimh;
}

} // namespace

bool chemistryFromText(const QString &text, Chemistry *out) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("nicd") || t == QLatin1String("ni-cd") || t == QLatin1String("0"))
        *out = Chemistry::NiCd;
    else if (t == QLatin1String("nimh") || t == QLatin1String("ni-mh") || t == QLatin1String("1"))
        *out = Chemistry::NiMH;
    else if (t == QLatin1String("lithium") || t == QLatin1String("li") || t == QLatin1String("2"))
        *out = Chemistry::Lithium;
    else if (t == QLatin1String("lead") || t == QLatin1String("pb") || t == QLatin1String("3"))
        *out = Chemistry::LeadAcid;
    else
        return false;
    return true;
}

QString chemistryText(Chemistry c) {
    switch (c) {
    case Chemistry::NiCd:
        return QStringLiteral("nicd");
    case Chemistry::NiMH:
        return QStringLiteral("nimh");
    case Chemistry::Lithium:
        return QStringLiteral("lithium");
    case Chemistry::LeadAcid:
        return QStringLiteral("lead");
    }
    return QString();
}

void Battery::reset(const BatterySpec &spec) {
    m_spec = spec;
    m_spec.cells = std::clamp(m_spec.cells, 1, 40);
    m_spec.capacityAh = std::clamp(m_spec.capacityAh, 0.05, 200.0);
    m_soc = std::clamp(spec.stateOfCharge, 0.0, 1.0);
    m_tempC = spec.ambientC;
    m_polar = 0;
}

void Battery::setState(double soc, double tempC, double polarisationPerCell) {
    m_soc = std::clamp(soc, 0.0, 1.0);
    m_tempC = std::clamp(tempC, -40.0, 150.0);
    m_polar = std::clamp(polarisationPerCell, -2.0, 2.0);
}

double Battery::openCircuitPerCell() const {
    const CellTraits &t = traits(m_spec.chemistry);
    // An exhausted cell has nothing left to hold its voltage up: it collapses, so it can
    // no longer drive a discharge current.
    const double collapse = t.ocvEmpty * std::exp(-m_soc / 0.004);
    return std::max(0.0, t.ocvEmpty + t.ocvSlope * m_soc -
                             t.ocvKnee * std::exp(-m_soc / t.kneeWidth) - collapse);
}

double Battery::chargeEfficiency() const {
    const CellTraits &t = traits(m_spec.chemistry);
    if (m_soc <= t.effKnee) return t.effBase;
    const double x = (m_soc - t.effKnee) / (1.0 - t.effKnee);
    return std::max(0.0, t.effBase * (1.0 - x * x));
}

double Battery::polarisationTarget(double amps) const {
    const CellTraits &t = traits(m_spec.chemistry);
    const double rate = amps / m_spec.capacityAh; // in C
    if (rate >= 0) {
        const double gas = t.gasVolts > 0
                               ? t.gasVolts / (1.0 + std::exp((t.gasSoc - m_soc) / t.gasWidth)) *
                                     rate / (rate + 0.005)
                               : 0.0;
        const double unaccepted = 1.0 - chargeEfficiency() / t.effBase;
        const double oxygen =
            t.oxygenDrop * unaccepted * unaccepted * std::sqrt(std::min(rate, 2.0));
        return rate * (t.polarBase + t.polarFull * std::pow(m_soc, t.polarPower)) + gas - oxygen;
    }
    // Discharging: the polarisation deepens as the cell empties.
    return rate * (t.polarBase + 0.10 * std::exp(-m_soc / 0.05));
}

double Battery::cellResistance() const {
    const CellTraits &t = traits(m_spec.chemistry);
    const double cold = std::clamp(1.0 + 0.01 * (20.0 - m_tempC), 0.6, 2.0);
    return t.ohmAh / m_spec.capacityAh * (1.0 + 0.5 * std::exp(-m_soc / 0.1)) * cold;
}

double Battery::resistanceOhms() const {
    return m_spec.cells * cellResistance() + 0.02; // plus leads and contacts
}

double Battery::terminalVolts(double amps) const {
    const CellTraits &t = traits(m_spec.chemistry);
    const double cell = openCircuitPerCell() + m_polar + t.tempCoeff * (m_tempC - 20.0);
    return std::max(0.0, m_spec.cells * cell + amps * resistanceOhms());
}

void Battery::step(double dt, double amps, bool fanCooling) {
    if (dt <= 0) return;
    const CellTraits &t = traits(m_spec.chemistry);
    const double q = m_spec.capacityAh;

    // Heat per cell: resistive loss, polarisation loss, and the charge the cell no longer
    // stores once nearly full.
    const double eff = amps > 0 ? chargeEfficiency() : 1.0;
    const double cellVolts = openCircuitPerCell();
    double heat = amps * amps * cellResistance() + std::abs(amps * m_polar);
    if (amps > 0) heat += (1.0 - eff) * amps * (cellVolts + m_polar);

    // Thermal mass and resistance to the air (a fan halves it).
    const double heatCap = t.heatCapAh * q;
    const double thermalRes = t.thermalRes * std::sqrt(2.0 / q) * (fanCooling ? 0.5 : 1.0);
    m_tempC += dt * (heat - (m_tempC - m_spec.ambientC) / thermalRes) / heatCap;

    // Charge stored or taken out.
    if (amps > 0)
        m_soc += eff * amps * dt / (3600.0 * q);
    else
        m_soc += amps * dt / (3600.0 * q);
    m_soc = std::clamp(m_soc, 0.0, 1.0);

    // The polarisation follows the current with a time constant of about a minute.
    const double tau = 60.0;
    m_polar += (polarisationTarget(amps) - m_polar) * std::min(1.0, dt / tau);
}

} // namespace sim
