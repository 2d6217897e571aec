#pragma once

namespace winkit {
class WindowRegistry;
}

namespace viewer {
// The run-log viewer, "Visionneuse": it needs no connection and leaves its opener shown.
void registerWindows(winkit::WindowRegistry &registry);
} // namespace viewer
