#pragma once

#include "chargerun.h"
#include "keepawake.h"
#include "winkit/chargerwindow.h"

#include <QWidget>
#include <initializer_list>
#include <memory>
#include <optional>

class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;

namespace serialio {
class PollTimer;
}

namespace modes {

class RunChart;

// What the charge and discharge windows share: the poll and delay timers, the clock and
// supply displays, the sleep lock, and the pacing of their run (a Run: start, poll, stop and
// end, shared with the command line).
//
// Events run inside every wait for a reply byte. A handler that wants the link while
// another one is waiting is queued on the window's gate and runs when the first is done (a
// slider moved during a poll sends its latest value after the poll); "Arret" and "Retour"
// act at once and make the running exchange stop after its current wait, and the window is
// deleted only once no handler is inside a wait.
//
// A run's outputs never outlive the window: leaving it ("Retour", closing it by its frame,
// the program quitting) during a run sends the bytes of "Arret" once, after the exchange in
// progress has had its current reply, then closes the log with what it holds.
class ModeWindow : public winkit::ChargerWindow {
    Q_OBJECT
  public:
    explicit ModeWindow(const winkit::Host &host, QWidget *parent = nullptr);
    ~ModeWindow() override;

    // ---- Handlers, public so that tests can call them without the event system ----
    virtual void start() = 0; // CBstart
    void stop();              // CBStop
    virtual void poll() = 0;  // one poll of a run
    // Timerchargeur tick: the window's poll; at the end of a run its outputs go to their
    // end-of-run state. The timer comes back after the poll while polling.
    void timerCycle();

    // ---- Run state ----
    bool isPolling() const { return m_polling; }
    // From "Demarrage" until "Arret" (or a link failure).
    bool isRunActive() const { return m_runActive; }
    bool isLogging() const { return m_run->logging(); }
    bool isBusy() const { return gate().busy(); }
    qint64 duree() const { return m_run->duree(); }
    // The file the log is written to (the name actually created).
    QString logPath() const { return m_run->logPath(); }
    bool logOpen() const { return m_run->logOpen(); }
    const ChargeCounter &counter() const { return m_run->counter(); }
    const Run &run() const { return *m_run; }
    const KeepAwake &keepAwake() const { return m_awake; }
    QTimer *pollTimer() const;

  protected:
    // ---- Exchanges ----
    // The keys of the requests a window queues on its gate: a later request with the same
    // key replaces a queued one (only a slider's last value matters).
    enum Key { KeyTick, KeyStart, KeyStop, KeySlider1, KeySlider2, KeySlider3 };
    using Settings = modes::Settings;
    // The steps of an exchange of this window: they stop when the gate says so, and the
    // measurement delay is Timerch2's.
    PollSteps steps();
    // After an exchange: the link failure handled; true when every step was answered.
    bool finished(PollEnd end);
    // 27, code, value and its answer byte.
    bool setOut(chlink::Cmd code, quint8 value);
    // Sends each setting with its answer byte, stopping at the first failure.
    bool setOuts(const Settings &settings);
    // Timerch2: arms the delay and sleeps until its tick sets the delay flag.
    bool waitDelay(int ms);
    // A poll's clock and supplies as the run took them: the clock and supply labels.
    void showHead(const RunSample &s);
    // The run's current a poll read (charge or discharge): its labels and the charge
    // carried so far.
    void showCurrent(QLabel *countLabel, QLabel *valueLabel);
    // What one poll brought that every window handles alike: a link failure, a log that
    // could not be written, the end found. True when every step was answered.
    bool pollDone(const PollOutcome &o);
    // "Demarrage"'s exchange, once the window has set up its run (reset, setting): the run
    // begins (state text, poll timer), the clock is read, the log created, then the run's
    // outputs switch it on. False when the run did not start.
    bool startRun(const QString &state);
    // The setting of the run, as the window shows it (for the sidecar).
    virtual RunInfo runInfo() const;
    // What a Timerchargeur tick polls; false when there is nothing to poll.
    virtual bool pollStep() = 0;
    // The link failed during a run: polling stops, the charge and discharge paths are
    // switched off once, the log keeps what it has, the reason is shown.
    void linkFailure();
    // The settings "Arret" sends to leave every output of the run in its stopped state.
    Settings stopSettings() const { return m_run->stopOutputs(); }
    // Sends settings that must go out whatever else happens (not cut short by Arret or by
    // leaving), each with its answer byte; once an answer has not come, the rest go out
    // without waiting and are flushed. False when an answer was missing.
    bool switchOff(const Settings &settings);
    // Arret's exchange: outputs off, log closed, idle.
    void stopRun();

    // ---- Run bookkeeping ----
    // Creates the run's log and its sidecar. False (with a message) when the log file cannot
    // be created.
    bool openLog();
    void beginRun();   // a run starts: start button off, sleep lock on
    void endPolling(); // polling has ended (end of run): the sleep lock goes
    // A run ended or stopped on a fault: a desktop notification, unless this window is the
    // one the user is looking at.
    void notifyUser(const QString &what);
    void endRun(); // the run is over (stop, failure): the start button comes back
    void closeLog();

    // ---- Window ----
    // Leaving: no record more, timers off, the log closed with what it holds, the window
    // hidden at once.
    void aboutToLeave() override;
    // Once no handler is inside a wait: a run's outputs go off with Arret's bytes, then the
    // main window comes back.
    void leaveWhenIdle() override;
    void setState(const QString &text);

    void setValueLabel(QLabel *l, std::optional<double> v, const QString &unit);
    QWidget *buildCommon(); // buttons, clock, state, supplies, log path
    void buildSupplies(QGroupBox *box);
    // A grid of readings: caption, count label, value label (none when `value` is null).
    struct Reading {
        const char *caption, *text, *count, *value, *countText;
        QLabel **countOut, **valueOut;
    };
    void buildReadings(QGroupBox *box, std::initializer_list<Reading> rows, int valueWidth);

    serialio::PollTimer *m_poll; // Timerchargeur
    QTimer *m_timer2;            // Timerch2

    // Flags of the run.
    bool m_runActive = false;
    bool m_polling = false;

    // The run itself (set by each window): its state, log and outputs.
    std::unique_ptr<Run> m_run;

    KeepAwake m_awake;

    QPushButton *m_start = nullptr;
    QPushButton *m_stop = nullptr;
    QPushButton *m_quit = nullptr;
    QLabel *m_state = nullptr;
    QLabel *m_logLabel = nullptr;
    QLabel *m_clockLabels[3] = {};  // Label1..3: hours, minutes, seconds
    QLabel *m_supplyCounts[3] = {}; // Label4, 5, 8: supply, doubler, temperature counts
    QLabel *m_supplyValues[3] = {}; // Label6, 7, 9: their values
    QLabel *m_total = nullptr;      // Label29: the charge carried so far
};

} // namespace modes
