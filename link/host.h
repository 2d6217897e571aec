#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

namespace chlink {

class ChargerLink;

// What a window opened from the main window may use of it: the link, the main window to
// hide and show again, and its two handshake timers to stop (mode windows).
struct Host {
    ChargerLink *link = nullptr;
    QPointer<QWidget> main;
    std::function<void()> stopMainTimers;

    void hideMain() const {
        if (main) main->hide();
    }
    void showMain() const {
        if (main) main->show();
    }
};

} // namespace chlink
