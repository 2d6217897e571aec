#include "windows.h"

#include "firmware/micro.h"
#include "modes/chargeur.h"
#include "modes/dechargeur.h"

QWidget *openWindow(Main::Window w, const chlink::Host &host) {
    QWidget *window = nullptr;
    switch (w) {
    case Main::Window::Micro:
        window = new Micro(host);
        window->show();
        break;
    case Main::Window::Chargeur: // the mode windows show themselves as they load
        window = new modes::Chargeur(host);
        break;
    case Main::Window::Dechargeur:
        window = new modes::Dechargeur(host);
        break;
    case Main::Window::MesCapa:
    case Main::Window::SelMoni:
    case Main::Window::Reglage:
        break;
    }
    if (window)
        window->setAttribute(Qt::WA_DeleteOnClose);
    return window;
}
