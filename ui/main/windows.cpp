#include "windows.h"

QWidget *openWindow(Main::Window w, const chlink::Host &host) {
    Q_UNUSED(host);
    switch (w) {
    case Main::Window::Chargeur:
    case Main::Window::Dechargeur:
    case Main::Window::MesCapa:
    case Main::Window::SelMoni:
    case Main::Window::Micro:
    case Main::Window::Reglage:
        break;
    }
    return nullptr;
}
