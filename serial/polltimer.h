#pragma once

#include "exchangegate.h"

#include <QObject>
#include <functional>

class QTimer;

namespace serialio {

// A window's poll timer, kept by one rule: it never runs during an exchange (the gate
// stops it as any exchange begins) and it is armed again, for a full interval, when the last
// exchange ends, but only while the window's "automatic" predicate holds (a run is going,
// automatic refresh is ticked). Each tick runs the window's poll as a gate request under
// its own key, so a tick never interleaves with a button's exchange.
class PollTimer : public QObject {
    Q_OBJECT
  public:
    // name: the timer's objectName ("Timerchargeur"). The gate must outlive the timer
    // (both usually belong to the window).
    PollTimer(ExchangeGate &gate, ExchangeGate::Key key, int intervalMs,
              std::function<bool()> automatic, std::function<void()> poll,
              const QString &name = QString(), QObject *parent = nullptr);

    // Arms the timer when no exchange is in progress, the window is not closing and
    // automatic() holds; otherwise leaves it to the end of the exchange in progress.
    void rearm();
    // Stops the timer and drops a tick already queued behind an exchange.
    void stop();
    bool isActive() const;
    int interval() const;
    void setInterval(int ms);
    QTimer *timer() const { return m_timer; }

  private:
    void onBusyChanged(bool busy);

    ExchangeGate &m_gate;
    ExchangeGate::Key m_key;
    QTimer *m_timer;
    std::function<bool()> m_automatic;
    std::function<void()> m_poll;
};

} // namespace serialio
