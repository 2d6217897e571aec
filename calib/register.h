#pragma once

namespace winkit {
class WindowRegistry;
}

namespace calib {

// The calibration selector ("Reglage") and the calibration windows it opens.
void registerWindows(winkit::WindowRegistry &registry);

} // namespace calib
