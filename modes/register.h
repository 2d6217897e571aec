#pragma once

namespace winkit {
class WindowRegistry;
}

namespace modes {

// The charge and discharge windows ("Chargeur", "Dechargeur"): they need a connection,
// hide the main window and stop its handshake timers while open.
void registerWindows(winkit::WindowRegistry &registry);

} // namespace modes
