#include "modewindow.h"

#include "desktop/notify.h"
#include "desktop/version.h"
#include "link/messages.h"
#include "link/numtext.h"
#include "runframes.h"
#include "serial/polltimer.h"

#include <QDateTime>
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
    : winkit::ChargerWindow(host, parent) {
    // The stop bytes go out before the main window comes back and may reconnect.
    setOpenerBackWhenIdle(true);
    m_poll = new serialio::PollTimer(
        gate(), KeyTick, 1000, [this] { return m_polling; }, [this] { timerCycle(); },
        QStringLiteral("Timerchargeur"), this);

    m_timer2 = new QTimer(this);
    m_timer2->setObjectName(QStringLiteral("Timerch2"));
    m_timer2->setSingleShot(true);
    connect(m_timer2, &QTimer::timeout, this, [this] {
        m_run->pulse().delayDone = true;
        session().wake();
    });
}

ModeWindow::~ModeWindow() {
    m_poll->stop();
    m_timer2->stop();
    m_run->stopLogging();
    m_run->closeLog();
    // Deleted during a run without having been left (no event loop any more): the stop bytes
    // still go out, without their answers.
    if (m_runActive && session().isOpen()) {
        for (const auto &[code, value] : stopSettings())
            session().command(code, {value});
        session().flush();
        m_run->finish(QStringLiteral("Arret"));
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
    session().waitUntil([this] { return m_run->pulse().delayDone || gate().interrupted(); },
                        ms + 1000);
    m_timer2->stop();
    return !gate().interrupted();
}

bool ModeWindow::startRun(const QString &state) {
    beginRun(); // polling: the poll timer comes once this exchange has ended
    setState(state);
    PollSteps st = steps();
    if (!m_run->readStartClock(st)) return finished(st.end());
    if (!openLog()) {
        endRun();
        setState(QStringLiteral("Arret"));
        return false;
    }
    return setOuts(m_run->startOutputs());
}

RunInfo ModeWindow::runInfo() const {
    RunInfo info;
    info.version = desktop::version();
    info.window = objectName();
    info.port = session().deviceName();
    return info;
}

void ModeWindow::timerCycle() {
    serialio::ExchangeGate::Exchange x(gate());
    if (!pollStep() || gate().interrupted()) return;
    if (m_run->ended()) {
        m_run->clearEnded();
        endPolling(); // the log stays open until Arret or Retour
        m_run->finish(m_run->endText());
        setOuts(m_run->endOutputs());
        notifyUser(m_state->text());
    }
}

void ModeWindow::showHead(const RunSample &s) {
    if (s.clock) {
        const Hms h = splitClock(m_run->duree());
        m_clockLabels[0]->setText(clockText(h.hours));
        m_clockLabels[1]->setText(clockText(h.minutes));
        m_clockLabels[2]->setText(clockText(h.seconds));
    }
    const std::optional<int> *counts[3] = {&s.valim, &s.vdbl, &s.temp};
    static const char *const units[3] = {"V", "V", ""};
    for (int i = 0; i < 3; ++i) {
        if (!*counts[i]) return;
        m_supplyCounts[i]->setText(numText(m_run->supplyCount(i)));
        setValueLabel(m_supplyValues[i], m_run->supplyValue(i).value, QLatin1String(units[i]));
    }
}

void ModeWindow::showCurrent(QLabel *countLabel, QLabel *valueLabel) {
    countLabel->setText(numText(m_run->currentCount()));
    setValueLabel(valueLabel, m_run->current().value, QStringLiteral("A"));
    m_total->setText(numText(double(m_run->counter().capacity())) + QStringLiteral(" mAh"));
}

bool ModeWindow::pollDone(const PollOutcome &o) {
    if (o.logFailed)
        // Disk full or removed: said once, the run goes on.
        errorBox(this, QStringLiteral("Erreur d'écriture du fichier journal\n") +
                           QDir::toNativeSeparators(m_run->logPath()));
    if (o.ended) setState(m_run->endText());
    return finished(o.sample.end);
}

void ModeWindow::linkFailure() {
    if (gate().failed() || isClosing()) return;
    gate().markFailed();
    const LinkError e = session().error();
    const bool wasRunning = m_runActive;
    m_poll->stop();
    m_timer2->stop();
    m_run->stopLogging();
    endRun();
    closeLog(); // every record written so far is already on disk
    if (wasRunning) m_run->finish(QStringLiteral("Liaison perdue"));
    if (e == LinkError::Timeout && wasRunning)
        modes::switchOffAfterFailure(session(), [this] { return isClosing(); });
    if (wasRunning) {
        setState(QStringLiteral("Arret"));
        notifyUser(QStringLiteral("Liaison avec le chargeur perdue : mesure arrêtée"));
    }
    if (session().isShuttingDown()) return;
    if (e == LinkError::Timeout || e == LinkError::NotOpen) timeoutBox(this);
    // A port failure has already been reported by the main window.
}

bool ModeWindow::switchOff(const Settings &settings) {
    serialio::ExchangeGate::Exchange x(gate());
    return modes::switchOff(session(), settings, m_run->pulse());
}

void ModeWindow::stop() {
    if (isClosing()) return;
    m_run->stopLogging(); // a poll interrupted by Stop writes no record
    m_poll->stop();       // and drops a queued tick
    m_timer2->stop();
    m_polling = false;
    gate().drop(KeyStart);
    gate().requestStop(); // the exchange in progress ends after its current wait
    gate().request(KeyStop, [this] { stopRun(); });
}

void ModeWindow::stopRun() {
    const bool confirmed = switchOff(stopSettings());
    const LinkError e = session().error();
    m_run->stopLogging();
    closeLog();
    m_run->finish(QStringLiteral("Arret"));
    endRun();                // idle flag set
    if (isClosing()) return; // leaving: the window is already gone from the screen
    setState(QStringLiteral("Arret"));
    if (!confirmed && !session().isShuttingDown() &&
        (e == LinkError::Timeout || e == LinkError::NotOpen))
        timeoutBox(this,
                   QStringLiteral("Arret : le chargeur n'a pas confirmé l'arrêt des sorties"));
}

// ---------------------------------------------------------------- run bookkeeping

bool ModeWindow::openLog() {
    const QString folder = runLogFolder();
    const QDateTime now = QDateTime::currentDateTime();
    RunInfo info = runInfo();
    info.start = now;
    QString why;
    if (!m_run->openLog(folder, now, info, &why)) {
        errorBox(this, QStringLiteral("Impossible de créer le fichier journal\n") +
                           QDir::toNativeSeparators(m_run->logPath()) + QLatin1Char('\n') + why);
        m_logLabel->setText(QStringLiteral("Journal : aucun"));
        return false;
    }
    // When the name was taken, the log went to the next free one: show the one written.
    m_logLabel->setText(QStringLiteral("Journal : ") + QDir::toNativeSeparators(m_run->logPath()));
    return true;
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
    m_run->closeLog();
}

// ---------------------------------------------------------------- window

void ModeWindow::aboutToLeave() {
    m_run->stopLogging(); // a poll still in its wait writes no record
    m_poll->stop();
    m_timer2->stop();
    closeLog(); // with every record written so far
    hide();
}

void ModeWindow::leaveWhenIdle() {
    // After "Arret" or a link failure the outputs are already off.
    const bool wasRunning = m_runActive;
    const bool confirmed = !wasRunning || switchOff(stopSettings());
    const LinkError e = session().error();
    if (wasRunning) m_run->finish(QStringLiteral("Arret"));
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
