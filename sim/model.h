#pragma once

#include "battery.h"
#include "charger/channels.h"
#include "memories.h"
#include "truth.h"

#include <QtGlobal>

namespace sim {

// The charger's digital outputs and potentiometers, as the commands set them. Power-on
// state: every path cut, the battery grounded, the doubler cut.
struct Outputs {
    bool charge = false;    // 15: charge path on
    bool discharge = false; // 16: discharge path on
    bool power = false;     // 17: power path on
    bool ground = true;     // 18: battery grounded (idle or measuring)
    bool led = false;       // 23
    bool fan = false;       // 25
    quint8 doublerCut = 1;  // 51: first argument, 1 = doubler cut
    quint8 pwmFrequency = 0;
    quint16 pwmDelta = 0;
    quint8 potCharge = 0;    // 19
    quint8 potDischarge = 0; // 20
    // 21, 22: the delta amplifier. At power-on the firmware sets a gain of 2.8 and an offset of
    // 3.8 V (about 140 counts per volt), which suits the usual 6- to 8-cell packs without
    // clipping until the PC sets its own values.
    quint8 potGain = 96;
    quint8 potOffset = 255;
};

// The charger's hardware as the commands and the bench set it (the tests may look at or set
// it through the virtual charger).
struct Hardware {
    Outputs outputs;
    double supplyVolts = 12.0;
    bool reversedBattery = false;
    // A laboratory supply at this voltage in the battery's place (0: the battery), as the
    // cell-voltage calibration asks for.
    double labSupplyVolts = 0;
    // A charger with a boost-type supply takes command 51 with its PWM frequency and delta
    // (four argument bytes); one with a doubler takes the cut argument alone.
    bool boosterSupply = false;
    // A broken doubler (or booster): its output stays at the supply less the diode, whatever
    // command 51 says.
    bool doublerBroken = false;
    // The pack is plugged in (with its temperature sensor).
    bool batteryPresent = true;
    // What the converters and potentiometers of this unit really do, fixed at power-on.
    HardwareTruth truth = HardwareTruth::unit();
};

// The physics behind the channels: the supply and its doubler (or booster), the linear
// charge stage and the discharge load, the battery pack, the heat sink, the push-buttons.
// Every channel count is formed here (count()), through the hardware truth: the EEPROMs'
// calibration constants only tell the PC how to read the counts, so a calibration made
// from measured values reads true and a wrong one reads wrong.
//
// The ground output (command 18): on, the pack's negative terminal is tied to the
// measuring ground and the battery channels (12, 13) read the pack at its terminals; off
// (while charging), the charge current returns through the sense resistor and switch
// (kReturnOhms), which lift the pack's negative terminal, so the channels read that much
// more. With nothing flowing the two read alike.
class Model {
  public:
    explicit Model(Hardware &hardware);

    Hardware &hardware() { return m_hw; }
    Battery &battery() { return m_battery; }
    const Battery &battery() const { return m_battery; }

    // Model time in charger seconds: how far the model has been run.
    double seconds() const { return m_seconds; }
    void setSeconds(double s) { m_seconds = s; }
    // Runs the model dt seconds forward (the caller keeps dt at a second while anything
    // flows) and returns the charge current that flowed.
    double step(double dt);
    // Nothing flows: the pack only rests and cools, which longer steps follow well.
    bool idle() const { return chargeAmps() == 0 && dischargeAmps() == 0; }

    // The charge path regulates its voltage: the firmware closes a loop around the linear
    // stage that holds the pack at this voltage, so the current tapers as the pack reaches
    // it (constant current, then constant voltage). The charger's own run sets its program's
    // limit (0: none of its own); otherwise a lithium pack is held at 4.20 V per cell.
    void setChargeLimit(double packVolts) { m_chargeLimit = packVolts; }
    double chargeLimit() const;
    static constexpr double kLithiumCellLimit = 4.20;

    // Physical values now.
    double doublerVolts() const;
    double sourceVolts() const; // what feeds the charge stage
    double chargeAmps() const;
    double dischargeAmps() const;
    double packVolts(double amps) const; // at the battery terminals with `amps` flowing
    double batteryVolts() const { return packVolts(chargeAmps() - dischargeAmps()); }
    // What the battery channels see: the pack, lifted by the return path when not grounded.
    double measuredBatteryVolts() const;
    static constexpr double kReturnOhms = 0.05;
    double packTemperature() const { return m_battery.temperatureC(); }
    double heatsinkTemperature() const { return m_sinkC; }

    // The converter count a channel command (5..13) answers now, with the converter noise
    // (0 for any other code).
    int count(int code) const;
    // The noiseless count the hardware gives for `value` on the channel of `q` (the
    // firmware's own filtered reading), clipped to the converter's range.
    int count(charger::Quantity q, double value) const;
    int deltaCount() const;

    // Push-buttons SW1..SW6 (1-based); a pressed button reads 0 in its status bit.
    void pressButton(int n, bool pressed);
    bool buttonPressed(int n) const;

  private:
    Hardware &m_hw;
    Battery m_battery;
    double m_seconds = 0;
    double m_sinkC = 25;
    double m_chargeLimit = 0;
    bool m_buttons[6] = {};
    mutable quint32 m_noise = 0x2545F491u; // the noise generator's state
    int reading(const Transfer &t, double value) const;
    double noise() const;
    double deltaRaw() const;
    // A pack (or the laboratory supply) at the battery terminals.
    bool packConnected() const { return m_hw.batteryPresent || m_hw.labSupplyVolts > 0; }
};

} // namespace sim
