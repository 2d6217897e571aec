#pragma once

#include "byteport.h"
#include "commands.h"
#include "serial/bytewaiter.h"
#include "serial/portmaker.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QPointer>
#include <QString>
#include <functional>
#include <initializer_list>
#include <optional>

namespace chlink {

// How the last exchange ended.
enum class LinkError {
    None,
    Timeout,    // the charger did not answer within the reply time-out
    PortFailed, // the port broke (already reported once by the link's owner)
    NotOpen,    // nothing to talk to
    Aborted,    // the abort flag was raised (retry timer tick) or the wait was cancelled
};

// The one link to the charger: owns the port object and the program-wide link state,
// and offers the byte primitives and the three reply kinds. Every wait sleeps in an
// event loop (the user interface stays live) and is bounded by the reply time-out.
class ChargerLink : public QObject {
    Q_OBJECT
  public:
    // Makes the port object for a device name (real serial port or virtual charger).
    using PortFactory = std::function<BytePort *(const QString &device)>;
    // Resolves a port number (1..n) to a device name.
    using PortResolver = std::function<QString(int portNumber)>;

    static constexpr int kReplyTimeoutMs = 3000;
    static constexpr int kBaud = 9600;

    ChargerLink(PortFactory factory, PortResolver resolver, QObject *parent = nullptr);
    ~ChargerLink() override;

    // ---- Program-wide link state, read and written by every window ----
    int portNumber = 1;
    int connectionFlag = 0;
    int reconnectOnActivate = 1;
    bool userDisconnected = false;
    bool portFault = false;
    quint8 lastByte = 0;
    QByteArray tableA = QByteArray(257, 0); // master internal EEPROM image
    QByteArray tableB = QByteArray(257, 0); // slave internal EEPROM image
    int targetSelector = 1;                 // 1 master, 2 slave

    // ---- Port ----
    // Applies the port settings (9600 8N1, the port number's device) to the closed port;
    // connection flag 1, port fault flag false.
    void portSetup();
    bool openPort(QString *reason = nullptr);
    void closePort();
    bool isOpen() const;
    void setBaudRate(int baud);
    QString deviceName() const;
    BytePort *port() const { return m_port; }

    // ---- Flags raised by timers of the main window ----
    quint8 abortFlag() const { return m_abort; }
    void setAbortFlag(quint8 v);
    quint8 probeTimeoutFlag() const { return m_probeTimeout; }
    void setProbeTimeoutFlag(quint8 v);

    // ---- Byte primitives ----
    void sendByte(quint8 b);
    void send(const QByteArray &bytes);
    // Sends 27, the code, then the arguments.
    void command(Cmd code, std::initializer_list<quint8> args = {});
    void command(Cmd code, const QByteArray &args);
    qint64 pending() const;
    int readPending(); // one pending byte, -1 if none
    void drain();      // discards every pending byte

    // Waits for one byte into lastByte (0 first). False on abort flag, time-out, port
    // failure or cancel; error() says which.
    // timeoutMs < 0: the link's reply time-out.
    bool waitByte(int timeoutMs = -1);
    void setReplyTimeout(int ms) { m_replyTimeoutMs = ms; }
    int replyTimeout() const { return m_replyTimeoutMs; }
    // Sleeps until cond() holds, the time runs out (timeoutMs < 0: no bound), the port
    // fails, or wake() is called and cond() then holds. Returns cond().
    bool waitUntil(const std::function<bool()> &cond, int timeoutMs);
    // Makes every wait in progress re-check its condition (a flag changed).
    void wake();
    // While held, waits leave the user's clicks and keys queued until they are over.
    void setUserInputHeld(bool held) { m_waiter.setUserInputHeld(held); }
    bool userInputHeld() const { return m_waiter.userInputHeld(); }
    // The program is ending: every wait in progress and to come returns at once.
    void shutdown();
    bool isShuttingDown() const { return m_waiter.stopped(); }

    // ---- Reply kinds ----
    std::optional<QByteArray> readFrame(int n);
    std::optional<quint8> answerByte();
    bool waitAck();

    LinkError error() const { return m_error; }
    // Counts exchanges abandoned by a time-out since start (for tests and benchmarks).
    int timeouts() const { return m_timeouts; }

  signals:
    // The port broke while open; it is closed and the connection flag is 0.
    void portLost(const QString &reason);

  private:
    void onPortFailed(const QString &reason);
    void renewPort();

    serialio::PortMaker m_maker;
    QPointer<BytePort> m_port;
    serialio::ByteWaiter m_waiter;
    quint8 m_abort = 0;
    quint8 m_probeTimeout = 0;
    bool waitByteBefore(const QDeadlineTimer &deadline);

    LinkError m_error = LinkError::None;
    int m_timeouts = 0;
    int m_replyTimeoutMs = kReplyTimeoutMs;
};

// Error text of the last exchange for a message box, or empty when the link owner has
// already reported it (port failure).
QString linkErrorText(LinkError e);

} // namespace chlink
