#pragma once

#include "modewindow.h"

class QCheckBox;
class QLineEdit;
class QSlider;

namespace modes {

// "Mode chargeur rapide": one fast charge with a one-second poll, the DV/DT watch, the end
// of charge on the delta voltage, a log line per poll and a live chart.
class Chargeur : public ModeWindow {
    Q_OBJECT
  public:
    explicit Chargeur(const winkit::Host &host, QWidget *parent = nullptr);

    void start() override;
    void poll() override;
    void idlePoll();

    // The idle flag: no run since load or the last Arret.
    bool isIdle() const { return !m_runActive; }
    bool endOfCharge() const { return m_charge->ended(); }
    int mode() const { return m_charge->mode(); }
    const ChargeDetector &detector() const { return m_charge->detector(); }
    const DeltaPeak &deltaPeak() const { return m_charge->deltaPeak(); }
    RunChart *chart() const { return m_chart; }

  private:
    bool pollStep() override;
    RunInfo runInfo() const override;
    // Shows what a poll brought; true when every step was answered.
    bool showSample(const PollOutcome &o);
    void onSlider1(int v);
    void onSlider2(int v);
    void onSlider3(int v);
    void showBlock();
    void setCheck(DvdtBox b);
    void plot();

    QLineEdit *m_modeText;
    QSlider *m_slider1, *m_slider2, *m_slider3;
    QCheckBox *m_check;
    RunChart *m_chart;
    QLabel *m_setpoint = nullptr;    // Label12: the charge current set
    QLabel *m_gain = nullptr;        // Label26
    QLabel *m_offset = nullptr;      // Label27
    QLabel *m_ichrgCount = nullptr;  // Label10
    QLabel *m_ichrgValue = nullptr;  // Label11
    QLabel *m_vbatCount = nullptr;   // Label16
    QLabel *m_vbatValue = nullptr;   // Label17
    QLabel *m_vdeltaCount = nullptr; // Label21
    QLabel *m_peakValue = nullptr;   // Label22
    QLabel *m_rise = nullptr;        // Label33
    QLabel *m_average = nullptr;     // Label34
    RunChart *m_deltaChart;
    int m_curveVbat = 0, m_curveI = 0, m_curveDelta = 0, m_curvePeak = 0, m_curveTemp = 0;

    ChargeRun *m_charge; // the run, owned by the base
};

} // namespace modes
