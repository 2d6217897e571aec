#include "model.h"

#include "charger/eeprommap.h"

#include <algorithm>
#include <cmath>

using charger::Measure;
using charger::Quantity;

namespace sim {

namespace {
int clampCount(double c) {
    return int(std::lround(std::clamp(c, 0.0, double(hw::kAdcMax))));
}
} // namespace

Model::Model(Hardware &hardware, const ChargerMemories &memories)
    : m_hw(hardware), m_mem(memories) {
    m_sinkC = m_battery.spec().ambientC;
}

double Model::doublerVolts() const {
    const Outputs &o = m_hw.outputs;
    if (o.doublerCut) return std::max(0.0, m_hw.supplyVolts - 0.6); // through the diode only
    if (m_hw.boosterSupply && o.pwmFrequency > 0) {
        const double duty = std::clamp(o.pwmDelta / (4.0 * o.pwmFrequency), 0.0, 0.8);
        return std::max(0.0, m_hw.supplyVolts / (1.0 - duty) - 0.6);
    }
    return std::max(0.0, 2.0 * m_hw.supplyVolts - 1.2);
}

double Model::sourceVolts() const {
    return std::max(m_hw.supplyVolts, doublerVolts());
}

double Model::chargeAmps() const {
    const Outputs &o = m_hw.outputs;
    if (!o.charge || !o.power || m_hw.reversedBattery) return 0;
    const int pot = charger::value(m_mem.eepromSlave, charger::slave::kPotCharge);
    const int k = pot ? pot : hw::kPotCoefficient;
    const double wanted = double(o.potCharge) / k;
    // The linear stage needs headroom above the battery.
    const double headroom = sourceVolts() - 1.5 - packVolts(0);
    const double amps = std::clamp(headroom / m_battery.resistanceOhms(), 0.0, wanted);
    // The voltage loop: no more current than brings the terminals to the limit.
    const double limit = chargeLimit();
    if (limit <= 0 || m_hw.labSupplyVolts > 0) return amps;
    return std::min(amps, std::max(0.0, (limit - packVolts(0)) / m_battery.resistanceOhms()));
}

double Model::chargeLimit() const {
    if (m_chargeLimit > 0) return m_chargeLimit;
    const BatterySpec &spec = m_battery.spec();
    return spec.chemistry == Chemistry::Lithium ? spec.cells * kLithiumCellLimit : 0.0;
}

double Model::dischargeAmps() const {
    const Outputs &o = m_hw.outputs;
    if (!o.discharge || m_hw.reversedBattery) return 0;
    const int pot = charger::value(m_mem.eepromSlave, charger::slave::kPotDischarge);
    const int k = pot ? pot : hw::kPotCoefficient;
    const double wanted = double(o.potDischarge) / k;
    return std::clamp(packVolts(0) / (m_battery.resistanceOhms() + 0.1), 0.0, wanted);
}

double Model::packVolts(double amps) const {
    return m_hw.labSupplyVolts > 0 ? m_hw.labSupplyVolts : m_battery.terminalVolts(amps);
}

double Model::step(double dt) {
    const double ic = chargeAmps();
    const double id = dischargeAmps();
    const double vbat = packVolts(ic - id);
    // The heat sink takes the linear stage's loss and the discharge load.
    const double loss = ic * std::max(0.0, sourceVolts() - vbat) + id * vbat + 0.5;
    const double sinkRes = m_hw.outputs.fan ? 1.2 : 3.0;
    const double ambient = m_battery.spec().ambientC;
    m_sinkC += dt * (loss - (m_sinkC - ambient) / sinkRes) / 60.0;
    // A laboratory supply in the battery's place takes the current; the pack rests.
    m_battery.step(dt, m_hw.labSupplyVolts > 0 ? 0.0 : ic - id, m_hw.outputs.fan);
    m_seconds += dt;
    return ic;
}

int Model::deltaCount() const {
    const Outputs &o = m_hw.outputs;
    const double offset = o.potOffset * hw::kDeltaOffsetStep;
    return clampCount((batteryVolts() - offset) * hw::deltaGain(o.potGain) *
                      hw::kDeltaCountsPerVolt);
}

// The count a channel answers: the inverse of the PC's conversion with the calibration held
// in the charger's own EEPROMs, so that calibrated displays read true values.
int Model::count(Quantity q, double value) const {
    return clampCount(charger::countFor(q, value, m_mem.eepromMaster, m_mem.eepromSlave));
}

int Model::count(int code) const {
    const charger::ChannelMeaning *channel = charger::channelMeaning(code);
    if (!channel) return 0;
    switch (channel->measure) {
    case Measure::HeatsinkTemperature:
        return count(Quantity::Temper, m_sinkC);
    case Measure::SupplyVolts:
        return count(Quantity::Valim, m_hw.supplyVolts);
    case Measure::DoublerVolts:
        return count(Quantity::Vdbl, doublerVolts());
    case Measure::Polarity:
        return m_hw.reversedBattery ? 12 : 850;
    case Measure::PackTemperature:
        // No conversion of its own: the same sensor scale as the heat sink's.
        return count(Quantity::Temper, m_battery.temperatureC());
    case Measure::ChargeAmps:
        return count(Quantity::Ichrg, chargeAmps());
    case Measure::DischargeAmps:
        return count(Quantity::Idech, dischargeAmps());
    case Measure::DeltaVolts:
        return deltaCount();
    case Measure::BatteryVolts:
        if (m_hw.reversedBattery) return 0;
        return count(Quantity::Vbat, batteryVolts());
    }
    return 0;
}

void Model::pressButton(int n, bool pressed) {
    if (n >= 1 && n <= 6) m_buttons[n - 1] = pressed;
}

bool Model::buttonPressed(int n) const {
    return n >= 1 && n <= 6 && m_buttons[n - 1];
}

} // namespace sim
