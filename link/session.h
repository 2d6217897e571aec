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
    // The user disconnected (or the port did not open on activation): windows send nothing.
    bool userDisconnected() const { return m_link->userDisconnected; }
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
    // Bytes received and not read yet.
    qint64 pending() const { return m_link->pending(); }
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

    // ---- A stream that is only listened to (the monitor) ----
    // One received byte, -1 when none is pending.
    int readPending() { return m_link->readPending(); }

    // ---- The port's speed, for the one window that changes it (the monitor) ----
    // Opens the port the user chose if it is closed, as it is set. False, with the reason,
    // when it will not open.
    bool openPort(QString *reason = nullptr) { return m_link->openPort(reason); }
    // Closes the port and opens the port the user chose again at `baud`. False, with the
    // reason, when it will not open.
    bool reopenAt(int baud, QString *reason = nullptr) {
        m_link->closePort();
        m_link->setBaudRate(baud);
        return m_link->openPort(reason);
    }
    // The port set up again as for the command dialogue (9600 baud, the port the user chose)
    // and opened. A link that had failed or been cut stays unconnected; false, with the
    // reason, when the port will not open (the connection flag is then 0).
    bool restorePort(QString *reason = nullptr) {
        const int connection = m_link->connectionFlag;
        const bool fault = m_link->portFault;
        m_link->closePort();
        m_link->portSetup();
        const bool open = m_link->openPort(reason);
        m_link->connectionFlag = open ? connection : 0;
        m_link->portFault = fault;
        return open;
    }
    int baudRate() const { return m_link->port() ? m_link->port()->baudRate() : 0; }
    // The serial device of the chosen port ("/dev/ttyUSB0", "COM3"), for the run records.
    QString deviceName() const { return m_link->deviceName(); }

  private:
    ChargerLink *m_link;
};

} // namespace chlink
