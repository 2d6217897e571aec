#pragma once

namespace winkit {
class WindowRegistry;
}

namespace modes {

// The charge, discharge and capacity windows ("Chargeur", "Dechargeur", "MesCapa"): they
// need a connection, hide the main window and stop its handshake timers while open. The
// monitor's selection ("SelMoni") and the monitor ("Moni") open without a connection; both
// hide their opener, the monitor stops the main window's timers.
void registerWindows(winkit::WindowRegistry &registry);

} // namespace modes
