#pragma once

#include "modewindow.h"

class QLineEdit;
class QSlider;

namespace modes {

// "DECHARGEUR": discharges the battery at a set current down to 0.5 V per cell, measuring
// the charge taken out, with a log line per poll and a live chart.
class Dechargeur : public ModeWindow {
    Q_OBJECT
  public:
    explicit Dechargeur(const winkit::Host &host, QWidget *parent = nullptr);

    void start() override;
    void poll() override;

    bool endOfDischarge() const { return m_discharge->ended(); }
    double cells() const { return m_discharge->cells(); }
    std::optional<double> voltsPerCell() const { return m_discharge->voltsPerCell(); }
    RunChart *chart() const { return m_chart; }

  private:
    bool pollStep() override;
    RunInfo runInfo() const override;
    void onSlider1(int v);
    void plot();

    QLineEdit *m_cellsText;
    QSlider *m_slider1;
    RunChart *m_chart;
    QLabel *m_setpoint = nullptr;   // Label12: the discharge current set
    QLabel *m_idechCount = nullptr; // Label10
    QLabel *m_idechValue = nullptr; // Label11
    QLabel *m_vbatCount = nullptr;  // Label16
    QLabel *m_vbatValue = nullptr;  // Label17
    QLabel *m_perCell = nullptr;    // Label26: volts a cell
    RunChart *m_cellChart;
    int m_curveVbat = 0, m_curveI = 0, m_curveVpc = 0, m_curveTemp = 0;

    DischargeRun *m_discharge; // the run, owned by the base
};

} // namespace modes
