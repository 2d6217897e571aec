#include "capalogic.h"

#include "link/numtext.h"
#include "measure.h"

#include <cmath>

namespace modes::capa {

double milliampHours(double ampereSeconds) {
    return floorExact(1000.0 * ampereSeconds / 3600.0);
}

QString totalText(const QString &prefix, double ampereSeconds) {
    return prefix + chlink::numText(milliampHours(ampereSeconds)) + QStringLiteral("mAh");
}

double chargeStepAmpereSeconds(int displayArgument, double amps) {
    return (displayArgument == 1 ? 12.0 : 2.0) * amps;
}

void DeltaAdjust::reading(int count) {
    if (finished()) return;
    if (count > kTarget) m_done = true;
    if (m_stage == Stage::Gain) {
        m_offsetChanged = false;
        m_gain += 10;
        // No gain reaches the target: the offset comes down instead.
        if (m_gain > 245)
            m_stage = Stage::Offset;
        else if (m_done)
            m_stage = Stage::Done;
        return;
    }
    m_offsetChanged = true;
    m_offset -= 10;
    if (m_offset < 10)
        m_stage = Stage::Problem;
    else if (m_done)
        m_stage = Stage::Done;
}

ChargeEnd::Step ChargeEnd::update(int count) {
    Step s{count, false, false};
    if (count > kCeiling) {
        // Near the top of the converter: a lower gain, and the peak starts again from there.
        m_gain = int(std::floor(m_gain - m_gain / 16.0));
        m_peak = 0;
        s.gainCut = true;
        s.count = 10;
    }
    if (s.count > m_peak) m_peak = s.count;
    s.ended = s.count < m_peak - kDrop;
    return s;
}

int voltsPerCellHundredths(double vbat, double cells) {
    return int(floorExact(100.0 * vbat / cells));
}

double resistance(double v1, double v2) {
    return floorExact(1000.0 * (v2 - v1));
}

TempWatch::Fan TempWatch::update(std::optional<double> temper) {
    if (!temper) return Fan::Keep;
    if (*temper > kFanOn && !m_fan) {
        m_fan = true;
        return Fan::On;
    }
    if (*temper < kFanOff && m_fan) {
        m_fan = false;
        return Fan::Off;
    }
    return Fan::Keep;
}

std::optional<int> parseCycles(const QString &text) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return 1;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < 0 || v > kMaxCycles || v != std::floor(v))
        return std::nullopt;
    return v == 0 ? 1 : int(v);
}

const QStringList &logColumns() {
    static const QStringList c = {QStringLiteral("DUREE"),       QStringLiteral("TEMPER"),
                                  QStringLiteral("ICHRG"),       QStringLiteral("IDECHRG"),
                                  QStringLiteral("TOTALCHARGE"), QStringLiteral("TOTALDECHARGE"),
                                  QStringLiteral("VBAT"),        QStringLiteral("VUNIT"),
                                  QStringLiteral("VDELTA"),      QStringLiteral("RESISTANCE"),
                                  QStringLiteral("TEMPS")};
    return c;
}

QString starLine() {
    return QStringLiteral("*********:**********:*************:*********") +
           QStringLiteral("*********************************************");
}

QString equalsLine() {
    return QStringLiteral("=========:==========:=============:========:") +
           QStringLiteral("=============================================");
}

} // namespace modes::capa
