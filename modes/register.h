#pragma once

namespace winkit {
class WindowRegistry;
}

namespace modes {

// The charge, discharge and capacity windows ("Chargeur", "Dechargeur", "MesCapa"): they
// need a connection, hide the main window and stop its handshake timers while open.
void registerWindows(winkit::WindowRegistry &registry);

} // namespace modes
