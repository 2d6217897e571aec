#pragma once

#include "battery.h"
#include "bootloader.h"
#include "charger/channels.h"
#include "faults.h"
#include "firmware.h"
#include "linefaults.h"
#include "memories.h"
#include "model.h"
#include "monitorstream.h"
#include "simclock.h"

#include <QByteArray>
#include <QObject>

class QTimer;

namespace sim {

// A charger as seen from its serial line: feed it the bytes the PC writes, and it emits
// the bytes it answers. It runs either its firmware (the command set at 9600 baud, the
// monitor stream at 19200 after command 3) or its resident boot loader (19200 baud).
//
// Behind the protocol is a model: the outputs drive a battery pack, and every channel is
// the converter count of a physical value through the hardware truth (truth.h). The
// calibration constants in the charger's EEPROM images only say how the PC reads the
// counts: the factory's are close to the truth, and a calibration made from measured values
// reads true.
//
// The charger's parts: the memories (memories.h) and the hardware settings (model.h) it
// shows as its own fields, the model (model.h), the firmware's command table (firmware.h),
// the boot loader (bootloader.h), the monitor stream (monitorstream.h) and the line with its
// injected faults (linefaults.h). This class owns them, routes the received bytes to the
// one the mode selects, and runs the model up to the clock.
class VirtualCharger : public QObject, public ChargerMemories, public Hardware {
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

    // ---- Memories and hardware: the fields of ChargerMemories and Hardware ----
    // Push-buttons SW1..SW6 (1-based); a pressed button reads 0 in its status bit.
    void pressButton(int n, bool pressed) { m_model.pressButton(n, pressed); }
    bool buttonPressed(int n) const { return m_model.buttonPressed(n); }
    int beeps() const { return m_firmware.beeps(); }
    int phaseStarts() const { return m_firmware.phaseStarts(); }

    // ---- Battery ----
    Battery &battery() { return m_model.battery(); }
    const Battery &battery() const { return m_model.battery(); }
    void setBattery(const BatterySpec &spec);
    // The air around the charger and the pack (the pack keeps its charge and temperature and
    // moves towards the new ambient from there).
    void setAmbient(double celsius);
    // The pack's temperature now (it then moves towards the ambient).
    void setPackTemperature(double celsius);
    // Plugs or unplugs the pack.
    void setBatteryPresent(bool present);

    // ---- Physical values now (the model brought up to the clock first) ----
    double chargeAmps();
    double dischargeAmps();
    double batteryVolts();        // at the terminals, with the current now flowing
    double packTemperature();     // channel 9
    double heatsinkTemperature(); // channel 5
    double doublerVolts() const { return m_model.doublerVolts(); }
    // The converter count a channel command (5..13) answers now.
    int channelCount(int code);
    const Model &model() const { return m_model; }

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
    // Runs the model up to the clock's present time. With a speed factor above 1 (the
    // demo) the charger's time holds back while the pack's voltage moves fast: between two
    // wall-clock instants a second apart it moves at most kPaceVoltsPerCell, or as far as it
    // would in a real second if that is more. A window polling once a second then stops a
    // run as close to its end condition as on a real charger. With a manual clock and a
    // speed factor above 1, advance(s) counts as s / speed wall-clock seconds.
    void update();
    static constexpr double kPaceVoltsPerCell = 0.02;

    // ---- Monitor stream ----
    const MonitorRun &monitorRun() const { return m_monitor.run(); }
    // Record type sent: 1 while the charger's own run charges, 2 (the capacity) once it has
    // ended; forceMonitorType 1 or 2 fixes it.
    int forceMonitorType = 0;
    // The charge program (record 1..127 of the second external EEPROM) chosen on the
    // charger's keys for its own run; 0: the first program for the pack.
    int monitorProgram = 0;

    // ---- Fault injection ----
    Faults faults;
    // Boot loader: the next `times` arrivals of the block at byteAddress are answered with
    // `answer` (7 NACK or 8 ERFLASH) and not written.
    void scriptBootAnswer(int byteAddress, quint8 answer, int times = 1) {
        m_line.scriptBootAnswer(byteAddress, answer, times);
    }
    // The next `count` flash writes (at `address`, -1 for any) fail.
    void failFlashWrites(int count, int address = -1) { m_line.failFlashWrites(count, address); }

    // Boot loader statistics, for tests.
    int bootBlocksWritten() const { return m_boot.blocksWritten(); }
    int bootUploadsEnded() const { return m_boot.uploadsEnded(); }

    // An EEPROM write cycle is running: bytes received meanwhile wait for its end.
    bool writing() const { return m_writing; }

  signals:
    void transmit(const QByteArray &bytes);
    // The charger's line speed changed (entering the monitor stream or the boot loader).
    void baudRateChanged(int baud);
    // The port must disappear now (fault injection); the port objects close on it.
    void vanishRequested();
    // The boot loader received its end sequence 27, 255, 0.
    void uploadEnded();
    void beeped();
    // An EEPROM write cycle ended (its ACK, if any, has been sent).
    void writeCycleEnded();

  private:
    void onByte(quint8 b);
    void writeCycle(int ms, std::function<void()> done);
    // One step of the model (and of the charger's own run); returns how far the pack's
    // resting voltage moved, per cell.
    double stepModel(double dt, bool running);

    Mode m_mode = Mode::Firmware;
    SimClock m_clock;
    LineFaults m_line;
    Model m_model;
    MonitorStream m_monitor;
    BootLoader m_boot;
    Firmware m_firmware;
    QTimer *m_monitorTimer = nullptr;
    bool m_writing = false;
    QByteArray m_held; // received during a write cycle
    bool m_escLeavingMonitor = false; // the byte that ended the stream was an ESC
    double m_paceDebt = 0;            // wall-clock seconds the model ran ahead
    double m_voltsPerSecond = 0;      // how fast the pack's voltage moved in the last step
};

} // namespace sim
