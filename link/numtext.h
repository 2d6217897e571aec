#pragma once

#include <QChar>
#include <QString>

namespace chlink {

// The number text of every label and text box: a leading blank when not negative (a
// minus otherwise), no trailing zeros, no zero before the point below 1 (" .56"),
// at most 7 significant digits.
QString numText(double v);
// As numbers are written to text files: up to 15 significant digits, a trailing blank, and
// '.' as the decimal point unless another separator is given (the locale's, in run logs).
QString logText(double v, QChar decimalPoint = QLatin1Char('.'));
// A number in fixed point with `significant` digits and at most `maxDecimals` decimals, no
// exponent, no trailing zeros, no sign on what prints as zero: "-0.56", "1234.5", "0". Empty
// for infinities and NaN.
QString fixedText(double v, int significant, int maxDecimals = 20);

} // namespace chlink
