#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

namespace chlink {
class Session;
}

namespace winkit {

class WindowRegistry;

// What a window receives from whoever opens it (the window registry).
struct Host {
    // The charger as windows see it: exchanges, calibration tables, target selector,
    // reconnect flag. Never port control.
    chlink::Session *session = nullptr;
    // Opens other windows by id.
    WindowRegistry *registry = nullptr;
    // The window this one was opened from.
    QPointer<QWidget> opener;
    // The opener is hidden while this window is open and shown again when it closes.
    bool hidesOpener = false;
    // Set when this window stops the main window's handshake timers as it loads.
    std::function<void()> stopMainTimers;
};

} // namespace winkit
