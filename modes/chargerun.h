#pragma once

#include "detector.h"
#include "measure.h"
#include "runinfo.h"
#include "runlog.h"
#include "runpoll.h"

#include <QChar>
#include <QDateTime>
#include <QString>
#include <functional>
#include <optional>

// A charge or a discharge run without a window: the settings sent at the start, the poll and
// what it makes of the readings (run clock, conversions, charge carried, end detection), the
// log records, the sidecar next to the log, and the outputs of the end, of "Arret" and of a
// lost link. The charge and discharge windows show what it holds; "pelmora charge" and
// "pelmora discharge" print it. Both pace it and stop it in their own way (timers and a gate,
// or a loop and Ctrl-C) and hand it their PollSteps.
namespace modes {

// What one poll of a run brought.
struct PollOutcome {
    RunSample sample;
    bool block = false;     // the charge's 50th sample: a block of the DV/DT watch was evaluated
    bool ended = false;     // the end of the run was found by this poll
    bool logFailed = false; // the record could not be written: the log is closed, the run goes on
};

class Run {
  public:
    virtual ~Run() = default;

    // ---- Start ----
    // A new run: clock, counters and flags back to zero. The converted values keep what they
    // last were (a channel without calibration shows its previous value).
    virtual void reset();
    // Reads the charger's clock as the start of the run.
    bool readStartClock(PollSteps &steps);
    // Creates the run's log in `folder` (never over an existing file) and writes the sidecar
    // `info` next to it; logging starts. False, with the reason, when the log cannot be
    // created. A sidecar that cannot be written does not stop the run (sidecarError() says
    // why).
    bool openLog(const QString &folder, const QDateTime &now, const RunInfo &info, QString *error);
    // The outputs that start the run, the current setting first.
    virtual Settings startOutputs() const = 0;

    // ---- Polling ----
    // One poll: the exchange, then what it read taken in; a record appended when the poll was
    // complete and the run is logging.
    virtual PollOutcome poll(PollSteps &steps) = 0;
    // The measurement delay without a timer: sleeps `ms` unless an earlier delay is still
    // marked done (MODE other than 0 skips it, as the window's delay flag does).
    bool headlessDelay(chlink::Session &session, int ms, const std::function<bool()> &stopHere);

    // ---- End ----
    // The outputs once the poll found the end (the log stays open until stopped).
    virtual Settings endOutputs() const = 0;
    // What "Arret" sends: the run's stopped outputs, led by the discharge path's off when a
    // measurement pulse left it on.
    Settings stopOutputs() const;
    // No record more (Arret, leaving, a lost link).
    void stopLogging() { m_logging = false; }
    void closeLog() { m_log.close(); }
    // Writes the sidecar again with why the run ended; the first reason stays (the end of a
    // charge is not turned into "Arret" by the Arret that follows it). A pack name given to
    // the run meanwhile is kept.
    void finish(const QString &reason);

    // ---- State ----
    virtual QString endText() const = 0; // the state text of the end found by the poll
    bool ended() const { return m_endFlag; }
    void clearEnded() { m_endFlag = false; }
    bool logging() const { return m_logging; }
    bool logOpen() const { return m_log.isOpen(); }
    QString logPath() const { return m_log.path(); }
    QString sidecarError() const { return m_sidecarError; }
    const RunInfo &info() const { return m_info; }
    PulseFlags &pulse() { return m_pulse; }
    const PulseFlags &pulse() const { return m_pulse; }
    qint64 duree() const { return m_duree; }
    qint64 logDuree() const { return m_logDuree; }
    const ChargeCounter &counter() const { return m_counter; }
    // Supply counts (VALIMCAD, VDBLCAD, TEMPCAD) and values.
    int supplyCount(int i) const { return m_supplyCad[i]; }
    const Kept &supplyValue(int i) const { return m_supply[i]; }
    int currentCount() const { return m_currentCad; }
    const Kept &current() const { return m_current; }
    int vbatCount() const { return m_vbatCad; }
    const Kept &vbat() const { return m_vbat; }

    void setDecimalPoint(QChar c) { m_decimalPoint = c; }

