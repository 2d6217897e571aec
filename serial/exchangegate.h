#pragma once

#include <QObject>
#include <functional>
#include <vector>

namespace serialio {

// Keeps the exchanges of one window from interleaving on the link, and the window alive
// while one of them is inside a wait.
//
// Events run inside every wait for a reply byte, so a button, a slider or a timer tick may
// call a handler while another handler is waiting. A handler that wants the link then asks
// the gate: it runs at once when no exchange is in progress, or after the one in progress
// (a slider moved during a poll sends its latest value after the poll). A stop request
// makes the exchange in progress end at its next wait: exchange code checks interrupted()
// after every wait and returns. When the window goes away, nothing queued runs any more and
// whatever must follow the last exchange (showing the opener, deleting the window) waits
// until no handler is inside a wait.
class ExchangeGate : public QObject {
    Q_OBJECT
  public:
    // A request's key, chosen by the window (usually one of its own enum values).
    using Key = int;

    explicit ExchangeGate(QObject *owner);

    // Marks code that talks to the charger. Nesting is allowed: the gate is busy until the
    // outermost one ends.
    class Exchange {
      public:
        explicit Exchange(ExchangeGate &gate);
        ~Exchange();
        Exchange(const Exchange &) = delete;
        Exchange &operator=(const Exchange &) = delete;

      private:
        ExchangeGate &m_gate;
    };

    // Runs fn now inside an exchange when none is in progress, otherwise after it, in the
    // order of the requests. A later request with the same key replaces a queued one in its
    // place in the queue. The stop and failure marks are cleared as a requested exchange
    // begins: an earlier stop does not cut the next handler short. Ignored once closing.
    void request(Key key, std::function<void()> fn);
    // Forgets a queued request (Stop drops the queued poll tick).
    void drop(Key key);
    bool isQueued(Key key) const;
    int queued() const { return int(m_queue.size()); }

    bool busy() const { return m_depth > 0; }

    // The exchange in progress ends at its next wait; every wait is woken to see it.
    void requestStop();
    bool stopRequested() const { return m_stop; }
    // The link failed during the exchange in progress: the rest of it sends nothing.
    void markFailed() { m_failed = true; }
    bool failed() const { return m_failed; }
    // Checked after every wait: the window is closing, a stop was requested or the link
    // failed. True means return now, sending nothing more.
    bool interrupted() const { return m_closing || m_stop || m_failed; }

    // The window is going away: the queue is dropped, nothing more is run, waits are woken,
    // and `then` runs as soon as no exchange is in progress (at once when none is). Later
    // calls only add their `then`. It must not delete the owner directly (deleteLater()).
    void close(std::function<void()> then = {});
    // close() that deletes the owner (deleteLater) once no handler is inside a wait.
    void deleteOwnerWhenIdle();
    bool closing() const { return m_closing; }

  signals:
    // The gate became busy (the first exchange began) or idle (the last one ended).
    void busyChanged(bool busy);
    // A stop or a close: every wait in progress must re-check interrupted(). Connect it to
    // the link's wake().
    void wakeRequested();

  private:
    void enter();
    void leave();
    void runQueued();
    void runExchange(std::function<void()> fn);

    QObject *m_owner;
    int m_depth = 0;
    std::vector<std::pair<Key, std::function<void()>>> m_queue;
    bool m_runScheduled = false;
    bool m_stop = false;
    bool m_failed = false;
    bool m_closing = false;
    std::vector<std::function<void()>> m_afterClose;
};

} // namespace serialio
