#include "numtext.h"

#include <algorithm>
#include <cmath>

namespace chlink {

namespace {
QString numberText(double v, int significant) {
    if (!std::isfinite(v)) return QStringLiteral(" 0");
    if (v == 0) return QStringLiteral(" 0");
    const double a = std::fabs(v);
    QString digits;
    if (a >= 1e15) {
        digits = QString::number(a, 'f', 0);
    } else {
        // `significant` digits, written without exponent.
        const int magnitude = int(std::floor(std::log10(a))) + 1; // digits before the point
        const int decimals = std::clamp(significant - magnitude, 0, 20);
        digits = QString::number(a, 'f', decimals);
        if (digits.contains(QLatin1Char('.'))) {
            while (digits.endsWith(QLatin1Char('0')))
                digits.chop(1);
            if (digits.endsWith(QLatin1Char('.'))) digits.chop(1);
        }
        if (digits.startsWith(QLatin1String("0."))) digits.remove(0, 1);
        if (digits.isEmpty() || digits == QLatin1String("0")) return QStringLiteral(" 0");
    }
    return (v < 0 ? QLatin1Char('-') : QLatin1Char(' ')) + digits;
}

} // namespace

QString numText(double v) { return numberText(v, 7); }

QString logText(double v, QChar decimalPoint) {
    QString t = numberText(v, 15);
    if (decimalPoint != QLatin1Char('.')) t.replace(QLatin1Char('.'), decimalPoint);
    return t + QLatin1Char(' ');
}

} // namespace chlink
