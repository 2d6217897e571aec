#pragma once

#include "linefaults.h"
#include "memories.h"
#include "model.h"
#include "simclock.h"

#include <QByteArray>

#include <array>
#include <functional>

namespace sim {

// The master's running firmware (9600 baud): the probe 0x55 is answered 27, the
// confirmation 0xAA is answered 0x55, and a command is 27, its code, then as many argument
// bytes as its entry in the command table says. The table maps each code to its argument
// count and its handler; a code without an entry is ignored.
class Firmware {
  public:
    struct Hooks {
        std::function<void()> disconnect; // command 3: on to the monitor stream
        std::function<void()> beep;       // command 24
        // An EEPROM write cycle of `ms` milliseconds: the charger takes no byte until it
        // has ended, then runs `done` (the write and its ACK).
        std::function<void(int ms, std::function<void()> done)> writeCycle;
    };

    // EEPROM byte write times, each followed by the ACK. The master's internal EEPROM: 4 ms,
    // the typical byte write time of this class of microcontroller. The slave's: the same
    // write plus the master's I2C transfer to the slave (four bytes at 100 kHz, about
    // 0.4 ms), 5 ms in all. The external I2C EEPROMs: their 5 ms write cycle.
    static constexpr int kMasterEepromWriteMs = 4;
    static constexpr int kSlaveEepromWriteMs = 5;
    static constexpr int kExternalEepromWriteMs = 5;

    Firmware(Model &model, ChargerMemories &memories, const SimClock &clock, LineFaults &line,
             Hooks hooks);

    // Back to waiting for a command (on entering or leaving the firmware).
    void reset() { m_state = State::Idle; }
    void onByte(quint8 b);

    // The argument bytes the command `code` takes on this charger (-1: the code is unknown
    // and ignored). Command 51 takes one on a charger with a doubler and four on one with a
    // boost-type supply, whatever the first is.
    int argumentCount(quint8 code) const;

    int beeps() const { return m_beeps; }
    int phaseStarts() const { return m_phaseStarts; }

  private:
    using Handler = void (Firmware::*)();
    struct Entry {
        int args = -1; // the argument count of the command vocabulary (chlink::commandShape)
        Handler handler = nullptr;
    };
    static const std::array<Entry, 256> &table();
    void execute();

    // Reply helpers.
    quint8 arg(int i) const { return quint8(m_args.at(i)); }
    void answer();          // the answer byte of a setting command: the code itself
    void ack();             // 6
    void word(int w);       // a frame of two bytes, high first
    void byteFrame(char b); // a frame of one byte

    // Handlers, one per command.
    void panelInit();
    void linkStatus();
    void disconnect();
    void readChannel();
    // Commands 15-18, 23, 25: an output on (argument not 0) or off; 19-22: a potentiometer.
    template <bool Outputs::*Field> void setSwitch() {
        m_out.*Field = arg(0) != 0;
        answer();
    }
    template <quint8 Outputs::*Field> void setPot() {
        m_out.*Field = arg(0);
        answer();
    }
    void beep();
    void booster();
    void readSw6();
    void readOutputs();
    void readPort();
    void eeReadMaster();
    void eeReadSlave();
    void eeWriteMaster();
    void eeWriteSlave();
    void readClock();
    void phaseStart();
    void flashReadMaster();
    void flashReadSlave();
    void flashWriteMaster();
    void flashWriteSlave();
    void extEeRead();
    void extEeWrite();
    // Writes `value` at `address` of `image` after the memory's write time, unless the cell
    // fails, then acknowledges.
    void eepromWrite(QByteArray &image, EepromMemory memory, int address, char value, int ms);

    Model &m_model;
    Outputs &m_out;
    ChargerMemories &m_mem;
    const SimClock &m_clock;
    LineFaults &m_line;
    Hooks m_hooks;

    enum class State { Idle, Code, Args };
    State m_state = State::Idle;
    quint8 m_code = 0;
    int m_argsWanted = 0;
    QByteArray m_args;
    int m_beeps = 0;
    int m_phaseStarts = 0;
};

} // namespace sim
