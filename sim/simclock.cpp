#include "simclock.h"

namespace sim {

SimClock::SimClock() {
    m_wall.start();
}

double SimClock::seconds() const {
    if (m_manual) return m_base;
    return m_base + double(m_wall.elapsed() - m_wallBase) / 1000.0 * m_speed;
}

void SimClock::rebase() {
    m_base = seconds();
    m_wallBase = m_wall.elapsed();
}

void SimClock::setSeconds(double s) {
    m_base = s < 0 ? 0 : s;
    m_wallBase = m_wall.elapsed();
}

void SimClock::setSpeed(double factor) {
    rebase();
    if (factor > 0) m_speed = factor;
}

void SimClock::setManual(bool manual) {
    rebase();
    m_manual = manual;
}

void SimClock::advance(double chargerSeconds) {
    if (chargerSeconds > 0) m_base += chargerSeconds;
}

} // namespace sim
