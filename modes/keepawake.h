#pragma once

#include <QObject>
#include <QString>
#include <memory>

// Keeps the computer from sleeping while a run is in progress: a charge left unattended
// overnight must not stop because the PC went to sleep. On Linux it takes a "sleep" inhibit
// lock from the login manager over D-Bus and holds the returned descriptor until release();
// on Windows it uses the thread execution state. Where neither is available nothing happens.
namespace modes {

class KeepAwake : public QObject {
    Q_OBJECT
  public:
    explicit KeepAwake(QObject *parent = nullptr);
    ~KeepAwake() override;

    // Asks the system not to sleep; why is shown by the system's inhibitor list.
    void acquire(const QString &why);
    void release();
    bool wanted() const { return m_wanted; }
    // True once the system granted the lock (Linux: the descriptor arrived).
    bool held() const;

  signals:
    // The system would not keep the computer awake (no login manager, lock refused): the run
    // goes on, but the PC may sleep in the middle of it.
    void refused(const QString &reason);

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
    bool m_wanted = false;
};

} // namespace modes
