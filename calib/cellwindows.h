#pragma once

#include "calibwindow.h"
#include "charger/eeprommap.h"

#include <QVector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

namespace calib {

// The cell-voltage windows: for a cell count, the delta channel's reading at each reference
// voltage of a laboratory supply in the battery's place, the delta amplifier's two pots,
// and (lithium) the linear law through the points, stored in the master's block for that
// cell count.
class CellWindow : public CalibWindow {
    Q_OBJECT
  public:
    CellWindow(charger::CellBlock kind, const winkit::Host &host, QWidget *parent = nullptr);

    // List1: the cell count (list index + 1).
    void chooseCells(int index);
    // A capture button: the reading of the measurement that completes after the click is
    // stored for reference point `row` (0-based).
    void capture(int row);
    void storePots();    // BtnPot
    void coefficients(); // BtnCoef (lithium)

    int cells() const { return m_cells; }
    int blockBase() const { return charger::cellBlockBase(m_kind, m_cells); }
    int reading() const { return m_reading; }
    bool capturePending() const { return m_captureRow >= 0; }

  protected:
    bool measure() override;
    void measured() override;

  private:
    // Writes a word at a block offset, high byte first, each with its answer byte.
    bool writeWord(int offset, int value);
    void onPot(int which, int value);
    QCheckBox *pointCheck(int row) const;

    const charger::CellBlock m_kind;
    const bool m_lithium;
    QComboBox *m_list;
    QSlider *m_pots[2] = {}; // gain (REGDelta), offset (REGOfs)
    QLabel *m_potLabels[2] = {};
    QLabel *m_readingLabel;
    QVector<QPushButton *> m_captures;
    QVector<QCheckBox *> m_checks; // Check1.. in the window's numbering
    QCheckBox *m_potCheck = nullptr;
    QCheckBox *m_coefCheck = nullptr;
    QLabel *m_a = nullptr, *m_b = nullptr;

    int m_cells = 1;
    int m_potValues[2] = {0, 0};
    int m_reading = 0;
    int m_captureRow = -1;    // the fresh-reading flag: a capture waits for a measurement
    QVector<double> m_volts;  // the reference voltages for the current cell count
    QVector<double> m_counts; // the readings captured for them
};

} // namespace calib
