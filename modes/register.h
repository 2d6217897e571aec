#pragma once

namespace chlink {
class ChargerLink;
}
namespace winkit {
class WindowRegistry;
}

namespace modes {

// The charge and discharge windows ("Chargeur", "Dechargeur"): they need a connection,
// hide the main window and stop its handshake timers while open. The link is not used (the
// windows receive the session through the registry); every subsystem's registration takes it.
void registerWindows(winkit::WindowRegistry &registry, chlink::ChargerLink &link);

} // namespace modes
