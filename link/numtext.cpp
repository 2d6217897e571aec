#include "numtext.h"

#include <cmath>

namespace chlink {

QString numText(double v) {
    if (!std::isfinite(v)) return QStringLiteral(" 0");
    if (v == 0) return QStringLiteral(" 0");
    const double a = std::fabs(v);
    QString digits;
    if (a >= 1e7) {
        digits = QString::number(a, 'f', 0);
    } else {
        // 7 significant digits, written without exponent.
        const int intDigits = a >= 1 ? int(std::floor(std::log10(a))) + 1 : 0;
        const int decimals = std::max(0, 7 - intDigits);
        digits = QString::number(a, 'f', std::min(decimals, 12));
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

QString logText(double v, QChar decimalPoint) {
    QString t = numText(v);
    if (decimalPoint != QLatin1Char('.')) t.replace(QLatin1Char('.'), decimalPoint);
    return t + QLatin1Char(' ');
}

} // namespace chlink
