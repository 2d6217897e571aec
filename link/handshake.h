#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

namespace chlink {

class ChargerLink;

// The connection routine: probes the charger with 0x55 at every tick of the retry timer
// (Timer1) until it answers 27 then 0x55 to 0xAA, checks the slave over I2C, and loads
// bytes 0..15 of both internal EEPROMs into tables A and B.
//
// Probing waits for the user (it never gives up by itself); every other wait is bounded.
// A second run() while one is probing restarts the running one rather than nesting.
class Handshake : public QObject {
    Q_OBJECT
  public:
    enum class Result { Connected, PortError, Cancelled, Timeout, PortLost };

    // timer1: retry timer (200 ms), timer2: probe timer; both belong to the main window,
    // whose ticks raise the link's abort and probe time-out flags.
    Handshake(ChargerLink &link, QTimer *timer1, QTimer *timer2, QObject *parent = nullptr);

    Result run();
    bool isRunning() const { return m_running; }
    // Ends a running handshake (disconnect, window closing); no message.
    void cancel();

    static constexpr int kProbeWaitMs = 150;
    static constexpr int kConfirmWaitMs = 1000;

  signals:
    void display(const QString &text); // TXT_Display
    void loadVisible(bool visible);    // FRtemp and Prbar
    void loadProgress(int value, int maximum);
    void portError(const QString &reason); // "Erreur port com"
    void timedOut(const QString &context); // "Time out sur interface Serie"

  private:
    Result runOnce();
    void stopRetryTimer();

    ChargerLink &m_link;
    QPointer<QTimer> m_timer1, m_timer2;
    bool m_running = false;
    bool m_restart = false;
    bool m_cancel = false;
};

} // namespace chlink
