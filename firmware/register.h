#pragma once

namespace winkit {
class WindowRegistry;
}

namespace firmware {

// The microcontroller window ("Micro"), and the windows it opens that other subsystems
// write ("FEtat", "EEprom", "Exteepr"), registered as not available until they register.
void registerWindows(winkit::WindowRegistry &registry);

} // namespace firmware
