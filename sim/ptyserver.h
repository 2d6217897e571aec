#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <deque>

class QSocketNotifier;
class QTimer;

namespace sim {

class VirtualCharger;

// Serves a virtual charger on a pseudo-terminal: the PC side opens slavePath() as a serial
// port. The line may be paced at the byte time of the baud rate (10 bits a byte), both ways:
// the charger's answers leave at that rate, and the PC's bytes reach the charger as a UART
// delivers them, each one byte time after the previous one (or after it was written, when
// the line was idle).
class PtyServer : public QObject {
    Q_OBJECT
  public:
    explicit PtyServer(VirtualCharger *charger, QObject *parent = nullptr);
    ~PtyServer() override;

    // Creates the pseudo-terminal; false with a reason when the system refuses.
    bool start(QString *reason = nullptr);
    QString slavePath() const { return m_slavePath; }

    // 0: no pacing, bytes pass at once both ways; otherwise the baud rate whose byte time
    // paces the line.
    void setPacing(int baud);
    // Paces at the charger's own line speed (9600, or 19200 in the monitor stream and the
    // boot loader).
    void setPacingFollowsCharger(bool follow);
    // The baud rate pacing the line now (0: none).
    int pacing() const;

    // With a strict line, bytes pass only when the PC's port is set to the charger's line
    // speed, as on a real line: otherwise the charger drops what it receives and the PC
    // reads garbage (0xF8 for every byte sent).
    void setStrictBaud(bool strict) { m_strictBaud = strict; }
    // The speed the PC set on its side of the pseudo-terminal (0 when unknown).
    int lineBaud() const;

    // Closes the master side: the PC's port sees its device vanish.
    void vanish();
    bool isServing() const { return m_fd >= 0; }

  signals:
    void vanished();

  private:
    // Bytes the PC wrote, read from the pseudo-terminal at one moment, not yet delivered.
    struct Arrival {
        QByteArray bytes;
        qint64 atNs = 0;
        bool garbled = false; // the PC's port was not at the charger's line speed
    };
    void onReadable();
    void deliver();
    void onTransmit(const QByteArray &bytes);
    void pump();
    bool speedsDiffer() const;

    VirtualCharger *m_charger;
    int m_fd = -1;
    int m_keepOpen = -1; // our own slave fd, so that a PC closing its port is no hang-up
    QString m_slavePath;
    QSocketNotifier *m_notifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr; // while the pseudo-terminal is full
    static constexpr qsizetype kMaxBacklog = 64 * 1024;
    static constexpr int kPaceGrainMs = 3;
    QTimer *m_paceTimer = nullptr;
    QByteArray m_out;
    int m_pacedBaud = 0;
    bool m_followCharger = false;
    bool m_strictBaud = false;
    QElapsedTimer m_paceClock;
    qint64 m_nextByteNs = 0; // when the line may take its next byte
    // The PC's bytes on their way to the charger. While more than kMaxInbound wait, the
    // pseudo-terminal is not read: the PC's writes then wait, as on a full serial driver.
    static constexpr qsizetype kMaxInbound = 4096;
    QTimer *m_deliverTimer = nullptr;
    std::deque<Arrival> m_in;
    qsizetype m_inBytes = 0;
    qint64 m_lastDeliveredNs = 0; // when the charger took the PC's last byte
};

} // namespace sim
