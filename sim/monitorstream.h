#pragma once

#include "linefaults.h"
#include "memories.h"
#include "model.h"
#include "simclock.h"

#include <QVector>

namespace sim {

// A charge program of the second external EEPROM (record k at 32k: the name, the option
// flags, the type digit, then the cells, the charge and discharge currents in 10 mA, the
// duration in hours and tens of minutes, the cycles and the voltage in 10 mV, as digits).
struct ChargeProgram {
    int record = 0; // 1..127
    QByteArray name;
    int flags = 0;
    Chemistry chemistry = Chemistry::NiMH;
    int cells = 0;
    double chargeAmps = 0;
    int durationSeconds = 0;
    double volts = 0; // per cell: the discharge end (nickel) or the maximum (lithium, lead)
};
// Record k of the program library, when it holds a program (a type 0..3, at least a cell).
bool readProgram(const QByteArray &library, int record, ChargeProgram *out);

// What ended the charger's own run.
enum class MonitorEnd {
    None,
    DeltaDrop,   // nickel: the resting voltage fell past its peak
    Taper,       // lithium: the current fell below a fraction of the set current
    Voltage,     // lead-acid: the pack reached the program's maximum voltage
    Temperature, // the pack reached the stop temperature of the master's EEPROM
    Duration,    // the program's duration ran out
};

// The charger's own run in monitor mode, and what its records report.
struct MonitorRun {
    bool active = false;
    bool suspended = false; // left by the PC; a command 3 next continues it
    bool ended = false;
    MonitorEnd end = MonitorEnd::None;
    // What the run follows: its program (record 0 when no program of the library applies
    // and the charger runs on the pack's chemistry with its automatic-mode current).
    ChargeProgram program;
    double setAmps = 0;       // the current the charge path is set to
    double limitPerCell = 0;  // lithium, lead: the voltage the run holds or ends at
    double taperFraction = 0; // lithium: the end when the current falls below this share
    bool doublerOn = false;   // the run switched the doubler on (the supply was too low)
    double startSeconds = 0;
    double chargeAs = 0; // ampere-seconds put in
    int samples = 0;
    int vbatPeak = 0;
    int deltaPeak = 0;
    QVector<int> lastVbat; // the last ten records' battery counts
    double nextRecord = 0;
};

// After command 3 the charger charges on its own, following a charge program of its library,
// and streams a 30-byte record per second of its run at 19200 baud: "\n", 'C' (charging) or 'F'
// (ended), the sample number, the run time, '=', the battery, current, temperature and delta
// counts, the resistance, the capacity, the record type, the drop below the peak, the supply and
// doubler counts, the mean of the last ten battery counts and the delta peak.
class MonitorStream {
  public:
    // forcedType: the virtual charger's forceMonitorType (0: the run decides); program: its
    // monitorProgram (the record chosen on the charger's keys; 0: the first program of the
    // library for the pack's chemistry and cell count, else for its chemistry).
    MonitorStream(Model &model, const ChargerMemories &memories, const SimClock &clock,
                  LineFaults &line, const int &forcedType, const int &program);

    const MonitorRun &run() const { return m_run; }
    bool active() const { return m_run.active; }

    // Starts the charger's own run at the model's present time (nothing if one runs) and
    // sends its first record; a suspended run continues where it was instead.
    void start();
    // Suspends the run as the PC talks again, with every output path cut.
    void stop();
    // The PC went on with other commands: the suspended run is over, a command 3 starts anew.
    void discard() { m_run.suspended = false; }
    bool suspended() const { return m_run.suspended; }
    // The charge the model put in over its last step, in ampere-seconds.
    void addCharge(double ampereSeconds);
    // One step of the run at the model's present time: its end check, the delta peak, and
    // the record when one is due.
    void step();

  private:
    // Whether the run ends now, and why: by its chemistry (nickel: the resting voltage
    // dropped past its peak after the first five minutes; lithium: the current tapered below
    // its share of the set current; lead-acid: the pack reached its maximum voltage), by the
    // program's duration, or the pack at the stop temperature of the master's EEPROM.
    MonitorEnd endReached(double now);
    void choose(); // the program and the settings of a new run
    void applyOutputs();
    void cutOutputs(); // every path cut, the doubler back as the run found it
    void sendRecord();

    Model &m_model;
    const ChargerMemories &m_mem;
    const SimClock &m_clock;
    LineFaults &m_line;
    const int &m_forcedType;
    const int &m_program;
    MonitorRun m_run;
};

} // namespace sim
