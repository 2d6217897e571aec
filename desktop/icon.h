#pragma once

#include <QIcon>

namespace desktop {

// The suite's icon (a battery on charge), in every size the windows and the task bar use.
QIcon appIcon();

} // namespace desktop
