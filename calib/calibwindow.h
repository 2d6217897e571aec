#pragma once

#include "link/commands.h"
#include "winkit/chargerwindow.h"

#include <optional>
#include <utility>
#include <vector>

namespace serialio {
class PollTimer;
}

namespace calib {

// Output settings: each command with its level, sent with its answer byte.
using Settings = std::vector<std::pair<chlink::Cmd, quint8>>;

// What the calibration windows share: the opening exchange (outputs into the measuring
// state, stored values read), the periodic measurement, the EEPROM writes, and leaving.
//
// - The measurement timer never runs while another exchange of the window (a slider, SET,
//   a capture) waits for its reply, and comes back a full interval after it: a measurement
//   never takes the byte another exchange awaits.
// - A measurement's reads hold the user's clicks and keys until it is over (nothing else
//   runs in the middle of it) while the window keeps painting; every read is bounded, and
//   a charger that stops answering drops the measurement and says "Time out sur interface
//   Serie" once, not at every tick, until a measurement succeeds again.
// - Whichever way the window goes (its return button, its frame, the selector closing it),
//   the charger's paths it switched on go off once no exchange is in progress.
class CalibWindow : public winkit::ChargerWindow {
    Q_OBJECT
  public:
    explicit CalibWindow(const winkit::Host &host, QWidget *parent = nullptr);
    ~CalibWindow() override;

    // The timer's routine, public for tests: one measurement.
    void measureTick();
    // The opening exchange has run (from the first show) and the window measures or shows
    // its stored values.
    bool isOpened() const { return m_opened; }
    bool isMeasuring() const { return m_measuring; }
    serialio::PollTimer *measureTimer() const { return m_timer; }

  protected:
    // Keys of the requests a window queues on its gate.
    enum Key { KeyOpen, KeyTick, KeySlider1, KeySlider2, KeyPotText, KeySet, KeyCapture };
    enum class Reply { AnswerByte, Ack };

    // ---- Set up by the window's constructor ----
    // A periodic measurement every intervalMs, the timer named as the system names it.
    void setMeasurement(int intervalMs, const char *timerName);
    // Sent at opening before the measurement starts, and as the window goes.
    void setOpeningOutputs(Settings s) { m_openingOutputs = std::move(s); }
    void setLeavingOutputs(Settings s) { m_leavingOutputs = std::move(s); }

    // ---- What a window adds ----
    // After the opening outputs: the window's own opening reads. False when the charger did
    // not answer (the failure already reported).
    virtual bool opening() { return true; }
    // One measurement; false when a read failed (the gate's interrupted() tells a close).
    virtual bool measure() { return true; }
    // A measurement has completed.
    virtual void measured() {}

    // ---- Exchanges (inside an exchange of the gate) ----
    // The mean of n readings of a channel, floored; nothing when a read failed or the
    // window is closing.
    std::optional<int> readAverage(chlink::Cmd code, int n);
    // Each setting with its answer byte; false at the first one unanswered.
    bool sendOutputs(const Settings &settings);
    // One byte of a controller's EEPROM (1 master, 2 slave) with its reply; the table of
    // that controller takes the byte once the charger has answered when updateTable.
    bool writeEeprom(int target, int address, quint8 value, Reply reply, bool updateTable);
    // A byte of a controller's EEPROM; nothing on failure (reported).
    std::optional<quint8> readEeprom(int target, int address);
    // A button's exchange failed: the time-out box with what was being done, unless the
    // window is closing or the program ending.
    void reportFailure(const QString &context);
    // A value that cannot be stored: a message, nothing written.
    void refuse(const QString &text);

    void aboutToLeave() override;
    void leaveWhenIdle() override;
    void showEvent(QShowEvent *e) override;

  private:
    void runOpening();
    bool holdInput(bool held);

    serialio::PollTimer *m_timer = nullptr;
    Settings m_openingOutputs;
    Settings m_leavingOutputs;
    bool m_openingScheduled = false;
    bool m_opened = false;
    bool m_measuring = false;
    bool m_outputsTouched = false; // something was sent that the leaving outputs undo
    bool m_timeoutShown = false;   // the measurement's time-out has been said
};

} // namespace calib
