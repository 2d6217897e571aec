#pragma once

#include "capalogic.h"
#include "keepawake.h"
#include "measure.h"
#include "runinfo.h"
#include "runlog.h"
#include "runpoll.h"
#include "winkit/chargerwindow.h"

#include <QWidget>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;

namespace modes {

class RunChart;

// "MESURE CAPACITE BATTERIE": an unattended measurement of a battery's capacity. A soft
// start, the delta amplifier's adjustment and a full charge, then for each cycle a pause, a
// discharge down to 0.9 V a cell with the internal resistance measured every 15th step, a
// pause and a recharge. The fan follows the charger's temperature and an overheat holds the
// process until it cools. The last cycle is logged.
//
// The process runs inside "Demarrage"'s handler, one step at a time: each step switches the
// outputs, waits on the one-shot step timer (Timerchargeur) while the window stays live,
// then switches everything off and reads the battery. "Arret" and "RETOUR" end it wherever
// it waits, with its outputs switched off and its log closed with what it holds; the
// sliders act in the middle of it (their setting goes out at the process's next wait).
class MesCapa : public winkit::ChargerWindow {
    Q_OBJECT
  public:
    explicit MesCapa(const winkit::Host &host, QWidget *parent = nullptr);
    ~MesCapa() override;

    // ---- Handlers, public so that tests can call them without the event system ----
    void start(); // CBstart
    void stop();  // CBStop
    // Timerchargeur's tick: the step's wait ends.
    void tick();

    // What arms a step's wait for `ms` milliseconds; tick() then ends it. By default the
    // step timer; a test may replace it (a virtual charger's clock moved on, and the tick
    // at once) to run hours of process in seconds.
    using StepPacer = std::function<void(int ms)>;
    void setStepPacer(StepPacer pacer) { m_pacer = std::move(pacer); }

    // ---- State, for tests ----
    bool isRunning() const { return m_running; }
    bool logOpen() const { return m_log.isOpen(); }
    QString logPath() const { return m_log.path(); }
    const KeepAwake &keepAwake() const { return m_awake; }
    bool fanOn() const { return m_watch.fanOn(); }
    int gain() const { return m_gain; }
    int offset() const { return m_offset; }
    int phase() const { return m_phase; }
    double totalCharge() const { return m_totalCharge; }
    double totalDischarge() const { return m_totalDischarge; }
    RunChart *chart() const { return m_chart; }
    RunChart *deltaChart() const { return m_deltaChart; }
    QTimer *stepTimer() const { return m_stepTimer; }

  protected:
    void aboutToLeave() override;
    void leaveWhenIdle() override;

  private:
    enum Key { KeyStart, KeyStop, KeySliders };

    // ---- Window ----
    void build();
    void onChargeSlider(int v);
    void onDischargeSlider(int v);
    void setState(const QString &text);
    void showFan();
    void markPhase(const QString &name);
    void plot();

    // ---- The process (mescapaprocess.cpp) ----
    void runProcess();
    bool process();
    bool chargePhase();
    bool preparation();
    bool adjustDelta(bool &problem);
    bool pause();
    bool dischargePhase();
    bool measureResistance();
    bool watchTemperature();
    bool overheatHold();
    bool displayStep(int argument);
    bool readBattery();
    bool stepWait(int ms);
    void openLog();
    void writeRecord();
    void writeLine(const QString &line);
    void endProcess();

    // ---- Exchanges ----
    PollSteps steps();
    bool done(const PollSteps &st);
    bool send(const Settings &settings);
    bool send(chlink::Cmd code, quint8 value) { return send(Settings{{code, value}}); }
    bool phaseStart();
    bool sendSliders(); // the setpoints moved since the last wait
    bool slidersPending() const { return m_pendingCharge || m_pendingDischarge; }
    bool going() const { return !gate().interrupted() && !m_linkFailed; }
    // Sends settings that must go out whatever else happens, each with its answer byte; once
    // one is not answered the rest go out without waiting. False when an answer was missing.
    bool switchOff(const Settings &settings);
    void stopRun();
    void linkFailure();

    // Controls.
    QPushButton *m_start = nullptr, *m_stop = nullptr, *m_quit = nullptr;
    QLineEdit *m_cyclesText = nullptr, *m_cellsText = nullptr, *m_modeText = nullptr;
    QLabel *m_clock[3] = {};
    QLabel *m_state = nullptr;
    QLabel *m_ichrgCount = nullptr, *m_ichrgValue = nullptr;
    QLabel *m_idechCount = nullptr, *m_idechValue = nullptr;
    QLabel *m_vbatCount = nullptr, *m_vbatValue = nullptr;
    QLabel *m_deltaCaption = nullptr, *m_deltaCount = nullptr;
    QLabel *m_chargeTotal = nullptr, *m_dischargeTotal = nullptr, *m_resistance = nullptr;
    QLabel *m_supplyCounts[3] = {}, *m_supplyValues[3] = {};
    QLabel *m_fan = nullptr; // Dspvent
    QSlider *m_chargeSlider = nullptr, *m_dischargeSlider = nullptr;
    QLabel *m_chargeSetText = nullptr, *m_dischargeSetText = nullptr;
    QLabel *m_logLabel = nullptr, *m_phases = nullptr;
    RunChart *m_chart = nullptr, *m_deltaChart = nullptr;
    int m_curveVbat = 0, m_curveIchrg = 0, m_curveIdech = 0, m_curveDelta = 0, m_curveTemp = 0;
    QTimer *m_stepTimer = nullptr; // Timerchargeur
    QTimer *m_timer2 = nullptr;    // Timerch2
    StepPacer m_pacer;

    // Flags.
    bool m_running = false;
    bool m_linkFailed = false;
    bool m_logging = false;
    bool m_tick = false;
    bool m_timer2Flag = false;
    bool m_displayDue = false;
    bool m_preparationPending = false;
    bool m_overheat = false;
    bool m_logFailed = false;
    bool m_fanUsed = false; // this window has switched the fan on

    // Run variables.
    double m_cells = 0;
    int m_cycles = 1;
    double m_mode = 0;
    int m_phase = 1; // 1 charge, 2 discharge
    int m_displayArgument = 2;
    int m_chargeSet = 0, m_dischargeSet = 0;
    std::optional<int> m_pendingCharge, m_pendingDischarge;
    int m_gain = 0, m_offset = 255;
    qint64 m_duree = 0;
    double m_elapsed = 0; // seconds of process, for the charts
    int m_valimCad = 0, m_vdblCad = 0, m_tempCad = 0;
    int m_ichrgCad = 0, m_idechCad = 0, m_vbatCad = 0, m_vdeltaCad = 0;
    Kept m_valim, m_vdbl, m_temper, m_ichrg, m_idech, m_vbat;
    std::optional<double> m_vunit;
    int m_vunitHundredths = 0;
    double m_resistanceValue = 0;
    double m_totalCharge = 0, m_totalDischarge = 0;
    capa::TempWatch m_watch;
    QStringList m_phaseMarks;

    RunLog m_log;
    QString m_logFolder;
    // The log's sidecar: written as the log opens, and again with the reason the process
    // ended.
    RunInfo m_info;
    bool m_infoOpen = false;
    void endRunInfo(const QString &reason);
    KeepAwake m_awake;
    // The process ended or stopped on a lost link: a desktop notification, unless this
    // window is the one the user is looking at.
    void notifyUser(const QString &what);
    QChar m_decimalPoint;
};

} // namespace modes
