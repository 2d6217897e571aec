#pragma once

#include "battery.h"
#include "charger/channels.h"
#include "faults.h"
#include "memories.h"
#include "simclock.h"

#include <QByteArray>
#include <QObject>
#include <QVector>

class QTimer;

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

// The charger's own run in monitor mode, and what its records report.
struct MonitorRun {
    bool active = false;
    bool ended = false;
    double startSeconds = 0;
    double chargeAs = 0; // ampere-seconds put in
    int samples = 0;
    int vbatPeak = 0;
    int deltaPeak = 0;
    QVector<int> lastVbat; // the last ten records' battery counts
    double nextRecord = 0;
};

// A charger as seen from its serial line: feed it the bytes the PC writes, and it emits
// the bytes it answers. It runs either its firmware (the command set at 9600 baud, the
// monitor stream at 19200 after command 3) or its resident boot loader (19200 baud).
//
// Behind the protocol is a model: the outputs drive a battery pack, and every channel is
// the converter count of a physical value, formed through the calibration constants in the
// charger's own EEPROM images, so that calibrated displays read true values.
class VirtualCharger : public QObject {
    Q_OBJECT
  public:
    enum class Mode { Firmware, Monitor, BootLoader };

    explicit VirtualCharger(QObject *parent = nullptr);
    // Starts the charger in the given mode (BootLoader: as if the boot loader had been
    // entered at power-on).
    explicit VirtualCharger(Mode mode, QObject *parent = nullptr);
    ~VirtualCharger() override;

    // Bytes from the PC.
    void receive(const QByteArray &bytes);
    // Bytes from the PC sent at another line speed: framing errors, no data.
    void receiveGarbled(int count);

    Mode mode() const { return m_mode; }
    void setMode(Mode mode);
    void setBootLoader(bool on) { setMode(on ? Mode::BootLoader : Mode::Firmware); }
    // The baud rate the charger talks at in its current mode: 9600, or 19200 in the monitor
    // stream and the boot loader.
    int baudRate() const { return m_mode == Mode::Firmware ? 9600 : 19200; }

    // ---- Memories (the tests may look at or set them) ----
    // The internal EEPROMs of the master and the slave.
    QByteArray eepromMaster = QByteArray(charger::kImageBytes, char(0xFF));
    QByteArray eepromSlave = QByteArray(charger::kImageBytes, char(0xFF));
    QByteArray extEeprom[2];     // the two external EEPROMs, 4096 bytes each
    QByteArray masterFlash;      // 32768 bytes, byte-addressed, erased 0xFF
    QVector<quint16> slaveFlash; // 8192 words of 14 bits, erased 0x3FFF
    bool slavePresent = true;

    static constexpr int kMasterFlashBytes = 32768;
    static constexpr int kSlaveFlashWords = 8192;
    // The boot loader lives at the top of the master's memory and refuses to overwrite it.
    static constexpr int kBootLoaderStart = 0x7800;

    // ---- Hardware ----
    Outputs outputs;
    double supplyVolts = 12.0;
    bool reversedBattery = false;
    // A laboratory supply at this voltage in the battery's place (0: the battery), as the
    // cell-voltage calibration asks for.
    double labSupplyVolts = 0;
    // A charger with a boost-type supply takes command 51 with its PWM frequency and delta
    // (four argument bytes); one with a doubler takes the cut argument alone.
    bool boosterSupply = false;
    // Push-buttons SW1..SW6 (1-based); a pressed button reads 0 in its status bit.
    void pressButton(int n, bool pressed);
    bool buttonPressed(int n) const;
    int beeps() const { return m_beeps; }
    int phaseStarts() const { return m_phaseStarts; }

    // ---- Battery ----
    Battery &battery() { return m_battery; }
    const Battery &battery() const { return m_battery; }
    void setBattery(const BatterySpec &spec);

    // ---- Physical values now (the model brought up to the clock first) ----
    double chargeAmps();
    double dischargeAmps();
    double batteryVolts(); // at the terminals, with the current now flowing
    double packTemperature();
    double heatsinkTemperature();
    double doublerVolts() const;
    // The converter count a channel command (5..13) answers now.
    int channelCount(int code);

    // ---- Time ----
    // Charger time in seconds since power-on (speed factor applied).
    double chargerSeconds() const { return m_clock.seconds(); }
    void setSpeed(double factor) { m_clock.setSpeed(factor); }
    SimClock &clock() { return m_clock; }
    // Manual clock: the charger's time stands still and moves only with advance().
    void setManualClock(bool manual);
    // Moves the charger's time forward and runs the model over it (monitor records due in
    // that time are sent).
    void advance(double chargerSeconds);
    // Runs the model up to the clock's present time.
    void update();

    // ---- Monitor stream ----
    const MonitorRun &monitorRun() const { return m_run; }
    // Record type sent: 1 while the charger's own run charges, 2 (the capacity) once it has
    // ended; forceMonitorType 1 or 2 fixes it.
    int forceMonitorType = 0;

    // ---- Fault injection ----
    Faults faults;
    // Boot loader: the next `times` arrivals of the block at byteAddress are answered with
    // `answer` (7 NACK or 8 ERFLASH) and not written.
    void scriptBootAnswer(int byteAddress, quint8 answer, int times = 1);
    // The next `count` flash writes (at `address`, -1 for any) fail.
    void failFlashWrites(int count, int address = -1);

    // Boot loader statistics, for tests.
    int bootBlocksWritten() const { return m_bootBlocksWritten; }
    int bootUploadsEnded() const { return m_bootEnds; }

  signals:
    void transmit(const QByteArray &bytes);
    // The charger's line speed changed (entering the monitor stream or the boot loader).
    void baudRateChanged(int baud);
    // The port must disappear now (fault injection); the port objects close on it.
    void vanishRequested();
    // The boot loader received its end sequence 27, 255, 0.
    void uploadEnded();
    void beeped();

  private:
    void init();
    void onByte(quint8 b);
    void onFirmwareByte(quint8 b);
    void onBootByte(quint8 b);
    void execute();
    void bootBlock();
    bool flashWriteFails(int address);

    void send(const QByteArray &bytes);  // raw output, subject to the silence fault
    void reply(const QByteArray &bytes); // a reply, subject to the stray-byte faults
    void frame(const QByteArray &data);

    // Model
    void stepModel(double dt);
    double chargeAmpsNow() const;
    double dischargeAmpsNow() const;
    double sourceVolts() const;
    double packVolts(double amps) const; // at the battery terminals
    int countOf(int code) const;
    int countOf(charger::Quantity q, double value) const; // clipped to the converter's range
    int deltaCountNow() const;
    void startMonitorRun();
    void monitorStep();
    void sendMonitorRecord();

    Mode m_mode = Mode::Firmware;
    SimClock m_clock;
    double m_modelSeconds = 0;
    Battery m_battery;
    double m_sinkC = 25;
    bool m_buttons[6] = {};
    int m_beeps = 0;
    int m_phaseStarts = 0;
    MonitorRun m_run;
    QTimer *m_monitorTimer = nullptr;

    enum class State { Idle, Code, Args };
    State m_state = State::Idle;
    quint8 m_code = 0;
    int m_argsWanted = 0;
    QByteArray m_args;
    int m_replies = 0;

    enum class BootState { Idle, AddrHigh, AddrLow, Data };
    BootState m_boot = BootState::Idle;
    bool m_bootSawC = false;
    quint8 m_bootHigh = 0;
    quint8 m_bootLow = 0;
    QByteArray m_bootData;
    int m_bootBlocksWritten = 0;
    int m_bootEnds = 0;
};

} // namespace sim
