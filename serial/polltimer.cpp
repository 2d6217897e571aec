#include "polltimer.h"

#include <QTimer>

namespace serialio {

PollTimer::PollTimer(ExchangeGate &gate, ExchangeGate::Key key, int intervalMs,
                     std::function<bool()> automatic, std::function<void()> poll,
                     const QString &name, QObject *parent)
    : QObject(parent), m_gate(gate), m_key(key), m_timer(new QTimer(this)),
      m_automatic(std::move(automatic)), m_poll(std::move(poll)) {
    m_timer->setObjectName(name);
    m_timer->setInterval(intervalMs);
    m_timer->setSingleShot(true); // armed again by the end of each exchange
    connect(m_timer, &QTimer::timeout, this, [this] { m_gate.request(m_key, m_poll); });
    connect(&m_gate, &ExchangeGate::busyChanged, this, &PollTimer::onBusyChanged);
}

void PollTimer::onBusyChanged(bool busy) {
    if (busy)
        m_timer->stop();
    else
        rearm();
}

void PollTimer::rearm() {
    if (m_gate.busy() || m_gate.closing() || !m_automatic || !m_automatic()) return;
    m_timer->start();
}

void PollTimer::stop() {
    m_timer->stop();
    m_gate.drop(m_key);
}

bool PollTimer::isActive() const {
    return m_timer->isActive();
}

int PollTimer::interval() const {
    return m_timer->interval();
}

void PollTimer::setInterval(int ms) {
    m_timer->setInterval(ms);
}

} // namespace serialio
