#include "truth.h"

#include "charger/eeprommap.h"

#include <cmath>

namespace sim {

using charger::Quantity;

HardwareTruth HardwareTruth::unit() {
    // Nominal design: 39.06 counts per supply volt, 19.53 per doubler volt, 200 per ampere,
    // 50 per battery volt, 4 counts per degree falling from 800 at 0 degrees, 50 pot steps
    // per ampere. This unit's parts are a little off each.
    HardwareTruth t;
    t.supply = {39.45, 0.0};
    t.doubler = {19.31, 0.0};
    t.heatsink = {-3.94, 806.0};
    t.pack = {-3.96, 805.0};
    t.charge = {203.1, 0.0};
    t.discharge = {197.4, 0.0};
    t.battery = {50.62, 0.0};
    t.chargeStepsPerAmp = 49.2;
    t.dischargeStepsPerAmp = 50.8;
    return t;
}

const Transfer &HardwareTruth::transfer(Quantity q) const {
    switch (q) {
    case Quantity::Valim:
        return supply;
    case Quantity::Vdbl:
        return doubler;
    case Quantity::Temper:
        return heatsink;
    case Quantity::Ichrg:
        return charge;
    case Quantity::Idech:
        return discharge;
    case Quantity::Vbat:
        break;
    }
    return battery;
}

namespace {

// A divisor as the scale and current calibrations compute it: the count read at a reference
// value, against that value in hundredths as the reference instrument shows it.
int divisor(const Transfer &t, double reference, double error) {
    const double count = std::round(t.count(reference));
    return int(std::floor(1024.0 * count / std::floor(reference * (1 + error) * 100 + 0.5)));
}

// Steps per ampere: a pot setting against the current the ammeter shows for it.
int potCoefficient(double stepsPerAmp, int pot, double error) {
    const double amps = pot / stepsPerAmp;
    return int(std::floor(pot / std::floor(amps * (1 + error) * 100 + 0.5) * 100));
}

} // namespace

void storeCalibration(QByteArray &master, QByteArray &slave, const HardwareTruth &truth,
                      const CalibrationErrors &e) {
    using namespace charger;
    // Temperature: the heat-sink sensor read at two bath temperatures.
    const double t1 = 20, t2 = 70;
    const double c1 = std::round(truth.heatsink.count(t1));
    const double c2 = std::round(truth.heatsink.count(t2));
    const double r1 = t1 * (1 + e.thermometer), r2 = t2 * (1 + e.thermometer);
    const double slope = 1024.0 * (c1 - c2) / (r2 - r1);
    setValue(master, master::kTempSlope, int(std::lround(slope)));
    setValue(master, master::kTempOffset, int(std::lround(c1 + r1 * slope / 1024.0)));
    setValue(master, master::kBatTempCorrection, int(std::lround(slope)));
    setValue(master, master::kSupplyDivisor, divisor(truth.supply, 12.0, e.supply));
    setValue(master, master::kDoublerDivisor, divisor(truth.doubler, 20.0, e.doubler));
    setValue(slave, slave::kChargeDivisor, divisor(truth.charge, 2.0, e.charge));
    setValue(slave, slave::kDischargeDivisor, divisor(truth.discharge, 2.0, e.discharge));
    setValue(slave, slave::kBatteryDivisor, divisor(truth.battery, 12.0, e.battery));
    setValue(slave, slave::kPotCharge, potCoefficient(truth.chargeStepsPerAmp, 100, e.chargePot));
    setValue(slave, slave::kPotDischarge,
             potCoefficient(truth.dischargeStepsPerAmp, 100, e.dischargePot));
}

} // namespace sim
