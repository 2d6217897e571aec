#pragma once

#include <QElapsedTimer>

namespace sim {

// The charger's time base: charger seconds since power-on. In real time it runs at a speed
// factor of the wall clock; in manual mode it stands still and moves only through advance(),
// so tests step a charge deterministically without sleeping. The battery model and the
// charger's clock (command 41) both read it.
class SimClock {
  public:
    SimClock();

    double seconds() const;
    void setSeconds(double s);

    double speed() const { return m_speed; }
    void setSpeed(double factor);

    bool isManual() const { return m_manual; }
    void setManual(bool manual);

    // Moves the time forward (in either mode).
    void advance(double chargerSeconds);

  private:
    void rebase();

    QElapsedTimer m_wall;
    double m_speed = 1.0;
    bool m_manual = false;
    double m_base = 0;     // charger seconds at m_wallBase
    qint64 m_wallBase = 0; // wall milliseconds of the last rebase
};

} // namespace sim
