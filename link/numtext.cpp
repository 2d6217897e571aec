#include "numtext.h"

#include <algorithm>
#include <cmath>

namespace chlink {

QString fixedText(double v, int significant, int maxDecimals) {
    if (!std::isfinite(v)) return {};
    if (v == 0) return QStringLiteral("0");
    const double a = std::fabs(v);
    const int magnitude = int(std::floor(std::log10(a))) + 1; // digits before the point
    const int decimals = std::clamp(significant - magnitude, 0, maxDecimals);
    QString digits = QString::number(a, 'f', decimals);
    if (digits.contains(QLatin1Char('.'))) {
        while (digits.endsWith(QLatin1Char('0')))
            digits.chop(1);
        if (digits.endsWith(QLatin1Char('.'))) digits.chop(1);
    }
    if (digits == QLatin1String("0")) return digits;
    return v < 0 ? QLatin1Char('-') + digits : digits;
}

namespace {
// fixedText with a leading blank where there is no minus and no zero before the point.
QString numberText(double v, int significant) {
    QString t = fixedText(v, significant);
    if (t.isEmpty() || t == QLatin1String("0")) return QStringLiteral(" 0");
    if (!t.startsWith(QLatin1Char('-'))) t.prepend(QLatin1Char(' '));
    if (t.mid(1, 2) == QLatin1String("0.")) t.remove(1, 1);
    return t;
}

} // namespace

QString numText(double v) {
    return numberText(v, 7);
}

QString logText(double v, QChar decimalPoint) {
    QString t = numberText(v, 15);
    if (decimalPoint != QLatin1Char('.')) t.replace(QLatin1Char('.'), decimalPoint);
    return t + QLatin1Char(' ');
}

} // namespace chlink
