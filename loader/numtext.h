#pragma once

#include <QString>

namespace loader {

// An integer as the loader shows it: one leading blank when not negative (" 64"), the
// minus sign otherwise.
QString numberText(qint64 v);

} // namespace loader
