#pragma once

namespace winkit {
class WindowRegistry;
}

namespace firmware {

// The microcontroller window ("Micro"). The windows it opens ("FEtat", "EEprom", "Exteepr")
// are registered by the diagnostics subsystem.
void registerWindows(winkit::WindowRegistry &registry);

} // namespace firmware
