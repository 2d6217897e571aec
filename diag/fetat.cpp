#include "fetat.h"

#include "charger/eeprommap.h"
#include "link/messages.h"
#include "link/numtext.h"
#include "link/session.h"
#include "serial/polltimer.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <optional>

namespace diag {

using namespace chlink;
using serialio::ExchangeGate;

namespace {
const QColor kGreen(0x00, 0xFF, 0x00);
const QColor kRed(0xFF, 0x00, 0x00);
const QColor kGrey(0x80, 0x80, 0x80);

struct PotDef {
    const char *slider, *text, *label, *caption;
    Cmd command;
};
const PotDef kPots[4] = {
    {"Slider1", "TxIch", "LbIch", "I &Charge", CMD_POT_ICHRG},
    {"Slider2", "TxIdech", "LbIdechpot", "I &Decharge", CMD_POT_IDECH},
    {"Slider3", "TxVdelta", "LbVdeltapot", "V De&lta", CMD_POT_VDELTA},
    {"Slider4", "TxVdecal", "LbVdecal", "V Decala&ge", CMD_POT_OFFSET},
};

// SW1..SW6: indicator, name label.
const char *const kButtonLamps[6][2] = {
    {"Label23", "Label22"}, {"Label25", "Label24"}, {"Label27", "Label26"},
    {"Label7", "Label6"},   {"Label9", "Label8"},   {"Label11", "Label10"},
};

void lampStyle(QLabel *l) {
    l->setAutoFillBackground(true);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    l->setFixedSize(22, 18);
    QPalette p = l->palette();
    p.setColor(QPalette::Window, kGrey); // not read yet
    l->setPalette(p);
}

QLabel *readingLabel(QWidget *parent, const char *name, const QString &text) {
    auto *l = winkit::makeNamed<QLabel>(parent, name, text);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setMinimumWidth(70);
    return l;
}
} // namespace

FEtat::FEtat(const winkit::Host &host)
    : ChargerWindow(host), m_abortTimer(make<QTimer>("AbortTimer")),
      m_line(*host.session, *m_abortTimer, [this] { return isClosing(); }) {
    setObjectName(QStringLiteral("FEtat"));
    setWindowTitle(QStringLiteral("Panneaau de contrôle"));
    // The switch-off goes out before the opener may touch the port again.
    setOpenerBackWhenIdle(true);
    m_abortTimer->setSingleShot(true);
    m_abortTimer->setInterval(kAbortMs);
    connect(m_abortTimer, &QTimer::timeout, this, &FEtat::abortTimerTick);
    m_refresh = new serialio::PollTimer(
        gate(), KeyTick, kRefreshMs, [this] { return m_auto; }, [this] { stRefresh(); },
        QStringLiteral("TmrEtat"), this);
    buildUi();
}

FEtat::~FEtat() {
    m_refresh->stop();
    m_abortTimer->stop();
    // Deleted without having been left (no event loop any more): the switch-off still goes
    // out, without its answers.
    if (!m_switchedOff) switchOff(false);
}

QTimer *FEtat::refreshTimer() const {
    return m_refresh->timer();
}

// ---------------------------------------------------------------- building

void FEtat::buildUi() {
    auto *top = new QVBoxLayout(this);
    auto *upper = new QHBoxLayout;
    upper->addWidget(buildAnalog());
    auto *right = new QVBoxLayout;
    right->addWidget(buildOutputs());
    auto *rightLow = new QHBoxLayout;
    rightLow->addWidget(buildButtons());
    rightLow->addWidget(buildMisc());
    right->addLayout(rightLow);
    upper->addLayout(right);
    top->addLayout(upper);
    top->addWidget(buildPots());

    auto *bottom = new QHBoxLayout;
    auto *manual = make<QPushButton>("CBmanuel", QStringLiteral("Mise à &jour"));
    auto *autoButton = make<QPushButton>("CBAUTO", QStringLiteral("Mise à jour c&ontinue"));
    m_autoState = make<QLabel>("Label1", QStringLiteral("Auto =  off"));
    m_autoState->setMinimumWidth(90);
    auto *close = make<QPushButton>("CBfermeretat", QStringLiteral("&Fermer"));
    for (QPushButton *b : {manual, autoButton, close})
        b->setMinimumHeight(30);
    bottom->addWidget(manual);
    bottom->addWidget(autoButton);
    bottom->addWidget(m_autoState);
    bottom->addStretch();
    bottom->addWidget(close);
    top->addLayout(bottom);

    connect(manual, &QPushButton::clicked, this, &FEtat::manualRefresh);
    connect(autoButton, &QPushButton::clicked, this, &FEtat::toggleAuto);
    connect(close, &QPushButton::clicked, this, &FEtat::leave);
}

QWidget *FEtat::buildAnalog() {
    auto *box = make<QGroupBox>("Frame1", QStringLiteral("ports analogiques"));
    auto *g = new QGridLayout(box);
    for (int i = 0; i < kPanelChannels; ++i) {
        const PanelChannel &c = panelChannels()[size_t(i)];
        g->addWidget(winkit::makeNamed<QLabel>(box, c.nameLabel, QLatin1String(c.caption)), i, 0);
        m_raw[size_t(i)] = readingLabel(box, c.rawLabel, QString());
        m_value[size_t(i)] = readingLabel(box, c.valueLabel, QLatin1String(c.valueCaption));
        g->addWidget(m_raw[size_t(i)], i, 1);
        g->addWidget(m_value[size_t(i)], i, 2);
    }
    g->setRowStretch(kPanelChannels, 1);
    return box;
}

QWidget *FEtat::buildOutputs() {
    auto *box = make<QGroupBox>("Frame2", QStringLiteral("Port digitaux"));
    auto *g = new QGridLayout(box);
    for (int i = 0; i < kOutputs; ++i) {
        const OutputDef &d = outputDefs()[size_t(i)];
        auto *b = m_outputButtons[size_t(i)] =
            winkit::makeNamed<QPushButton>(box, d.button, QLatin1String(d.caption));
        b->setMinimumWidth(96);
        auto *lamp = m_outputLamps[size_t(i)] = winkit::makeNamed<QLabel>(box, d.indicator);
        lampStyle(lamp);
        g->addWidget(b, i % 4, 2 * (i / 4));
        g->addWidget(lamp, i % 4, 2 * (i / 4) + 1);
        connect(b, &QPushButton::clicked, this, [this, o = d.output] { clickOutput(o); });
    }
    return box;
}

QWidget *FEtat::buildButtons() {
    auto *box = make<QGroupBox>("Frame4", QStringLiteral("Boutons poussoirs"));
    auto *g = new QGridLayout(box);
    for (int i = 0; i < 6; ++i) {
        auto *lamp = m_buttonLamps[size_t(i)] = winkit::makeNamed<QLabel>(box, kButtonLamps[i][0]);
        lampStyle(lamp);
        auto *name = winkit::makeNamed<QLabel>(box, kButtonLamps[i][1],
                                               QStringLiteral("SW") + QString::number(i + 1));
        g->addWidget(lamp, i % 3, 2 * (i / 3));
        g->addWidget(name, i % 3, 2 * (i / 3) + 1);
    }
    return box;
}

QWidget *FEtat::buildMisc() {
    auto *box = make<QGroupBox>("Frame3", QStringLiteral("Heure et Divers"));
    auto *l = new QVBoxLayout(box);
    m_check1 = winkit::makeNamed<QCheckBox>(box, "Check1", QStringLiteral("Type &Alim Boost"));
    auto *beepButton = winkit::makeNamed<QPushButton>(box, "CbBeep", QStringLiteral("&Beeper"));
    m_clock = winkit::makeNamed<QLabel>(box, "Label28", QStringLiteral("H , M , S"));
    m_clock->setFrameShape(QFrame::Panel);
    m_clock->setFrameShadow(QFrame::Sunken);
    m_clock->setAlignment(Qt::AlignCenter);
    l->addWidget(m_check1);
    l->addWidget(beepButton);
    l->addWidget(m_clock);
    connect(m_check1, &QCheckBox::toggled, this, &FEtat::setBooster);
    connect(beepButton, &QPushButton::clicked, this, &FEtat::beep);
    return box;
}

QWidget *FEtat::buildPots() {
    auto *box = make<QGroupBox>("Frame5", QStringLiteral("Potentiomètres"));
    auto *g = new QGridLayout(box);
    for (int i = 0; i < 4; ++i) {
        const PotDef &d = kPots[i];
        auto *caption = winkit::makeNamed<QLabel>(box, d.label, QLatin1String(d.caption));
        g->addWidget(caption, i, 0);
        auto *s = m_pots[size_t(i)] = winkit::makeNamed<QSlider>(box, d.slider, Qt::Horizontal);
        s->setRange(0, 255);
        caption->setBuddy(s);
        auto *t = m_potTexts[size_t(i)] =
            winkit::makeNamed<QLineEdit>(box, d.text, QStringLiteral("000"));
        t->setReadOnly(true);
        t->setAccessibleName(QString::fromLatin1(d.caption).remove(QLatin1Char('&')) +
                             QStringLiteral(" : valeur"));
        t->setMinimumWidth(120);
        g->addWidget(s, i, 1);
        g->addWidget(t, i, 2);
        connect(s, &QSlider::valueChanged, this, [this, i](int v) { potMoved(i, v); });
    }
    m_pwmFreqLabel = winkit::makeNamed<QLabel>(box, "Label2", QStringLiteral("P&WM Freq"));
    m_pwmFreq = winkit::makeNamed<QSlider>(box, "SliderPWMFreq", Qt::Horizontal);
    m_pwmFreq->setRange(40, 255);
    m_maxDuty = winkit::makeNamed<QLabel>(box, "Label12", QStringLiteral("MAX : 1023"));
    m_pwmDeltaLabel = winkit::makeNamed<QLabel>(box, "Label4", QStringLiteral("PWM D&elta"));
    m_pwmDeltaSlider = winkit::makeNamed<QSlider>(box, "SliderPWMDelta", Qt::Horizontal);
    m_pwmDeltaSlider->setRange(1, 1023);
    m_pwmFreqLabel->setBuddy(m_pwmFreq);
    m_pwmDeltaLabel->setBuddy(m_pwmDeltaSlider);
    g->addWidget(m_pwmFreqLabel, 4, 0);
    g->addWidget(m_pwmFreq, 4, 1);
    g->addWidget(m_maxDuty, 4, 2);
    g->addWidget(m_pwmDeltaLabel, 5, 0);
    g->addWidget(m_pwmDeltaSlider, 5, 1);
    g->setColumnStretch(1, 1);
    for (QWidget *w : {static_cast<QWidget *>(m_pwmFreq), static_cast<QWidget *>(m_pwmDeltaSlider),
                       static_cast<QWidget *>(m_maxDuty), static_cast<QWidget *>(m_pwmFreqLabel),
                       static_cast<QWidget *>(m_pwmDeltaLabel)})
        w->hide(); // booster mode only
    connect(m_pwmFreq, &QSlider::valueChanged, this, [this](int v) {
        m_pwmFrequency = v;
        m_maxDuty->setText(maxDutyText(v));
        pwmMoved();
    });
    connect(m_pwmDeltaSlider, &QSlider::valueChanged, this, [this](int v) {
        m_pwmDelta = v;
        pwmMoved();
    });
    return box;
}

// ---------------------------------------------------------------- exchanges

void FEtat::showEvent(QShowEvent *e) {
    ChargerWindow::showEvent(e);
    if (m_opened) return;
    m_opened = true;
    // Once the window is on screen.
    QTimer::singleShot(0, this, [this] { gate().request(KeyOpen, [this] { opening(); }); });
}

void FEtat::opening() {
    m_opened = true;
    const ExchangeGate::Exchange x(gate());
    if (!panelInit(m_line)) {
        failed();
        return;
    }
    stRefresh();
}

void FEtat::stRefresh() {
    const ExchangeGate::Exchange x(gate());
    const PanelSample s = readPanel(m_line);
    showSample(s);
    if (s.end != PanelEnd::Done) failed();
}

void FEtat::showSample(const PanelSample &s) {
    using charger::Status;
    for (int i = 0; i < kPanelChannels; ++i) {
        const auto &raw = s.raw[size_t(i)];
        if (!raw) break;
        m_raw[size_t(i)]->setText(numText(*raw));
        const auto v = convertedText(panelChannels()[size_t(i)].command, *raw, session().tableA(),
                                     session().tableB());
        if (v) m_value[size_t(i)]->setText(*v);
    }
    const auto lamp = [this](Output o) { return m_outputLamps[size_t(o)]; };
    if (s.outputs) {
        const quint8 r = *s.outputs;
        setLamp(lamp(Output::Led), statusLamp(Status::LedOn, r));
        m_outputs.set(Output::Led, charger::isSet(Status::LedOn, r));
        // The doubler's remembered state stays what its button last set.
        setLamp(lamp(Output::CutDoubler), statusLamp(Status::DoublerCut, r));
        setLamp(lamp(Output::Fan), statusLamp(Status::FanOn, r));
        m_outputs.set(Output::Fan, charger::isSet(Status::FanOn, r));
    }
    if (s.port) {
        const quint8 r = *s.port;
        const std::pair<Output, Status> cuts[] = {{Output::CutDischarge, Status::DischargeCut},
                                                  {Output::CutCharge, Status::ChargeCut},
                                                  {Output::CutPower, Status::PowerCut}};
        for (const auto &[o, st] : cuts) {
            setLamp(lamp(o), statusLamp(st, r));
            m_outputs.set(o, charger::isSet(st, r));
        }
    }
    if (s.clock)
        m_clock->setText(panelClockText(s.clock->hours, s.clock->minutes, s.clock->seconds));
    if (s.buttons)
        for (int n = 1; n <= 5; ++n)
            setLamp(m_buttonLamps[size_t(n - 1)], statusLamp(charger::buttonStatus(n), *s.buttons));
    if (s.sw6) setLamp(m_buttonLamps[5], statusLamp(charger::buttonStatus(6), *s.sw6));
}

void FEtat::setLamp(QLabel *l, Lamp lamp) {
    QPalette p = l->palette();
    p.setColor(QPalette::Window, lamp == Lamp::Green ? kGreen : kRed);
    l->setPalette(p);
}

void FEtat::failed() {
    if (m_line.end() == PanelEnd::Interrupted || isClosing()) return;
    m_auto = false;
    m_refresh->stop();
    const LinkError e = session().error();
    const bool reported = m_line.end() == PanelEnd::LinkFailed && e == LinkError::PortFailed;
    if (!reported && !session().isShuttingDown())
        timeoutBox(this, QStringLiteral("Tableau de bord : pas de réponse du chargeur à la "
                                        "commande %1")
                             .arg(m_line.lastCommand()));
    close();
}

void FEtat::manualRefresh() {
    gate().request(KeyRefresh, [this] { stRefresh(); });
}

void FEtat::toggleAuto() {
    if (isClosing()) return;
    m_auto = !m_auto;
    m_autoState->setText(m_auto ? QStringLiteral("Auto = on") : QStringLiteral("Auto = off"));
    if (m_auto)
        m_refresh->rearm(); // now, or when the exchange in progress ends
    else
        m_refresh->stop();
}

void FEtat::abortTimerTick() {
    m_line.expire();
}

void FEtat::clickOutput(Output o) {
    // Every click counts, in order: each one has its own place in the queue.
    gate().request(m_nextClick++, [this, o] {
        const OutputStep step = outputStep(o, m_outputs[o]);
        const OutputDef &d = outputDef(o);
        QByteArray args(1, char(step.argument));
        if (o == Output::CutDoubler)
            args = boosterArguments(step.argument, m_booster, m_pwmFrequency, m_pwmDelta);
        setLamp(m_outputLamps[size_t(o)], step.lamp);
        m_outputs.set(o, step.newState);
        if (!panelSet(m_line, d.command, args)) failed();
    });
}

void FEtat::beep() {
    gate().request(m_nextClick++, [this] {
        if (!panelSet(m_line, CMD_BEEP, QByteArray(1, char(10)))) failed();
    });
}

void FEtat::potMoved(int index, int value) {
    gate().request(KeyPot1 + index, [this, index, value] {
        int coefficient = 0;
        if (index == 0)
            coefficient = charger::value(session().tableB(), charger::slave::kPotCharge);
        if (index == 1)
            coefficient = charger::value(session().tableB(), charger::slave::kPotDischarge);
        m_potTexts[size_t(index)]->setText(potText(value, coefficient));
        if (!panelSet(m_line, kPots[index].command, QByteArray(1, char(value)))) failed();
    });
}

void FEtat::pwmMoved() {
    gate().request(KeyPwm, [this] {
        const QByteArray args = boosterArguments(doublerArgument(m_outputs[Output::CutDoubler]),
                                                 true, m_pwmFrequency, m_pwmDelta);
        if (!panelSet(m_line, CMD_BOOSTER, args)) failed();
    });
}

void FEtat::setBooster(bool on) {
    m_booster = on;
    if (m_check1->isChecked() != on) m_check1->setChecked(on);
    for (QWidget *w : {static_cast<QWidget *>(m_pwmFreq), static_cast<QWidget *>(m_pwmDeltaSlider),
                       static_cast<QWidget *>(m_maxDuty), static_cast<QWidget *>(m_pwmFreqLabel),
                       static_cast<QWidget *>(m_pwmDeltaLabel)})
        w->setVisible(on);
    m_outputButtons[size_t(Output::CutDoubler)]->setText(on ? QStringLiteral("BOOSTER")
                                                            : QStringLiteral("CUT VDBL"));
}

// ---------------------------------------------------------------- leaving

void FEtat::aboutToLeave() {
    m_auto = false;
    m_refresh->stop(); // AbortTimer still bounds the reply being read
    hide();
}

void FEtat::leaveWhenIdle() {
    m_abortTimer->stop();
    const bool confirmed = switchOff(true);
    if (!confirmed && !session().isShuttingDown()) {
        showOpener();
        timeoutBox(host().opener, QStringLiteral("Fermeture du tableau de bord : le chargeur n'a "
                                                 "pas confirmé l'arrêt des sorties"));
    }
}

bool FEtat::switchOff(bool wait) {
    m_switchedOff = true;
    const std::vector<SwitchOff> offs = switchOffOnLeaving(m_outputs);
    if (offs.empty() || !session().isOpen()) return true;
    std::optional<ExchangeGate::Exchange> x;
    if (wait) x.emplace(gate());
    bool answered = wait;
    for (const SwitchOff &s : offs) {
        if (!session().isOpen()) return false;
        if (answered)
            answered = setOutput(session(), s.command, s.argument);
        else
            session().command(s.command, {s.argument});
    }
    if (!answered) session().flush();
    return answered || !wait;
}

} // namespace diag
