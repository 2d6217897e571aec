#pragma once

#include "bootport.h"
#include "serial/bytewaiter.h"
#include "serial/portmaker.h"

#include <QPointer>
#include <QString>
#include <functional>

namespace loader {

// How a wait ended: Byte (in lastByte), Timeout, PortFailed (reported once through
// portLost), NotOpen, Stopped (the program is ending).
using WaitResult = serialio::WaitResult;

enum class HandshakeResult {
    Connected,    // the boot loader answered "c"
    Disconnected, // the user disconnected while probing
    PortError,    // the port could not be opened or broke
    GaveUp,       // no answer within the probe limit (command line only)
    Stopped,      // the program is ending
};

// The link to the charger's resident boot loader: owns the port and the link state, the
// byte primitives and the handshake. Every wait sleeps in an event loop and is bounded.
class BootLink : public QObject {
    Q_OBJECT
  public:
    using PortFactory = std::function<BootPort *(const QString &device)>;
    using PortResolver = std::function<QString(int portNumber)>;

    static constexpr quint8 kProbe1 = 0x43;       // "C"
    static constexpr quint8 kProbe2 = 0x44;       // "D"
    static constexpr quint8 kAnswer = 0x63;       // "c"
    static constexpr int kProbeMs = 200;          // one probe's listening time
    static constexpr int kAnswerTimeoutMs = 3000; // a block's answer

    BootLink(PortFactory factory, PortResolver resolver, QObject *parent = nullptr);
    ~BootLink() override;

    // ---- Link state ----
    int portNumber = 1;
    int connectionState = 0; // 0 idle, 2 a probe is being sent, 1 the boot loader answered
    bool userDisconnected = false;
    bool portFault = false;
    int reconnectOnActivate = 0;
    quint8 lastByte = 0;
    // Bound of a block's answer wait.
    int answerTimeoutMs = kAnswerTimeoutMs;

    // Applies the port settings for portNumber to a closed port; connection state 1,
    // port fault cleared.
    void portSetup();
    bool openPort(QString *reason = nullptr);
    void closePort();
    bool isOpen() const;
    QString device() const { return m_maker.device(); }
    // Why the port failed last (empty when it did not).
    QString failReason() const { return m_failReason; }

    void sendByte(quint8 b);
    void send(const QByteArray &bytes);
    // Drops every pending byte; returns the last one dropped, or -1.
    int drain();
    // Waits at most timeoutMs for one byte (lastByte = 0 first, then the byte read).
    WaitResult waitByte(int timeoutMs);
    // Sleeps in the event loop; returns early when stopped or disconnected.
    void sleep(int ms);

    // Probes "C","D" every 200 ms until the boot loader answers "c", the user disconnects
    // or maxProbes probes went unanswered (<= 0: no limit). onProbe(n) runs before probe n
    // (n from 0).
    HandshakeResult handshake(const std::function<void(int)> &onProbe, int maxProbes = 0);
    bool inHandshake() const { return m_inHandshake; }

    // "Deconnection": ends a running handshake after its probe has gone out and closes
    // the port; nothing is sent to the boot loader.
    void disconnectPort();

    // The program ends: every wait returns at once and nothing waits again.
    void stop();
    bool stopped() const { return m_waiter.stopped(); }

  signals:
    // The open port broke; emitted once per failure.
    void portLost(const QString &reason);

  private:
    void onPortFailed(const QString &reason);

    serialio::PortMaker m_maker;
    QPointer<BootPort> m_port;
    serialio::ByteWaiter m_waiter;
    QString m_failReason;
    bool m_inHandshake = false;
    bool m_closeAfterProbe = false;
};

} // namespace loader
