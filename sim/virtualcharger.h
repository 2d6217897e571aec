#pragma once

#include "faults.h"
#include "simclock.h"

#include <QByteArray>
#include <QObject>
#include <QVector>

namespace sim {

// A charger as seen from its serial line: feed it the bytes the PC writes, and it emits
// the bytes it answers. It runs either its firmware (the command set at 9600 baud, the
// monitor stream at 19200 after command 3) or its resident boot loader (19200 baud).
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

    Mode mode() const { return m_mode; }
    void setMode(Mode mode);
    void setBootLoader(bool on) { setMode(on ? Mode::BootLoader : Mode::Firmware); }
    // The baud rate the charger talks at in its current mode: 9600, or 19200 in the monitor
    // stream and the boot loader.
    int baudRate() const { return m_mode == Mode::Firmware ? 9600 : 19200; }

    // ---- Memories (the tests may look at or set them) ----
    QByteArray eepromMaster = QByteArray(256, char(0xFF)); // internal EEPROM of the master
    QByteArray eepromSlave = QByteArray(256, char(0xFF));  // internal EEPROM of the slave
    QByteArray masterFlash;      // 32768 bytes, byte-addressed, erased 0xFF
    QVector<quint16> slaveFlash; // 8192 words of 14 bits, erased 0x3FFF
    bool slavePresent = true;

    static constexpr int kMasterFlashBytes = 32768;
    static constexpr int kSlaveFlashWords = 8192;
    // The boot loader lives at the top of the master's memory and refuses to overwrite it.
    static constexpr int kBootLoaderStart = 0x7800;

    // ---- Time ----
    // Charger time in seconds since power-on (speed factor applied).
    double chargerSeconds() const { return m_clock.seconds(); }
    void setSpeed(double factor) { m_clock.setSpeed(factor); }
    SimClock &clock() { return m_clock; }
    // Manual clock: the charger's time stands still and moves only with advance().
    void setManualClock(bool manual) { m_clock.setManual(manual); }
    void advance(double chargerSeconds);

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

  private:
    void onByte(quint8 b);
    void onFirmwareByte(quint8 b);
    void onBootByte(quint8 b);
    void execute();
    void bootBlock();
    bool flashWriteFails(int address);

    void send(const QByteArray &bytes);  // raw output, subject to the silence fault
    void reply(const QByteArray &bytes); // a reply, subject to the stray-byte faults
    void frame(const QByteArray &data);

    Mode m_mode = Mode::Firmware;
    SimClock m_clock;

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

// The defaults a new charger leaves the factory with: calibrated constants and an
// identification text.
QByteArray defaultMasterEeprom();
QByteArray defaultSlaveEeprom();

} // namespace sim
