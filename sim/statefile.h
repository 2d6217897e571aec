#pragma once

#include <QString>

namespace sim {

class VirtualCharger;

// The charger's lasting state between runs of chargersim: its memories (internal and
// external EEPROMs, both program memories), the battery pack (chemistry, cells, capacity,
// state of charge) and the hardware options. Outputs and the clock start from power-on.
// Written all or nothing; a file that does not parse changes nothing.
bool saveState(const VirtualCharger &charger, const QString &path, QString *error = nullptr);
bool loadState(VirtualCharger &charger, const QString &path, QString *error = nullptr);

} // namespace sim
