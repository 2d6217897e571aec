#include "modewindow.h"

#include "desktop/notify.h"
#include "link/messages.h"
#include "link/numtext.h"
#include "runframes.h"
#include "serial/polltimer.h"

#include <QDir>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace modes {

using namespace chlink;

ModeWindow::ModeWindow(const winkit::Host &host, QWidget *parent)
    : winkit::ChargerWindow(host, parent), m_decimalPoint(localeDecimalPoint()) {
    // The stop bytes go out before the main window comes back and may reconnect.
    setOpenerBackWhenIdle(true);
    m_poll = new serialio::PollTimer(
        gate(), KeyTick, 1000, [this] { return m_polling; }, [this] { timerCycle(); },
        QStringLiteral("Timerchargeur"), this);

    m_timer2 = new QTimer(this);
    m_timer2->setObjectName(QStringLiteral("Timerch2"));
    m_timer2->setSingleShot(true);
    connect(m_timer2, &QTimer::timeout, this, [this] {
        m_pulse.delayDone = true;
        session().wake();
    });
}

ModeWindow::~ModeWindow() {
    m_poll->stop();
    m_timer2->stop();
    m_logging = false;
    m_log.close();
    // Deleted during a run without having been left (no event loop any more): the stop bytes
    // still go out, without their answers.
    if (m_runActive && session().isOpen()) {
        for (const auto &[code, value] : stopSettings())
            session().command(code, {value});
        session().flush();
    }
}

QTimer *ModeWindow::pollTimer() const {
    return m_poll->timer();
}

// ---------------------------------------------------------------- exchanges

PollSteps ModeWindow::steps() {
    return PollSteps(
        session(), [this] { return gate().interrupted(); },
        [this](int ms) { return waitDelay(ms); });
}

bool ModeWindow::finished(PollEnd end) {
    if (end == PollEnd::LinkFailed) linkFailure();
    return end == PollEnd::Done;
}

bool ModeWindow::setOut(Cmd code, quint8 value) {
    return setOuts({{code, value}});
}

bool ModeWindow::setOuts(const Settings &settings) {
    PollSteps st = steps();
    st.set(settings);
    return finished(st.end());
}

bool ModeWindow::waitDelay(int ms) {
    m_timer2->start(ms);
    // Bounded even if the timer were stopped by someone else.
    session().waitUntil([this] { return m_pulse.delayDone || gate().interrupted(); }, ms + 1000);
    m_timer2->stop();
    return !gate().interrupted();
}

bool ModeWindow::readStartClock() {
    PollSteps st = steps();
    std::optional<ClockTime> t;
    if (!st.readClock(t)) return finished(st.end());
    m_clock.start(t->totalSeconds());
    return true;
}

bool ModeWindow::startRun(const QString &state, const char *logPrefix, const QStringList &columns,
                          const Settings &outputs) {
    m_counter.reset();
    m_duree = 0; // the first poll integrates from the start, not from the last run
    m_prevDuree = 0;
    m_endFlag = false;
    m_logging = true;
    beginRun(); // polling: the poll timer comes once this exchange has ended
    setState(state);
    if (!readStartClock()) return false;
    if (!openLog(logPrefix, columns)) {
        m_logging = false;
        endRun();
        setState(QStringLiteral("Arret"));
        return false;
    }
    return setOuts(outputs);
}

void ModeWindow::timerCycle() {
    serialio::ExchangeGate::Exchange x(gate());
    if (!pollStep() || gate().interrupted()) return;
    if (m_endFlag) {
        m_endFlag = false;
        endPolling(); // the log stays open until Arret or Retour
        setOuts(endOfRunOutputs());
        notifyUser(m_state->text());
    }
}

void ModeWindow::showHead(const RunSample &s) {
    m_prevDuree = m_duree;
    if (s.clock) {
        const ClockTime &t = *s.clock;
        const bool fieldsValid = t.hours < 24 && t.minutes < 60 && t.seconds < 60;
        const RunClock::Reading r = m_clock.read(t.totalSeconds(), fieldsValid);
        m_duree = r.elapsed;
        m_logDuree = r.received;
        const Hms h = splitClock(m_duree);
        m_clockLabels[0]->setText(clockText(h.hours));
        m_clockLabels[1]->setText(clockText(h.minutes));
        m_clockLabels[2]->setText(clockText(h.seconds));
    }
    const struct {
        const std::optional<int> &count;
        int &kept;
        Quantity q;
        Kept &value;
        const char *unit;
    } supplies[] = {
        {s.valim, m_valimCad, Quantity::Valim, m_valim, "V"},
        {s.vdbl, m_vdblCad, Quantity::Vdbl, m_vdbl, "V"},
        {s.temp, m_tempCad, Quantity::Temper, m_temper, ""},
    };
    for (int i = 0; i < 3; ++i) {
        const auto &row = supplies[i];
        if (!row.count) return;
        const auto v = showCount(*row.count, row.kept, m_supplyCounts[i], row.q);
        row.value.update(v);
        setValueLabel(m_supplyValues[i], v, QLatin1String(row.unit));
    }
}

