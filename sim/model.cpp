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

Model::Model(Hardware &hardware) : m_hw(hardware) {
    m_sinkC = m_battery.spec().ambientC;
}

double Model::doublerVolts() const {
    const Outputs &o = m_hw.outputs;
    if (o.doublerCut || m_hw.doublerBroken)
        return std::max(0.0, m_hw.supplyVolts - 0.6); // through the diode only
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
    if (!o.charge || !o.power || m_hw.reversedBattery || !packConnected()) return 0;
    const double wanted = o.potCharge / m_hw.truth.chargeStepsPerAmp;
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
    if (!o.discharge || m_hw.reversedBattery || !packConnected()) return 0;
    const double wanted = o.potDischarge / m_hw.truth.dischargeStepsPerAmp;
    return std::clamp(packVolts(0) / (m_battery.resistanceOhms() + 0.1), 0.0, wanted);
}

double Model::packVolts(double amps) const {
    if (m_hw.labSupplyVolts > 0) return m_hw.labSupplyVolts;
    return m_hw.batteryPresent ? m_battery.terminalVolts(amps) : 0.0;
}

double Model::measuredBatteryVolts() const {
    const double v = batteryVolts();
    return m_hw.outputs.ground ? v : v + chargeAmps() * kReturnOhms;
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
    // A laboratory supply in the battery's place takes the current; the pack rests (an
    // unplugged one too, cooling in the same air).
    const bool inCircuit = m_hw.labSupplyVolts <= 0 && m_hw.batteryPresent;
    m_battery.step(dt, inCircuit ? ic - id : 0.0, m_hw.outputs.fan);
    m_seconds += dt;
    return ic;
}

double Model::deltaRaw() const {
    const Outputs &o = m_hw.outputs;
    const double offset = o.potOffset * hw::kDeltaOffsetStep;
    return (measuredBatteryVolts() - offset) * hw::deltaGain(o.potGain) * hw::kDeltaCountsPerVolt;
}

int Model::deltaCount() const {
    return clampCount(deltaRaw());
}

int Model::count(Quantity q, double value) const {
    return clampCount(m_hw.truth.transfer(q).count(value));
}

// A reading on the line: the hardware's count with the converter's noise, uniform within
// noiseCounts either way (a fixed sequence, so that runs repeat).
int Model::reading(const Transfer &t, double value) const {
    return clampCount(t.count(value) + noise());
}

double Model::noise() const {
    m_noise ^= m_noise << 13;
    m_noise ^= m_noise >> 17;
    m_noise ^= m_noise << 5;
    return m_hw.truth.noiseCounts * (2.0 * (m_noise / 4294967295.0) - 1.0);
}

int Model::count(int code) const {
    const charger::ChannelMeaning *channel = charger::channelMeaning(code);
    if (!channel) return 0;
    const HardwareTruth &t = m_hw.truth;
    switch (channel->measure) {
    case Measure::HeatsinkTemperature:
        return reading(t.heatsink, m_sinkC);
    case Measure::SupplyVolts:
        return reading(t.supply, m_hw.supplyVolts);
    case Measure::DoublerVolts:
        return reading(t.doubler, doublerVolts());
    case Measure::Polarity:
        // With no pack the input sees no reversed voltage either.
        return m_hw.reversedBattery && packConnected() ? 12 : 850;
    case Measure::PackTemperature:
        // The pack's sensor goes with the pack: unplugged, its input floats to the top.
        if (!m_hw.batteryPresent) return hw::kAdcMax;
        return reading(t.pack, m_battery.temperatureC());
    case Measure::ChargeAmps:
        return reading(t.charge, chargeAmps());
    case Measure::DischargeAmps:
        return reading(t.discharge, dischargeAmps());
    case Measure::DeltaVolts:
        return clampCount(deltaRaw() + noise());
    case Measure::BatteryVolts:
        if (m_hw.reversedBattery && packConnected()) return 0;
        return reading(t.battery, measuredBatteryVolts());
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
