#pragma once

#include "calibwindow.h"
#include "charger/eeprommap.h"

#include <array>

class QLabel;
class QLineEdit;
class QSlider;

namespace calib {

// "Reglages temperature": six parameters of the temperature handling, read from the master
// at opening and written back by SET.
class Temper : public CalibWindow {
    Q_OBJECT
  public:
    explicit Temper(const winkit::Host &host, QWidget *parent = nullptr);
    void set(); // Command2

  protected:
    bool opening() override;

  private:
    struct Field {
        QLineEdit *box;
        const charger::Param *param;
        const char *caption;
    };
    std::array<Field, 6> m_fields{};
};

// "Réglage Courant Mode Automatique": the automatic modes' charge and discharge currents,
// each moved between half and twice its stored value.
class Reglageauto : public CalibWindow {
    Q_OBJECT
  public:
    explicit Reglageauto(const winkit::Host &host, QWidget *parent = nullptr);
    void set(); // RgAutoSet
    int stored(int i) const { return m_stored[i]; }

  protected:
    bool opening() override;

  private:
    void onSlider(int i, int value);

    std::array<QSlider *, 2> m_sliders{};
    std::array<QLabel *, 2> m_labels{};
    std::array<int, 2> m_stored{};
};

} // namespace calib