std::optional<double> ModeWindow::showCount(int count, int &kept, QLabel *label, Quantity q) {
    kept = count;
    label->setText(numText(count));
    return convert(q, count, session().tableA(), session().tableB());
}

void ModeWindow::showCurrent(int count, int &kept, Kept &current, QLabel *countLabel,
                             QLabel *valueLabel, Quantity q) {
    const auto v = showCount(count, kept, countLabel, q);
    current.update(v);
    setValueLabel(valueLabel, v, QStringLiteral("A"));
    m_counter.add(m_duree - m_prevDuree, current.orZero());
    m_total->setText(numText(double(m_counter.capacity())) + QStringLiteral(" mAh"));
}

void ModeWindow::linkFailure() {
    if (gate().failed() || isClosing()) return;
    gate().markFailed();
    const LinkError e = session().error();
    const bool wasRunning = m_runActive;
    m_poll->stop();
    m_timer2->stop();
    m_logging = false;
    endRun();
    closeLog(); // every record written so far is already on disk
    if (e == LinkError::Timeout && wasRunning) switchOffAfterFailure();
    if (wasRunning) {
        setState(QStringLiteral("Arret"));
        notifyUser(QStringLiteral("Liaison avec le chargeur perdue : mesure arrêtée"));
    }
    if (session().isShuttingDown()) return;
    if (e == LinkError::Timeout || e == LinkError::NotOpen) timeoutBox(this);
    // A port failure has already been reported by the main window.
}

void ModeWindow::switchOffAfterFailure() {
    // One try, each answer waited for once: a silent charger costs two reply time-outs.
    for (Cmd c : {CMD_CUT_CHARGE, CMD_CUT_DISCHARGE}) {
        session().command(c, {0});
        if (!session().answerByte() && session().error() != LinkError::Timeout) return;
        if (isClosing()) return;
    }
}

ModeWindow::Settings ModeWindow::stopSettings() const {
    Settings s;
    if (m_pulse.dischargeOn) s.emplace_back(CMD_CUT_DISCHARGE, 0);
    s.insert(s.end(), m_stopOutputs.begin(), m_stopOutputs.end());
    return s;
}

bool ModeWindow::switchOff(const Settings &settings) {
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
    for (const auto &[code, value] : settings)
        if (code == CMD_CUT_DISCHARGE && value == 0) m_pulse.dischargeOn = false;
    return answered;
}

void ModeWindow::stop() {
    if (isClosing()) return;
    m_logging = false; // a poll interrupted by Stop writes no record
    m_poll->stop();    // and drops a queued tick
    m_timer2->stop();
    m_polling = false;
    gate().drop(KeyStart);
    gate().requestStop(); // the exchange in progress ends after its current wait
    gate().request(KeyStop, [this] { stopRun(); });
}

void ModeWindow::stopRun() {
    const bool confirmed = switchOff(stopSettings());
    const LinkError e = session().error();
    m_logging = false;
    closeLog();
    endRun();                // idle flag set
    if (isClosing()) return; // leaving: the window is already gone from the screen
    setState(QStringLiteral("Arret"));
    if (!confirmed && !session().isShuttingDown() &&
        (e == LinkError::Timeout || e == LinkError::NotOpen))
        timeoutBox(this,
                   QStringLiteral("Arret : le chargeur n'a pas confirmé l'arrêt des sorties"));
}

// ---------------------------------------------------------------- run bookkeeping

bool ModeWindow::openLog(const char *prefix, const QStringList &columns) {
    const QString folder = runLogFolder();
    const QString path = folder + QLatin1Char('/') +
                         logFileName(QLatin1String(prefix), QDateTime::currentDateTime());
    QString why;
    if (!m_log.open(path, headerLine(columns), &why)) {
        errorBox(this, QStringLiteral("Impossible de créer le fichier journal\n") +
                           QDir::toNativeSeparators(path) + QLatin1Char('\n') + why);
        m_logLabel->setText(QStringLiteral("Journal : aucun"));
        return false;
    }
    // When the name was taken, the log went to the next free one: show the one written.
    m_logLabel->setText(QStringLiteral("Journal : ") + QDir::toNativeSeparators(m_log.path()));
    return true;
}

void ModeWindow::appendRecord(const std::vector<Field> &fields) {
    if (!m_logging || !m_log.isOpen()) return;
    if (!m_log.append(recordLine(fields, m_decimalPoint))) {
        // Disk full or removed: say it once and keep the run going.
        m_log.close();
        m_logging = false;
        errorBox(this, QStringLiteral("Erreur d'écriture du fichier journal\n") +
                           QDir::toNativeSeparators(m_log.path()));
    }
}

