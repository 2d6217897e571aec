#pragma once

#include "byteport.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>

namespace serialio {

// How a wait on a byte port ended.
enum class WaitResult {
    Byte,       // a byte arrived (or the awaited condition holds)
    Timeout,    // nothing within the time limit
    PortFailed, // the port broke (reported once through portLost)
    NotOpen,    // no open port
    Stopped,    // stop() was called, the application is quitting, or the caller's halt holds
};

// The nested event-loop wait of a link, for pelmora's charger link and sparlo's boot loader
// link alike. A wait sleeps in a local QEventLoop woken by the port's readyRead, by a port
// failure, by wake(), by stop() and by its own timer: the user interface stays live, the CPU
// idle, and every bounded wait ends on time. Events run inside a wait, so a handler may start
// another wait; the inner one returns first and the outer one re-checks its condition.
class ByteWaiter : public QObject {
    Q_OBJECT
  public:
    explicit ByteWaiter(QObject *parent = nullptr);

    // The port the waits listen to. It may be replaced while a wait sleeps: the wait goes on
    // with the new one.
    void setPort(BytePort *port);
    BytePort *port() const { return m_port; }

    // True once the port has broken, until the link clears it as it opens the port again.
    bool portFailed() const { return m_failed; }
    void clearFailure() { m_failed = false; }

    // Makes every wait in progress re-check its condition (a flag changed).
    void wake();
    // Every wait in progress and to come ends with Stopped (the program is ending).
    void stop();
    bool stopped() const { return m_stopped; }
    // While held, the waits leave the user's input (clicks, keys) queued until they are over;
    // the windows still paint, and a window closed by its frame still closes.
    void setUserInputHeld(bool held) { m_holdUserInput = held; }
    bool userInputHeld() const { return m_holdUserInput; }

    // Waits at most timeoutMs (< 0: no bound) for one byte and reads it into *byte. `halt`
    // is checked before the byte at every wake: when it holds the wait ends with Stopped and
    // the byte stays pending. Checked in this order: stopped, port failed, port not open,
    // halt, a pending byte, the time limit.
    WaitResult waitByte(int timeoutMs, quint8 *byte, const std::function<bool()> &halt = {});
    // Sleeps until cond() holds (Byte), the time runs out (timeoutMs < 0: no bound), the
    // port fails, closes or is missing, or stop() is called. cond() is checked first.
    WaitResult waitUntil(const std::function<bool()> &cond, int timeoutMs);
    // Sleeps ms whatever the port does; returns early on wake() or stop().
    void sleep(int ms);

  signals:
    // The open port broke: emitted once per failure, after portFailed() has become true.
    void portLost(const QString &reason);
    // Internal: ends the sleep of every wait in progress.
    void woken();

  private:
    void onPortFailed(const QString &reason);
    // Shared loop of waitByte and waitUntil: `ready` says when the wait is over (with its
    // result); the loop handles the time limit, the port and the application quitting.
    WaitResult sleepUntil(const std::function<std::optional<WaitResult>()> &ready, int timeoutMs);

    QPointer<BytePort> m_port;
    bool m_failed = false;
    bool m_stopped = false;
    bool m_holdUserInput = false;
};

} // namespace serialio
