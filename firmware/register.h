#pragma once

namespace chlink {
class ChargerLink;
}
namespace winkit {
class WindowRegistry;
}

namespace firmware {

// The microcontroller window ("Micro"), and the windows it opens that other subsystems
// write ("FEtat", "EEprom", "Exteepr"), registered as not available until they register.
void registerWindows(winkit::WindowRegistry &registry, chlink::ChargerLink &link);

} // namespace firmware
