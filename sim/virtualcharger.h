#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>

namespace sim {

// A charger as seen from its serial line: feed it the bytes the PC writes, and it emits
// the bytes it answers. It answers the probe, the confirmation and every command with
// the reply kind the program expects.
class VirtualCharger : public QObject {
    Q_OBJECT
  public:
    explicit VirtualCharger(QObject *parent = nullptr);

    // Bytes from the PC.
    void receive(const QByteArray &bytes);

    // ---- State the tests may look at or set ----
    QByteArray eepromMaster = QByteArray(256, char(0xFF)); // internal EEPROM of the master
    QByteArray eepromSlave = QByteArray(256, char(0xFF));  // internal EEPROM of the slave
    bool slavePresent = true;

    // Charger time in seconds since power-on (speed factor applied).
    double chargerSeconds() const;
    void setSpeed(double factor);

  signals:
    void transmit(const QByteArray &bytes);

  private:
    void onByte(quint8 b);
    void execute();
    void reply(const QByteArray &bytes) { emit transmit(bytes); }
    void frame(const QByteArray &data);

    enum class State { Idle, Code, Args };
    State m_state = State::Idle;
    quint8 m_code = 0;
    int m_argsWanted = 0;
    QByteArray m_args;

    QElapsedTimer m_wall;
    double m_speed = 1.0;
    double m_offset = 0; // charger seconds at the last speed change
    qint64 m_wallAtChange = 0;
};

// The defaults a new charger leaves the factory with: calibrated constants and an
// identification text.
QByteArray defaultMasterEeprom();
QByteArray defaultSlaveEeprom();

} // namespace sim
