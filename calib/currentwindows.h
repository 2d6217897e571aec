#pragma once

#include "calibwindow.h"

class QLineEdit;
class QSlider;

namespace calib {

class Arithmetic;

// The twin current-calibration windows: a slider sets the current, the window shows the
// mean of eight readings of the current channel, and from the count and the current read
// on an ammeter it computes the multiplier and the pot coefficient and stores them in the
// slave (and its table B).
class CurrentWindow : public CalibWindow {
    Q_OBJECT
  public:
    enum class Kind { Charge, Discharge }; // Rcourant, RglDech

    CurrentWindow(Kind kind, const winkit::Host &host, const Arithmetic &arithmetic,
                  QWidget *parent = nullptr);

    void calcul();    // Btcalcul
    void set();       // Courset / Dechset
    void sendTyped(); // Rcourant: the pot value typed in its box goes to the charger
    int reading() const { return m_reading; }

  protected:
    bool measure() override;

  private:
    struct Coefficients {
        double multiplier, pot;
    };
    // Checks the entries and computes both values, shown in their boxes; nothing (after the
    // window's message) when an entry is missing or a value does not fit its bytes.
    std::optional<Coefficients> compute(bool forStoring);
    void onSlider(int v);

    const Kind m_kind;
    const Arithmetic &m_arithmetic;
    QSlider *m_slider;
    QLineEdit *m_pot, *m_cad, *m_current;
    QLineEdit *m_display;
    QLineEdit *m_multiplier, *m_potCoefficient;
    int m_reading = 0;
};

} // namespace calib
