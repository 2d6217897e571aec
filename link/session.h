#pragma once

#include "chargerlink.h"

#include <QByteArray>
#include <functional>
#include <initializer_list>
#include <optional>

namespace chlink {

// What a window may do with the charger: talk to it (commands, the three reply kinds, the
// waits), read the calibration tables, choose the controller to address and say how the
// main window comes back. Port control (open, close, device, speed) and the main window's
// own state stay with the main window.
//
// A light handle on the program's one link: copying it is cheap, and it lives as long as
// the link does. Exchanges are free functions taking a Session (exchanges.h), so that a new
// window adds its exchanges in its own folder.
class Session {
  public:
    explicit Session(ChargerLink &link) : m_link(&link) {}

    // ---- State a window reads or sets ----
    // The handshake succeeded and the port has not failed since.
    bool connected() const { return m_link->connectionFlag == 1; }
    // Internal EEPROM images read at connection: A of the master, B of the slave.
    QByteArray &tableA() { return m_link->tableA; }
    QByteArray &tableB() { return m_link->tableB; }
    const QByteArray &tableA() const { return m_link->tableA; }
    const QByteArray &tableB() const { return m_link->tableB; }
    // The table of a controller: 1 master (A), 2 slave (B).
    QByteArray &table(int target) { return target == 2 ? tableB() : tableA(); }
    // The controller the EEPROM and flash windows address: 1 master, 2 slave.
    int targetSelector() const { return m_link->targetSelector; }
    void setTargetSelector(int target) { m_link->targetSelector = target; }
    // 1: the main window runs a new handshake when it is activated again; a window leaving
    // by "Retour" sets 0.
    int reconnectOnActivate() const { return m_link->reconnectOnActivate; }
    void setReconnectOnActivate(int v) { m_link->reconnectOnActivate = v; }

    // ---- Talking ----
    void send(const QByteArray &bytes) { m_link->send(bytes); }
    // Sends 27, the code, then the arguments.
    void command(Cmd code, std::initializer_list<quint8> args = {}) { m_link->command(code, args); }
    void command(Cmd code, const QByteArray &args) { m_link->command(code, args); }
    // Discards every pending byte (a late answer of an earlier exchange).
    void drain() { m_link->drain(); }
    std::optional<QByteArray> readFrame(int n) { return m_link->readFrame(n); }
    std::optional<quint8> answerByte() { return m_link->answerByte(); }
    bool waitAck() { return m_link->waitAck(); }
    // One byte into lastByte(); timeoutMs < 0: the reply time-out.
    bool waitByte(int timeoutMs = -1) { return m_link->waitByte(timeoutMs); }
    quint8 lastByte() const { return m_link->lastByte; }
    // How the last exchange ended.
    LinkError error() const { return m_link->error(); }
    // The port is open: bytes sent now reach the charger.
    bool isOpen() const { return m_link->isOpen(); }
    // Pushes what was sent out of the port now, when no event loop may be left to do it (a
    // window's last bytes as it goes).
    void flush() {
        if (m_link->isOpen() && m_link->port()) m_link->port()->flush();
    }
    int replyTimeout() const { return m_link->replyTimeout(); }

    // ---- Waiting ----
    // Sleeps until cond() holds, the time runs out (< 0: no bound), the port fails, or
    // wake() is called and cond() then holds. Returns cond().
    bool waitUntil(const std::function<bool()> &cond, int timeoutMs) {
        return m_link->waitUntil(cond, timeoutMs);
    }
    // Every wait in progress re-checks its condition (a window's stop or close).
    void wake() { m_link->wake(); }
    // While held, the waits leave the user's clicks and keys queued until they are over (a
    // measurement that nothing else may interrupt); the windows keep painting.
    void setUserInputHeld(bool held) { m_link->setUserInputHeld(held); }
    bool userInputHeld() const { return m_link->userInputHeld(); }
    // The program is ending: no box, nothing more sent.
    bool isShuttingDown() const { return m_link->isShuttingDown(); }

  private:
    ChargerLink *m_link;
};

} // namespace chlink
