#include "exchangegate.h"

#include <QTimer>
#include <algorithm>

namespace serialio {

ExchangeGate::ExchangeGate(QObject *owner) : QObject(owner), m_owner(owner) {}

ExchangeGate::Exchange::Exchange(ExchangeGate &gate) : m_gate(gate) {
    m_gate.enter();
}

ExchangeGate::Exchange::~Exchange() {
    m_gate.leave();
}

void ExchangeGate::enter() {
    if (m_depth++ == 0) emit busyChanged(true);
}

void ExchangeGate::leave() {
    if (--m_depth > 0) return;
    emit busyChanged(false);
    if (m_closing) {
        m_queue.clear();
        // What waited for the last exchange to end: showing the opener, deleting the owner.
        auto after = std::move(m_afterClose);
        m_afterClose.clear();
        for (auto &fn : after)
            if (fn) fn();
        return;
    }
    // Queued requests run once the handler that just ended has returned to the event loop.
    if (!m_queue.empty() && !m_runScheduled) {
        m_runScheduled = true;
        QTimer::singleShot(0, this, [this] { runQueued(); });
    }
}

void ExchangeGate::runExchange(std::function<void()> fn) {
    Exchange x(*this);
    m_stop = false; // a new handler: an earlier stop or failure no longer ends it
    m_failed = false;
    fn();
}

void ExchangeGate::request(Key key, std::function<void()> fn) {
    if (m_closing) return;
    if (!busy()) {
        runExchange(std::move(fn));
        return;
    }
    for (auto &q : m_queue) {
        if (q.first == key) {
            q.second = std::move(fn);
            return;
        }
    }
    m_queue.emplace_back(key, std::move(fn));
}

void ExchangeGate::runQueued() {
    m_runScheduled = false;
    while (!busy() && !m_closing && !m_queue.empty()) {
        auto fn = std::move(m_queue.front().second);
        m_queue.erase(m_queue.begin());
        runExchange(std::move(fn));
    }
}

void ExchangeGate::drop(Key key) {
    std::erase_if(m_queue, [key](const auto &q) { return q.first == key; });
}

bool ExchangeGate::isQueued(Key key) const {
    return std::any_of(m_queue.begin(), m_queue.end(),
                       [key](const auto &q) { return q.first == key; });
}

void ExchangeGate::requestStop() {
    if (!busy()) return; // nothing in progress to stop
    m_stop = true;
    emit wakeRequested();
}

void ExchangeGate::close(std::function<void()> then) {
    if (!m_closing) {
        m_closing = true;
        m_queue.clear();
        emit wakeRequested();
    }
    if (!busy()) {
        if (then) then();
        return;
    }
    m_afterClose.push_back(std::move(then));
}

void ExchangeGate::deleteOwnerWhenIdle() {
    close([owner = m_owner] {
        if (owner) owner->deleteLater();
    });
}

} // namespace serialio
