#pragma once

#include <QObject>

class QSocketNotifier;

namespace cli {

// Ctrl-C (SIGINT) and SIGTERM turned into an event: the signal handler only writes a byte
// to a pipe (async-signal-safe); the event loop of whatever wait is running reads it,
// raises the flag and emits raised(), so that the work stops at its next safe point
// instead of dying half-way. One at a time; the default handlers come back when it goes.
class Interrupt : public QObject {
    Q_OBJECT
  public:
    explicit Interrupt(QObject *parent = nullptr);
    ~Interrupt() override;

    bool isRaised() const { return m_raised; }
    int signalNumber() const { return m_signal; }

  signals:
    void raised();

  private:
    void onReadable();

    QSocketNotifier *m_notifier = nullptr;
    bool m_raised = false;
    int m_signal = 0;
};

} // namespace cli
