#pragma once

namespace winkit {
class WindowRegistry;
}

namespace calib {

class Arithmetic;

// The calibration selector ("Reglage") and the calibration windows it opens. The scale and
// current windows store what `arithmetic` computes (the standard arithmetic by default).
void registerWindows(winkit::WindowRegistry &registry);
void registerWindows(winkit::WindowRegistry &registry, const Arithmetic &arithmetic);

} // namespace calib
