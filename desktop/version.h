#pragma once

#include <QString>

namespace desktop {

// The suite's version ("0.1.0"), shown by --version and the "À propos" box.
QString version();

} // namespace desktop
