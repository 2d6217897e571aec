#pragma once

#include "linefaults.h"
#include "memories.h"
#include "model.h"
#include "simclock.h"

#include <QVector>

namespace sim {

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

// After command 3 the charger charges on its own and streams a 30-byte record per second of
// its run at 19200 baud: "\n", 'C' (charging) or 'F' (ended), the sample number, the run
// time, '=', the battery, current, temperature and delta counts, the resistance, the
// capacity, the record type, the drop below the peak, the supply and doubler counts, the
// mean of the last ten battery counts and the delta peak.
class MonitorStream {
  public:
    // forcedType: the virtual charger's forceMonitorType (0: the run decides).
    MonitorStream(Model &model, const ChargerMemories &memories, const SimClock &clock,
                  LineFaults &line, const int &forcedType);

    const MonitorRun &run() const { return m_run; }
    bool active() const { return m_run.active; }

    // Starts the charger's own run at the model's present time (nothing if one runs) and
    // sends its first record.
    void start();
    // Ends the run as the PC talks again, with every output path cut.
    void stop();
    // The charge the model put in over its last step, in ampere-seconds.
    void addCharge(double ampereSeconds);
    // One step of the run at the model's present time: its end check, the delta peak, and
    // the record when one is due.
    void step();

  private:
    // Whether the run ends now: the resting battery voltage dropped past its peak after the
    // first five minutes, or the pack reached the stop temperature of the master's EEPROM.
    bool endReached(double now);
    void sendRecord();

    Model &m_model;
    const ChargerMemories &m_mem;
    const SimClock &m_clock;
    LineFaults &m_line;
    const int &m_forcedType;
    MonitorRun m_run;
};

} // namespace sim
