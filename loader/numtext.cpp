#include "numtext.h"

namespace loader {

QString numberText(qint64 v) {
    return v < 0 ? QString::number(v) : QLatin1Char(' ') + QString::number(v);
}

} // namespace loader