void ModeWindow::beginRun() {
    m_runActive = true;
    m_polling = true;
    m_start->setEnabled(false);
    m_awake.acquire(QStringLiteral("Charge ou décharge de batterie en cours"));
}

void ModeWindow::notifyUser(const QString &what) {
    // Whoever watches this window sees it already; the others learn it from the desktop.
    if (isActiveWindow()) return;
    desktop::notify(windowTitle(),
                    what + QStringLiteral(" (") + m_total->text() + QStringLiteral(")"));
}

void ModeWindow::endPolling() {
    m_polling = false;
    m_awake.release();
}

void ModeWindow::endRun() {
    endPolling();
    m_runActive = false;
    m_start->setEnabled(true);
}

void ModeWindow::closeLog() {
    m_log.close();
}

// ---------------------------------------------------------------- window

void ModeWindow::aboutToLeave() {
    m_logging = false; // a poll still in its wait writes no record
    m_poll->stop();
    m_timer2->stop();
    closeLog(); // with every record written so far
    hide();
}

void ModeWindow::leaveWhenIdle() {
    // After "Arret" or a link failure the outputs are already off.
    const bool confirmed = !m_runActive || switchOff(stopSettings());
    const LinkError e = session().error();
    endRun();
    // The outputs may still be on: the user must know, even on the way out, on top of the
    // main window.
    if (!confirmed && !session().isShuttingDown() &&
        (e == LinkError::Timeout || e == LinkError::NotOpen)) {
        showOpener();
        timeoutBox(host().opener, QStringLiteral("Sortie de la fenêtre : le chargeur n'a pas "
                                                 "confirmé l'arrêt des sorties"));
    }
}

void ModeWindow::setState(const QString &text) {
    m_state->setText(text);
}

void ModeWindow::setValueLabel(QLabel *l, std::optional<double> v, const QString &unit) {
    if (l && v) l->setText(numText(*v) + unit);
}

QWidget *ModeWindow::buildCommon() {
    auto *panel = new QWidget(this);
    auto *col = new QVBoxLayout(panel);
    col->setContentsMargins(0, 0, 0, 0);

    static const char *const clockNames[3] = {"Label1", "Label2", "Label3"};
    col->addWidget(clockFrame(this, "Frame1", clockNames, m_clockLabels));

    QVBoxLayout *sl = nullptr;
    QGroupBox *state = stateFrame(this, "Frame2", "Label18", 1.3, QStringLiteral("Charge Terminée"),
                                  &m_state, &sl);
    sl->addWidget(sleepNote(this, m_awake));
    col->addWidget(state);

    const auto button = [this](const char *name, const QString &text) {
        auto *b = make<QPushButton>(name, text);
        b->setMinimumHeight(30);
        return b;
    };
    m_start = button("CBstart", QStringLiteral("&Demarrage"));
    m_stop = button("CBStop", QStringLiteral("&Arret"));
    m_quit = button("CQuitter", QStringLiteral("&Retour"));
    connect(m_start, &QPushButton::clicked, this, [this] { start(); });
    connect(m_stop, &QPushButton::clicked, this, [this] { stop(); });
    connect(m_quit, &QPushButton::clicked, this, [this] { leave(); });
    col->addWidget(m_start);
    col->addWidget(m_stop);
    col->addWidget(m_quit);

    // Where the logs of this window will go, before the first run.
    m_logLabel = make<QLabel>("LbJournal", QStringLiteral("Dossier des journaux : ") +
                                               QDir::toNativeSeparators(runLogFolder()));
    m_logLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_logLabel->setWordWrap(true);
    return panel;
}

void ModeWindow::buildSupplies(QGroupBox *box) {
    buildReadings(box,
                  {
                      {"Label13", "V ALIMENTATION", "Label4", "Label6", "0", &m_supplyCounts[0],
                       &m_supplyValues[0]},
                      {"Label14", "V DOUBLEUR", "Label5", "Label7", "0", &m_supplyCounts[1],
                       &m_supplyValues[1]},
                      {"Label15", "TEMPERATURE", "Label8", "Label9", "0", &m_supplyCounts[2],
                       &m_supplyValues[2]},
                  },
                  56);
}

void ModeWindow::buildReadings(QGroupBox *box, std::initializer_list<Reading> rows,
                               int valueWidth) {
    auto *g = new QGridLayout(box);
    int r = 0;
    for (const Reading &row : rows) {
        g->addWidget(make<QLabel>(row.caption, QString::fromUtf8(row.text)), r, 0);
        QLabel *count = *row.countOut = make<QLabel>(row.count, QString::fromUtf8(row.countText));
        count->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        count->setMinimumWidth(48);
        g->addWidget(count, r, 1);
        if (row.value) {
            QLabel *value = *row.valueOut = make<QLabel>(row.value);
            value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            value->setMinimumWidth(valueWidth);
            g->addWidget(value, r, 2);
        }
        ++r;
    }
}

} // namespace modes
