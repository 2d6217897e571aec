#include "mescapa.h"

#include "desktop/notify.h"
#include "link/messages.h"
#include "link/numtext.h"
#include "logfolder.h"
#include "runchart.h"
#include "runframes.h"

#include <QDir>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

namespace modes {

using namespace chlink;

namespace {
const QString kChargeSetPrefix = QStringLiteral("COURANT DE CHARGE =");
const QString kDischargeSetPrefix = QStringLiteral("COURANT DE DECHARGE =");
// "Arret"'s outputs, and RETOUR's, which also brings both currents to zero.
const Settings kStopOutputs = {
    {CMD_CUT_POWER, 0}, {CMD_CUT_DISCHARGE, 0}, {CMD_CUT_CHARGE, 0}, {CMD_GROUND_BAT, 1}};
Settings leaveOutputs() {
    Settings s = kStopOutputs;
    s.emplace_back(CMD_POT_ICHRG, 0);
    s.emplace_back(CMD_POT_IDECH, 0);
    return s;
}
} // namespace

MesCapa::MesCapa(const winkit::Host &host, QWidget *parent)
    : winkit::ChargerWindow(host, parent), m_decimalPoint(localeDecimalPoint()) {
    setObjectName(QStringLiteral("MesCapa"));
    setWindowTitle(QStringLiteral("MESURE CAPACITE BATTERIE"));
    // The outputs go off before the main window comes back and may reconnect.
    setOpenerBackWhenIdle(true);

    m_stepTimer = new QTimer(this);
    m_stepTimer->setObjectName(QStringLiteral("Timerchargeur"));
    m_stepTimer->setSingleShot(true);
    m_stepTimer->setInterval(2000);
    connect(m_stepTimer, &QTimer::timeout, this, &MesCapa::tick);
    // Kept with its flag as the charger's other windows have it; no step waits on it.
    m_timer2 = new QTimer(this);
    m_timer2->setObjectName(QStringLiteral("Timerch2"));
    m_timer2->setInterval(100);
    connect(m_timer2, &QTimer::timeout, this, [this] { m_timer2Flag = true; });

    build();
    setState(QStringLiteral("Prêt"));
    showFan();
}

MesCapa::~MesCapa() {
    m_stepTimer->stop();
    m_log.close();
    // Deleted with the process going and no event loop left: the outputs still go off,
    // without waiting for their answers.
    if (m_running && session().isOpen()) {
        for (const auto &[code, value] : kStopOutputs)
            session().command(code, {value});
        session().flush();
    }
}

// ---------------------------------------------------------------- window

void MesCapa::build() {
    // Left: clock, state, the process's numbers, buttons.
    static const char *const clockNames[3] = {"LbH", "LbM", "LbS"};
    QGroupBox *clock = clockFrame(this, "FrClock", clockNames, m_clock);
    QVBoxLayout *stateColumn = nullptr;
    QGroupBox *state =
        stateFrame(this, "FrEtat", "LbEtat", 1.2, QStringLiteral("Preparation Ch/Decharge"),
                   &m_state, &stateColumn);
    stateColumn->addWidget(sleepNote(this, m_awake));

    auto *numbers = new QGridLayout;
    const auto textBox = [&](const char *caption, const char *text, const char *name, int row,
                             const QString &initial) {
        auto *c = make<QLabel>(caption, QString::fromUtf8(text));
        numbers->addWidget(c, row, 0);
        auto *e = make<QLineEdit>(name, initial);
        c->setBuddy(e);
        e->setMaximumWidth(60);
        numbers->addWidget(e, row, 1);
        return e;
    };
    m_cyclesText = textBox("LbNbrCycles", "Nombre de &Cycles", "TxNbrCycles", 0, "1");
    m_cellsText = textBox("LbNbElem", "Nombre d'é&léments", "TxNbElem", 1, QString());
    m_modeText = textBox("LbMode", "&Mode", "TxMode", 2, "0");

    const auto button = [this](const char *name, const QString &text) {
        auto *b = make<QPushButton>(name, text);
        b->setMinimumHeight(30);
        return b;
    };
    m_start = button("CBstart", QStringLiteral("&Demarrage"));
    m_stop = button("CBStop", QStringLiteral("&Arret"));
    m_quit = button("CbRetour", QStringLiteral("&RETOUR"));
    connect(m_start, &QPushButton::clicked, this, [this] { start(); });
    connect(m_stop, &QPushButton::clicked, this, [this] { stop(); });
    connect(m_quit, &QPushButton::clicked, this, [this] { leave(); });

    auto *left = new QVBoxLayout;
    left->addWidget(clock);
    left->addWidget(state);
    left->addLayout(numbers);
    left->addWidget(m_start);
    left->addWidget(m_stop);
    left->addWidget(m_quit);
    left->addStretch();

    // Middle: the live values and the settings.
    const auto reading = [this](QGridLayout *g, int row, const char *caption, const char *text,
                                const char *count, const char *value, QLabel **countOut,
                                QLabel **valueOut) {
        QLabel *c = make<QLabel>(caption, QString::fromUtf8(text));
        g->addWidget(c, row, 0);
        QLabel *n = *countOut = make<QLabel>(count, QStringLiteral("0"));
        n->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        n->setMinimumWidth(56);
        g->addWidget(n, row, 1);
        if (value) {
            QLabel *v = *valueOut = make<QLabel>(value);
            v->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            v->setMinimumWidth(72);
            g->addWidget(v, row, 2);
        }
        return c;
    };
    auto *charge = make<QGroupBox>("Frchrage", QStringLiteral("PARAMETRES CHARGE ET DECHARGE"));
    auto *cg = new QGridLayout(charge);
    reading(cg, 0, "Label19", "I Charge", "LCadIchrg", "LbIchrg", &m_ichrgCount, &m_ichrgValue);
    reading(cg, 1, "LbIDChrg", "I Dech.", "LbCadIDech", "LbIDech", &m_idechCount, &m_idechValue);
    reading(cg, 2, "Label20", "V Batterie", "LbCadVbat", "LbVbat", &m_vbatCount, &m_vbatValue);
    m_deltaCaption =
        reading(cg, 3, "Label23", "VDelta", "LbCadVDelta", nullptr, &m_deltaCount, nullptr);
    cg->addWidget(make<QLabel>("LbChrgtot", QStringLiteral("Cour Total")), 4, 0);
    m_chargeTotal = make<QLabel>("LbICTot", QStringLiteral("C = 0mAh"));
    m_dischargeTotal = make<QLabel>("LbIDTot", QStringLiteral("D = 0mAh"));
    m_chargeTotal->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_dischargeTotal->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cg->addWidget(m_chargeTotal, 4, 1, 1, 2);
    cg->addWidget(m_dischargeTotal, 5, 1, 1, 2);
    cg->addWidget(make<QLabel>("LbRes", QStringLiteral("Resistance")), 6, 0);
    m_resistance = make<QLabel>("LbRchrg", QStringLiteral(" 0 mR"));
    m_resistance->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cg->addWidget(m_resistance, 6, 1, 1, 2);

    auto *supplies = make<QGroupBox>("FrAlim", QStringLiteral("PARAMETRES ALIMENTATIONS"));
    auto *sg = new QGridLayout(supplies);
    reading(sg, 0, "Label13", "V ALIMENTATION", "LbCadAlim", "LbVAlim", &m_supplyCounts[0],
            &m_supplyValues[0]);
    reading(sg, 1, "Label14", "V DOUBLEUR", "LbCadDbl", "LbVDbl", &m_supplyCounts[1],
            &m_supplyValues[1]);
    reading(sg, 2, "Label15", "TEMPERATURE", "LbCadTemp", "LbTemp", &m_supplyCounts[2],
            &m_supplyValues[2]);
    m_fan = make<QLabel>("Dspvent", QStringLiteral("Ventilateur"));
    m_fan->setAlignment(Qt::AlignCenter);
    m_fan->setAutoFillBackground(true);
    m_fan->setMinimumHeight(22);
    m_fan->setFrameShape(QFrame::Panel);
    m_fan->setFrameShadow(QFrame::Sunken);
    sg->addWidget(m_fan, 3, 0, 1, 3);

    auto *settings = make<QGroupBox>("FrReglages", QStringLiteral("REGLAGES"));
    auto *rg = new QVBoxLayout(settings);
    m_chargeSetText = make<QLabel>("Label12", QStringLiteral("COURANT DE CHARGE = 0.00 A"));
    m_chargeSlider = make<QSlider>("SlIChrg", Qt::Horizontal);
    m_dischargeSetText = make<QLabel>("Label25", QStringLiteral("COURANT DE DECHARGE = 0.00 A"));
    m_dischargeSlider = make<QSlider>("SlIDech", Qt::Horizontal);
    for (QSlider *s : {m_chargeSlider, m_dischargeSlider})
        s->setRange(0, 255);
    // Their captions show the setpoints as they move: the sliders' names are said apart.
    m_chargeSlider->setAccessibleName(QStringLiteral("Courant de charge"));
    m_dischargeSlider->setAccessibleName(QStringLiteral("Courant de décharge"));
    rg->addWidget(m_chargeSetText);
    rg->addWidget(m_chargeSlider);
    rg->addWidget(m_dischargeSetText);
    rg->addWidget(m_dischargeSlider);
    connect(m_chargeSlider, &QSlider::valueChanged, this, &MesCapa::onChargeSlider);
    connect(m_dischargeSlider, &QSlider::valueChanged, this, &MesCapa::onDischargeSlider);

    auto *middle = new QVBoxLayout;
    middle->addWidget(charge);
    middle->addWidget(supplies);
    middle->addWidget(settings);
    middle->addStretch();

    // Right: the whole process on two charts.
    m_chart = make<RunChart>("ChartBatterie", QStringLiteral("Batterie"), QStringLiteral("V"),
                             QStringLiteral("A"));
    m_curveVbat =
        m_chart->addCurve(QStringLiteral("V Batterie"), RunChart::Left, QColor(0x1f, 0x5f, 0xbf));
    m_curveIchrg =
        m_chart->addCurve(QStringLiteral("I Charge"), RunChart::Right, QColor(0xc0, 0x30, 0x30));
    m_curveIdech =
        m_chart->addCurve(QStringLiteral("I Dech."), RunChart::Right, QColor(0x80, 0x40, 0xb0));
    m_deltaChart = make<RunChart>("ChartDelta", QStringLiteral("Delta et température"),
                                  QStringLiteral("points"), QStringLiteral("°C"));
    m_curveDelta =
        m_deltaChart->addCurve(QStringLiteral("V Delta"), RunChart::Left, QColor(0x20, 0x90, 0x40));
    m_curveTemp = m_deltaChart->addCurve(QStringLiteral("Température"), RunChart::Right,
                                         QColor(0xd0, 0x80, 0x10));
    auto *charts = new QVBoxLayout;
    charts->addWidget(m_chart, 1);
    charts->addWidget(m_deltaChart, 1);
    m_phases = make<QLabel>("LbPhases", QStringLiteral("Phases :"));
    m_phases->setWordWrap(true);
    charts->addWidget(m_phases);

    auto *top = new QHBoxLayout;
    top->addLayout(left);
    top->addLayout(middle);
    top->addLayout(charts, 1);
    auto *outer = new QVBoxLayout(this);
    outer->addLayout(top, 1);
    m_logLabel = make<QLabel>("LbJournal", QStringLiteral("Journal : aucun"));
    m_logLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_logLabel->setWordWrap(true);
    outer->addWidget(m_logLabel);
    resize(1160, 660);
}

void MesCapa::setState(const QString &text) {
    m_state->setText(text);
}

void MesCapa::showFan() {
    // Red during an overheat, green with the fan on, grey with it off.
    const QColor c = m_overheat        ? QColor(255, 0, 0)
                     : m_watch.fanOn() ? QColor(0, 255, 0)
                                       : QColor(128, 128, 128);
    QPalette p = m_fan->palette();
    p.setColor(QPalette::Window, c);
    m_fan->setPalette(p);
}

void MesCapa::markPhase(const QString &name) {
    m_phaseMarks << QStringLiteral("%1 min %2").arg(qint64(m_elapsed / 60)).arg(name);
    m_phases->setText(QStringLiteral("Phases : ") + m_phaseMarks.join(QStringLiteral(" · ")));
}

void MesCapa::plot() {
    const double t = m_elapsed;
    m_chart->append(m_curveVbat, t, m_vbat.value);
    m_chart->append(m_curveIchrg, t, m_ichrg.value);
    m_chart->append(m_curveIdech, t, m_idech.value);
    m_deltaChart->append(m_curveDelta, t, double(m_vdeltaCad));
    m_deltaChart->append(m_curveTemp, t, m_temper.value);
}

// ---------------------------------------------------------------- sliders

void MesCapa::onChargeSlider(int v) {
    m_chargeSetText->setText(setpointText(
        kChargeSetPrefix, v, charger::value(session().tableB(), charger::slave::kPotCharge)));
    m_chargeSet = v;
    m_pendingCharge = v;
    if (m_running)
        session().wake(); // the process sends it at its wait
    else
        gate().request(KeySliders, [this] { sendSliders(); });
}

void MesCapa::onDischargeSlider(int v) {
    m_dischargeSetText->setText(setpointText(
        kDischargeSetPrefix, v, charger::value(session().tableB(), charger::slave::kPotDischarge)));
    m_dischargeSet = v;
    m_pendingDischarge = v;
    if (m_running)
        session().wake();
    else
        gate().request(KeySliders, [this] { sendSliders(); });
}

bool MesCapa::sendSliders() {
    if (m_pendingCharge) {
        const int v = *std::exchange(m_pendingCharge, std::nullopt);
        if (!send(CMD_POT_ICHRG, quint8(v))) return false;
    }
    if (m_pendingDischarge) {
        const int v = *std::exchange(m_pendingDischarge, std::nullopt);
        if (!send(CMD_POT_IDECH, quint8(v))) return false;
    }
    return true;
}

// ---------------------------------------------------------------- start, stop, leave

void MesCapa::start() {
    if (m_running || isClosing()) return;
    const auto cells = parseCellCount(m_cellsText->text());
    if (!cells) {
        errorBox(this, QStringLiteral("Nombre d'éléments manquant : entrez le nombre d'éléments "
                                      "de la batterie (plus de 0)."));
        return;
    }
    const auto cycles = capa::parseCycles(m_cyclesText->text());
    if (!cycles) {
        errorBox(this, QStringLiteral("Nombre de Cycles : entrez un nombre entier de 0 à %1 "
                                      "(0 compte pour 1).")
                           .arg(capa::kMaxCycles));
        return;
    }
    if (charger::value(session().tableB(), channel(Quantity::Vbat).calibration) == 0) {
        errorBox(this, QStringLiteral("Calibration V Batterie manquante (mot 6-7 de l'EEPROM "
                                      "esclave à zéro) : la fin de décharge ne peut pas être "
                                      "détectée."));
        return;
    }
    // Without a current the charge never ends on its delta drop, nor the discharge at its
    // cell voltage: the process would run for ever.
    if (m_chargeSet == 0 || m_dischargeSet == 0) {
        errorBox(this, QStringLiteral("Réglez le courant de charge et le courant de décharge "
                                      "(au-dessus de 0) avant le démarrage."));
        return;
    }
    QString why;
    const QString folder = enterLogFolder(QStringLiteral("c:\\log"), QStringLiteral("log"), &why);
    if (folder.isEmpty()) {
        errorBox(this, why);
        return;
    }
    m_logFolder = folder;
    m_logLabel->setText(QStringLiteral("Journal du dernier cycle dans : ") +
                        QDir::toNativeSeparators(folder));
    m_cells = *cells;
    m_cycles = *cycles;
    bool ok = false;
    m_mode = m_modeText->text().trimmed().toDouble(&ok); // kept; no step uses it
    if (!ok) m_mode = 0;
    gate().request(KeyStart, [this] { runProcess(); });
}

void MesCapa::tick() {
    m_stepTimer->stop();
    m_tick = true;
    session().wake();
}

void MesCapa::stop() {
    if (isClosing()) return;
    m_stepTimer->stop();
    m_timer2->stop();
    m_logging = false; // a step cut short writes no record
    gate().drop(KeyStart);
    gate().requestStop(); // the process ends at its current wait
    gate().request(KeyStop, [this] { stopRun(); });
}

void MesCapa::stopRun() {
    const bool confirmed = switchOff(kStopOutputs);
    const LinkError e = session().error();
    m_logging = false;
    m_log.close(); // with every record written so far
    endRunInfo(QStringLiteral("Arret"));
    if (confirmed) send(CMD_BEEP, 10);
    endProcess();
    if (isClosing()) return;
    setState(QStringLiteral("Arret"));
    if (!confirmed && !session().isShuttingDown() &&
        (e == LinkError::Timeout || e == LinkError::NotOpen))
        timeoutBox(this,
                   QStringLiteral("Arret : le chargeur n'a pas confirmé l'arrêt des sorties"));
}

void MesCapa::endProcess() {
    m_running = false;
    m_awake.release();
    m_start->setEnabled(true);
}

void MesCapa::aboutToLeave() {
    m_logging = false;
    m_stepTimer->stop();
    m_timer2->stop();
    m_log.close();
    endRunInfo(QStringLiteral("Fenêtre fermée"));
    hide();
}

void MesCapa::leaveWhenIdle() {
    // The process (if any) has unwound: every output off and both currents to zero.
    const bool wasRunning = m_running;
    Settings outputs = leaveOutputs();
    // The fan too, once this window has switched it on (a new process forgets the fan flag,
    // not the fan).
    if (m_fanUsed) outputs.emplace_back(CMD_FAN, 0);
    const bool confirmed = switchOff(outputs);
    const LinkError e = session().error();
    // Leaving ends a process as Arret does, with its beep.
    if (wasRunning && confirmed) switchOff({{CMD_BEEP, 10}});
    endProcess();
    if (wasRunning && !confirmed && !session().isShuttingDown() &&
        (e == LinkError::Timeout || e == LinkError::NotOpen)) {
        showOpener();
        timeoutBox(host().opener, QStringLiteral("Sortie de la fenêtre : le chargeur n'a pas "
                                                 "confirmé l'arrêt des sorties"));
    }
}

// ---------------------------------------------------------------- exchanges

PollSteps MesCapa::steps() {
    return PollSteps(session(), [this] { return gate().interrupted(); });
}

bool MesCapa::done(const PollSteps &st) {
    if (st.end() == PollEnd::LinkFailed) m_linkFailed = true;
    return st.end() == PollEnd::Done;
}

bool MesCapa::send(const Settings &settings) {
    PollSteps st = steps();
    st.set(settings);
    return done(st);
}

bool MesCapa::phaseStart() {
    PollSteps st = steps();
    if (!st.check(true)) return done(st);
    session().command(CMD_PHASE_START, {0, 0, 0});
    st.check(session().answerByte().has_value());
    return done(st);
}

bool MesCapa::switchOff(const Settings &settings) {
    serialio::ExchangeGate::Exchange x(gate());
    bool answered = true;
    for (const auto &[code, value] : settings) {
        if (!session().isOpen()) return false;
        if (answered)
            answered = setOutput(session(), code, value);
        else
            session().command(code, {value});
    }
    if (!answered) session().flush();
    return answered;
}

void MesCapa::linkFailure() {
    const LinkError e = session().error();
    gate().markFailed();
    m_logging = false;
    m_log.close();
    endRunInfo(QStringLiteral("Liaison perdue"));
    // One try to cut the paths, each answer waited for once.
    for (Cmd c : {CMD_CUT_CHARGE, CMD_CUT_DISCHARGE}) {
        if (!session().isOpen() || isClosing()) break;
        session().command(c, {0});
        if (!session().answerByte() && session().error() != LinkError::Timeout) break;
    }
    if (isClosing()) return;
    setState(QStringLiteral("Arret"));
    if (session().isShuttingDown()) return;
    notifyUser(QStringLiteral("Liaison avec le chargeur perdue : processus arrêté"));
    if (e == LinkError::Timeout || e == LinkError::NotOpen) timeoutBox(this);
}

void MesCapa::notifyUser(const QString &what) {
    // An unattended process: whoever is not looking at this window learns it from the desktop.
    if (!isActiveWindow()) desktop::notify(windowTitle(), what);
}

} // namespace modes
