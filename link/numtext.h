#pragma once

#include <QChar>
#include <QString>

namespace chlink {

// The number text of every label and text box: a leading blank when not negative (a
// minus otherwise), no trailing zeros, no zero before the point below 1 (" .56"),
// at most 7 significant digits.
QString numText(double v);
// The same with a trailing blank, as numbers are written to text files. The decimal
// point is '.' unless another separator is given (the locale's, in run logs).
QString logText(double v, QChar decimalPoint = QLatin1Char('.'));

} // namespace chlink
