#pragma once

#include "fetatlogic.h"
#include "fetatpoll.h"
#include "winkit/chargerwindow.h"

#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTimer;

namespace serialio {
class PollTimer;
}

namespace diag {

// The state panel: the raw and converted readings of the nine analogue inputs, the seven
// outputs and six push-buttons, the charger's clock; every output switched by hand, the
// beeper, the four potentiometers and, on a boost-type supply, the booster's PWM values.
//
// Every exchange goes through the window's gate: TmrEtat (the periodic refresh) is off while
// any of them runs and comes back after it only while "Mise à jour continue" is on, and a
// button or slider used during a refresh sends after it. Each reply is bounded by AbortTimer
// (10 s): when it expires the panel says "Time out sur interface Serie" and closes.
//
// The panel never leaves a path it switched on behind it: whichever way it closes, the
// charge, discharge and power paths it knows to be on are cut and the battery ground it
// lifted is put back, once no exchange is in progress.
class FEtat : public winkit::ChargerWindow {
    Q_OBJECT
  public:
    explicit FEtat(const winkit::Host &host);
    ~FEtat() override;

    static constexpr int kRefreshMs = 1000;
    static constexpr int kAbortMs = 10000;

    // ---- Routines and handlers, public so that tests call them directly ----
    // The opening exchange: command 0 and its ACK, then one refresh. Run once, as the window
    // is first shown (or by a test before that).
    void opening();
    void stRefresh();           // StRefresh
    void manualRefresh();       // CBmanuel
    void toggleAuto();          // CBAUTO
    void abortTimerTick();      // AbortTimer
    void clickOutput(Output o); // the seven output buttons
    void beep();                // CbBeep
    void setBooster(bool on);   // Check1

    // ---- State, for tests ----
    bool isAuto() const { return m_auto; }
    bool isBooster() const { return m_booster; }
    int outputState(Output o) const { return m_outputs[o]; }
    bool isBusy() const { return gate().busy(); }
    QTimer *refreshTimer() const;
    QTimer *abortTimer() const { return m_abortTimer; }

  protected:
    void showEvent(QShowEvent *e) override;
    void aboutToLeave() override;
    void leaveWhenIdle() override;

  private:
    enum Key { KeyTick, KeyOpen, KeyRefresh, KeyPot1, KeyPot2, KeyPot3, KeyPot4, KeyPwm, KeyClick };

    void buildUi();
    QWidget *buildAnalog();
    QWidget *buildOutputs();
    QWidget *buildButtons();
    QWidget *buildMisc();
    QWidget *buildPots();

    void showSample(const PanelSample &s);
    void setLamp(QLabel *l, Lamp lamp);
    // A line failure ends the panel: the message (unless it is closing or the port failure
    // was already reported), then it closes.
    void failed();
    void potMoved(int index, int value);
    void pwmMoved();
    // The switch-off of what the panel leaves on, with or without waiting for the answers.
    bool switchOff(bool wait);

    serialio::PollTimer *m_refresh = nullptr; // TmrEtat
    QTimer *m_abortTimer = nullptr;           // AbortTimer
    PanelLine m_line;
    int m_nextClick = KeyClick;

    // Panel state.
    bool m_opened = false;
    bool m_auto = false;
    bool m_booster = false;
    int m_pwmFrequency = 0;
    int m_pwmDelta = 0;
    OutputMemory m_outputs;
    bool m_switchedOff = false;

    std::array<QLabel *, kPanelChannels> m_raw{};
    std::array<QLabel *, kPanelChannels> m_value{};
    std::array<QPushButton *, kOutputs> m_outputButtons{};
    std::array<QLabel *, kOutputs> m_outputLamps{};
    std::array<QLabel *, 6> m_buttonLamps{}; // SW1..SW6
    QCheckBox *m_check1 = nullptr;
    QLabel *m_clock = nullptr;     // Label28
    QLabel *m_autoState = nullptr; // Label1
    std::array<QSlider *, 4> m_pots{};
    std::array<QLineEdit *, 4> m_potTexts{};
    QSlider *m_pwmFreq = nullptr;
    QSlider *m_pwmDeltaSlider = nullptr;
    QLabel *m_maxDuty = nullptr;       // Label12
    QLabel *m_pwmFreqLabel = nullptr;  // Label2
    QLabel *m_pwmDeltaLabel = nullptr; // Label4
};

} // namespace diag
