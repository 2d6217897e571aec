#pragma once

#include "charger/channels.h"

#include <QByteArray>

namespace sim {

// What one analogue input of this unit really does, whatever its EEPROMs hold: the converter
// count of a physical value v is offset + countsPerUnit x v, before the noise, the rounding
// and the clipping to 0..1023. The temperature sensors count down as they warm (negative
// countsPerUnit).
struct Transfer {
    double countsPerUnit = 0;
    double offsetCounts = 0;
    double count(double v) const { return offsetCounts + countsPerUnit * v; }
    double value(double count) const { return (count - offsetCounts) / countsPerUnit; }
};

// The hardware truth of one charger: the transfer of every analogue input and what its
// current potentiometers really give, fixed at power-on. The constants in the EEPROMs are
// only this unit's calibration of it: rewriting them changes what the PC converts, never a
// count or a current.
struct HardwareTruth {
    Transfer supply;    // channel 6, volts
    Transfer doubler;   // channel 7, volts
    Transfer heatsink;  // channel 5, degrees C
    Transfer pack;      // channel 9, degrees C (a sensor of the same kind in the pack)
    Transfer charge;    // channel 10, amperes
    Transfer discharge; // channel 11, amperes
    Transfer battery;   // channel 13, volts
    // Potentiometer steps per ampere of the charge and discharge stages.
    double chargeStepsPerAmp = 50;
    double dischargeStepsPerAmp = 50;
    // Converter noise: a uniform error of up to this many counts either way before rounding.
    double noiseCounts = 0.4;

    // This unit: close to the nominal design values (0.5 to 2 % off, as parts vary).
    static HardwareTruth unit();
    const Transfer &transfer(charger::Quantity q) const;
};

// The errors of the reference instruments a calibration was made with, as fractions of the
// reading (0.01: the meter reads 1 % high).
struct CalibrationErrors {
    double supply, doubler, thermometer, charge, discharge, battery, chargePot, dischargePot;
};
// The factory's calibration bench: within 1.5 %.
constexpr CalibrationErrors kFactoryErrors{0.009, -0.012, 0.01,  -0.007,
                                           0.011, -0.008, 0.013, -0.009};
// A visibly miscalibrated charger: every constant about 10 % off.
constexpr CalibrationErrors kMiscalibratedErrors{0.10, -0.10, 0.10, -0.10,
                                                 0.10, -0.10, 0.10, -0.10};

// Writes the calibration constants of both general regions (temperature slope and offset,
// supply, doubler, current and battery divisors, potentiometer coefficients) as a
// calibration bench computes them from readings of `truth` at reference values, each
// reference read with its error, through the formulas the calibration windows use:
//   divisor = floor(1024 x count / hundredths), pot coefficient = floor(pot / hundredths x
//   100), temperature slope and offset from two points.
void storeCalibration(QByteArray &master, QByteArray &slave, const HardwareTruth &truth,
                      const CalibrationErrors &errors = kFactoryErrors);

} // namespace sim
