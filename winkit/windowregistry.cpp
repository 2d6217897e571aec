#include "windowregistry.h"

#include "link/messages.h"
#include "link/session.h"

#include <algorithm>

namespace winkit {

WindowRegistry::WindowRegistry(chlink::Session *session, QObject *parent)
    : QObject(parent), m_session(session) {}

void WindowRegistry::add(WindowEntry entry) {
    for (auto &e : m_entries) {
        if (e.id == entry.id) {
            e = std::move(entry);
            return;
        }
    }
    m_entries.push_back(std::move(entry));
}

const WindowEntry *WindowRegistry::find(const QString &id) const {
    for (const auto &e : m_entries)
        if (e.id == id) return &e;
    return nullptr;
}

bool WindowRegistry::available(const QString &id) const {
    const WindowEntry *e = find(id);
    return e && e->make;
}

ChargerWindow *WindowRegistry::open(const QString &id, QWidget *from, Check check) {
    const WindowEntry *e = find(id);
    if (!e) return nullptr;
    if (check == Check::AsRegistered && e->needsConnection &&
        !(m_session && m_session->connected())) {
        chlink::noConnectionBox(from);
        return nullptr;
    }
    if (!e->make) {
        chlink::unavailableBox(from);
        return nullptr;
    }
    Host host;
    host.session = m_session;
    host.registry = this;
    host.opener = from;
    host.hidesOpener = e->hidesOpener;
    if (e->stopsMainTimers) host.stopMainTimers = m_stopMainTimers;
    const QString group = e->group; // the factory may register more windows
    ChargerWindow *w = e->make(host);
    if (!w) return nullptr;
    w->setAttribute(Qt::WA_DeleteOnClose);
    m_open.push_back({id, group, w});
    w->load();
    emit opened(id, w);
    return w;
}

std::vector<WindowRegistry::Open> WindowRegistry::live() const {
    std::erase_if(m_open, [](const Open &o) { return o.window.isNull(); });
    std::vector<Open> result;
    for (const Open &o : m_open)
        if (!o.window->isClosing()) result.push_back(o); // a closing window is no longer open
    return result;
}

QList<ChargerWindow *> WindowRegistry::openWindows() const {
    QList<ChargerWindow *> result;
    for (const Open &o : live())
        result.append(o.window);
    return result;
}

ChargerWindow *WindowRegistry::openWindow(const QString &id) const {
    for (const Open &o : live())
        if (o.id == id) return o.window;
    return nullptr;
}

QList<QPointer<QWidget>> WindowRegistry::closeAll() {
    std::erase_if(m_open, [](const Open &o) { return o.window.isNull(); });
    auto windows = m_open;
    // Windows opened from others close first, so each shows its opener before that one
    // closes in turn.
    std::reverse(windows.begin(), windows.end());
    QList<QPointer<QWidget>> staying;
    for (const Open &o : windows) {
        if (!o.window) continue;
        if (o.window->isClosing()) {
            // Closed earlier and still inside a wait: it goes when the wait ends.
            if (o.window->gate().busy()) staying << o.window.data();
            continue;
        }
        if (!o.window->close() && o.window) staying << o.window.data();
    }
    return staying;
}

void WindowRegistry::closeGroup(const QString &group, const QWidget *keep) {
    if (group.isEmpty()) return;
    for (const Open &o : live())
        if (o.group == group && o.window != keep && o.window) o.window->close();
}

} // namespace winkit
