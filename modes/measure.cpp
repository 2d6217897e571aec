#include "measure.h"

#include "link/numtext.h"

#include <cmath>

namespace modes {

using namespace chlink;

double floorExact(double x) {
    return std::floor(x + 1e-9 * std::max(1.0, std::fabs(x)));
}

std::optional<double> setpointAmps(int sliderValue, int divisorByte) {
    if (divisorByte == 0) return std::nullopt;
    return std::floor(100.0 * sliderValue / double(divisorByte)) / 100.0;
}

QString setpointText(const QString &prefix, int sliderValue, int divisorByte) {
    const auto amps = setpointAmps(sliderValue, divisorByte);
    if (!amps) return prefix + numText(sliderValue);
    return prefix + numText(*amps) + QStringLiteral(" A");
}

Hms splitClock(qint64 seconds) {
    Hms t;
    t.hours = int(seconds / 3600);
    qint64 rest = seconds - 3600 * qint64(t.hours);
    t.minutes = int(rest / 60);
    t.seconds = int(rest - 60 * t.minutes);
    return t;
}

QString clockText(int v) {
    if (v >= 0 && v < 10) return QLatin1Char('0') + QString::number(v);
    return numText(v);
}

void RunClock::start(int chargerSeconds) {
    m_start = chargerSeconds;
    m_last = chargerSeconds;
    m_wraps = 0;
}

RunClock::Reading RunClock::read(int chargerSeconds, bool fieldsValid) {
    const qint64 offset = m_wraps * kDaySeconds - m_start;
    const qint64 lastElapsed = m_last + offset;
    const Reading glitch{lastElapsed, chargerSeconds + offset, true};
    if (!fieldsValid || chargerSeconds < 0 || chargerSeconds >= kDaySeconds) return glitch;
    if (chargerSeconds < m_last) {
        if (qint64(chargerSeconds) + kDaySeconds - m_last > kWrapWindow) return glitch;
        ++m_wraps;
    }
    m_last = chargerSeconds;
    const qint64 elapsed = qint64(chargerSeconds) + m_wraps * kDaySeconds - m_start;
    return {elapsed, elapsed, false};
}

qint64 ChargeCounter::capacity() const {
    return qint64(floorExact(m_mAs / 3600.0));
}

double voltsPerCell(double vbat, double cells) {
    return floorExact(1000.0 * vbat / cells) / 1000.0;
}

bool endOfDischarge(double voltsPerCell) {
    return floorExact(10.0 * voltsPerCell) < 5;
}

} // namespace modes

namespace modes {

std::optional<int> parseModeText(const QString &text) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v)) return 0;
    if (v < -0.5 || v >= 255.5) return std::nullopt;
    return int(std::lround(v));
}

std::optional<double> parseCellCount(const QString &text) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || v <= 0) return std::nullopt;
    return v;
}

} // namespace modes
