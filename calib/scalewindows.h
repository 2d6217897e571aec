#pragma once

#include "calibwindow.h"

class QLineEdit;

namespace calib {

class Arithmetic;

// "Reglage tension de sortie": the battery voltage scale from the mean of eight readings
// and the voltage measured with a voltmeter, stored in the slave (and its table B).
class Vout : public CalibWindow {
    Q_OBJECT
  public:
    explicit Vout(const winkit::Host &host, const Arithmetic &arithmetic,
                  QWidget *parent = nullptr);
    explicit Vout(const winkit::Host &host, QWidget *parent = nullptr);

    void set(); // CdsetVout
    int reading() const { return m_reading; }

  protected:
    bool measure() override;

  private:
    void showScale();

    const Arithmetic &m_arithmetic;
    QLineEdit *m_display;
    QLineEdit *m_entry;
    QLineEdit *m_scale;
    int m_reading = 0;
};

// "Reglage Tensions d'Alimentation": the supply and doubler scales from one reading each,
// stored in the master (and its table A).
class Vfiltrage : public CalibWindow {
    Q_OBJECT
  public:
    explicit Vfiltrage(const winkit::Host &host, const Arithmetic &arithmetic,
                       QWidget *parent = nullptr);
    explicit Vfiltrage(const winkit::Host &host, QWidget *parent = nullptr);

    void set(); // Cbset

  protected:
    bool measure() override;

  private:
    void showScale(int reading, QLineEdit *entry, QLineEdit *scale);

    const Arithmetic &m_arithmetic;
    QLineEdit *m_display;
    QLineEdit *m_valim, *m_vdbl;
    QLineEdit *m_scaleAlim, *m_scaleDbl;
    int m_valimReading = 0, m_vdblReading = 0;
};

} // namespace calib
