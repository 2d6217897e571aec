#pragma once

namespace winkit {
class WindowRegistry;
}

namespace diag {

// The state panel ("FEtat"), the internal EEPROM editor ("EEprom") and the external EEPROM
// editor ("Exteepr"), opened from the microcontroller window.
void registerWindows(winkit::WindowRegistry &registry);

} // namespace diag