  protected:
    Run(const QByteArray &tableA, const QByteArray &tableB, const char *logPrefix,
        const QStringList &columns, Settings stopped, Quantity currentQuantity);
    // Clock and supplies of a poll: DUREE (a clock glitch adds no time; logDuree() is the
    // reading as received), the supply counts up to the first one missing.
    void takeHead(const RunSample &s);
    // The run's current: its count, its value, the charge it carried since the last poll.
    void takeCurrent(int count);
    // The battery voltage: count and value.
    void takeVbat(int count);
    // Appends a record when logging; false when the write failed (the log is then closed).
    bool record(const std::vector<Field> &fields);
    std::optional<double> conv(Quantity q, int count) const;

    const QByteArray &m_tableA;
    const QByteArray &m_tableB;
    PulseFlags m_pulse;
    bool m_endFlag = false;
    RunClock m_clock;
    qint64 m_duree = 0, m_prevDuree = 0, m_logDuree = 0;
    int m_supplyCad[3] = {};
    Kept m_supply[3];
    int m_currentCad = 0, m_vbatCad = 0;
    Kept m_current, m_vbat;
    ChargeCounter m_counter;

  private:
    void writeInfo();

    const char *m_logPrefix;
    QStringList m_columns;
    Settings m_stopped;
    Quantity m_currentQuantity;
    bool m_logging = false;
    bool m_hasLog = false; // this run's log was created: its sidecar is written
    RunLog m_log;
    RunInfo m_info;
    QString m_sidecarError;
    QChar m_decimalPoint = QLatin1Char('.');
};

// A fast charge: the measurement pulse (MODE 0), the DV/DT watch, the end on the delta
// voltage falling 10 counts below its peak.
class ChargeRun : public Run {
  public:
    ChargeRun(const QByteArray &tableA, const QByteArray &tableB);

    // The charge current setting sent at the start (0..255) and the MODE.
    void setSetting(int pot) { m_pot = pot; }
    void setMode(int mode) { m_mode = mode; }
    int mode() const { return m_mode; }

    void reset() override;
    Settings startOutputs() const override;
    PollOutcome poll(PollSteps &steps) override;
    Settings endOutputs() const override;
    QString endText() const override;
    // The delta voltage read while no run goes (the gain and offset being set).
    void takeIdleDelta(int count) { m_vdeltaCad = count; }
    // A new current moves the delta voltage: its peak starts again.
    void resetPeak() { m_peak.reset(); }

    int vdeltaCount() const { return m_vdeltaCad; }
    const ChargeDetector &detector() const { return m_detector; }
    const DeltaPeak &deltaPeak() const { return m_peak; }

  private:
    int m_pot = 0;
    int m_mode = 0;
    int m_vdeltaCad = 0;
    ChargeDetector m_detector;
    DeltaPeak m_peak;
};

// A discharge down to 0.5 V per cell.
class DischargeRun : public Run {
  public:
    DischargeRun(const QByteArray &tableA, const QByteArray &tableB);

    void setSetting(int pot) { m_pot = pot; }
    // Above 0 (parseCellCount).
    void setCells(double cells) { m_cells = cells; }
    double cells() const { return m_cells; }
    std::optional<double> voltsPerCell() const { return m_vpc; }

    Settings startOutputs() const override;
    PollOutcome poll(PollSteps &steps) override;
    Settings endOutputs() const override;
    QString endText() const override;

  private:
    int m_pot = 0;
    double m_cells = 0;
    std::optional<double> m_vpc;
};

// Sends settings that must go out whatever else happens (a stop, leaving, the end of a
// command), each with its answer byte; once an answer has not come, the rest go out without
// waiting and are flushed. A discharge path switched off clears the pulse's flag. False when
// an answer was missing.
bool switchOff(chlink::Session &session, const Settings &settings, PulseFlags &pulse);
// After a lost reply during a run: the charge and the discharge paths off, one try each, each
// answer waited for once. `stopHere` ends it early (the window going away).
void switchOffAfterFailure(chlink::Session &session, const std::function<bool()> &stopHere = {});

// A cell count for the sidecar: the number when it is a whole one, 0 (not known) otherwise.
int wholeCells(double cells);

// The setting as the windows show it: "1.5 A", or the pot value alone without calibration.
QString setpointShown(int pot, int divisorByte);

} // namespace modes
