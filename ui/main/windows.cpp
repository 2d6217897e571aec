#include "windows.h"

#include "firmware/micro.h"

QWidget *openWindow(Main::Window w, const chlink::Host &host) {
    Q_UNUSED(host);
    switch (w) {
    case Main::Window::Micro: {
        auto *micro = new Micro(host);
        micro->show();
        return micro;
    }
    case Main::Window::Chargeur:
    case Main::Window::Dechargeur:
    case Main::Window::MesCapa:
    case Main::Window::SelMoni:
    case Main::Window::Reglage:
        break;
    }
    return nullptr;
}
