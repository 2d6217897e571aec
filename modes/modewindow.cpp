#include "modewindow.h"

#include "link/messages.h"
#include "link/numtext.h"
#include "winkit/chargerwindow.h"

#include <QCloseEvent>
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

ModeWindow::ModeWindow(const Host &host, QWidget *parent)
    : QWidget(parent), m_host(host), m_link(host.link), m_decimalPoint(localeDecimalPoint()),
      m_linkGuard(host.link), m_gate(new serialio::ExchangeGate(this)) {
    // A stop or leaving wakes the wait in progress, which then sees interrupted().
    connect(m_gate, &serialio::ExchangeGate::wakeRequested, this, [this] {
        if (m_linkGuard) m_linkGuard->wake();
    });
    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timerchargeur"));
    m_timer->setInterval(1000);
    m_timer->setSingleShot(true); // re-armed at the end of each poll
    connect(m_timer, &QTimer::timeout, this,
            [this] { m_gate->request(KeyTick, [this] { timerCycle(); }); });

    m_timer2 = new QTimer(this);
    m_timer2->setObjectName(QStringLiteral("Timerch2"));
    m_timer2->setSingleShot(true);
    connect(m_timer2, &QTimer::timeout, this, [this] {
        m_delayFlag = true;
        if (m_link) m_link->wake();
    });
}

ModeWindow::~ModeWindow() {
    m_timer->stop();
    m_timer2->stop();
    m_logging = false;
    m_log.close();
    // Deleted during a run without having been left (no event loop any more): the stop bytes
    // still go out, without their answers.
    if (m_runActive && !m_left && m_linkGuard && m_linkGuard->isOpen()) {
        for (const auto &[code, value] : stopSettings())
            m_linkGuard->command(code, {value});
        if (m_linkGuard->port()) m_linkGuard->port()->flush();
    }
}

// ---------------------------------------------------------------- exchanges

bool ModeWindow::check(bool ok) {
    if (interrupted()) return false;
    if (!ok) {
        linkFailure();
        return false;
    }
    return true;
}

bool ModeWindow::setOut(Cmd code, quint8 value) {
    if (interrupted()) return false;
    return check(m_link->setOutput(code, value));
}

bool ModeWindow::setOuts(const Settings &settings) {
    for (const auto &s : settings)
        if (!setOut(s.first, s.second)) return false;
    return true;
}

bool ModeWindow::readCount(Cmd code, int &count) {
    if (interrupted()) return false;
    const auto r = m_link->readChannel(code);
    if (!check(r.has_value())) return false;
    count = qint16(quint16(*r)); // a signed 16-bit value on the wire
    return true;
}

bool ModeWindow::waitDelay(int ms) {
    m_timer2->start(ms);
    // Bounded even if the timer were stopped by someone else.
    m_link->waitUntil([this] { return m_delayFlag || interrupted(); }, ms + 1000);
    m_timer2->stop();
    return !interrupted();
}

bool ModeWindow::readStartClock() {
    if (interrupted()) return false;
    const auto t = m_link->readClock();
    if (!check(t.has_value())) return false;
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
    beginRun();
    m_timer->start(1000);
    setState(state);
    if (!readStartClock()) return false;
    if (!openLog(logPrefix, columns)) {
        m_timer->stop();
        m_logging = false;
        endRun();
        setState(QStringLiteral("Arret"));
        return false;
    }
    return setOuts(outputs);
}

void ModeWindow::timerCycle() {
    Exchange x(this);
    m_timer->stop();
    if (!pollStep() || interrupted()) return;
    if (m_endFlag) {
        m_endFlag = false;
        endPolling(); // the log stays open until Arret or Retour
        setOuts(endOfRunOutputs());
        return;
    }
    if (m_polling) m_timer->start(1000);
}

bool ModeWindow::readElapsed() {
    m_prevDuree = m_duree;
    if (interrupted()) return false;
    const auto t = m_link->readClock();
    if (!check(t.has_value())) return false;
    const bool fieldsValid = t->hours < 24 && t->minutes < 60 && t->seconds < 60;
    const RunClock::Reading r = m_clock.read(t->totalSeconds(), fieldsValid);
    m_duree = r.elapsed;
    m_logDuree = r.received;
    const Hms h = splitClock(m_duree);
    m_clockLabels[0]->setText(clockText(h.hours));
    m_clockLabels[1]->setText(clockText(h.minutes));
    m_clockLabels[2]->setText(clockText(h.seconds));
    return true;
}

bool ModeWindow::readSupplies() {
    const QByteArray &a = m_link->tableA;
    const QByteArray &b = m_link->tableB;
    if (!readCount(CMD_READ_VALIM, m_valimCad)) return false;
    m_supplyCounts[0]->setText(numText(m_valimCad));
    const auto valim = convert(Quantity::Valim, m_valimCad, a, b);
    m_valim.update(valim);
    if (valim) setValueLabel(m_supplyValues[0], valim, QStringLiteral("V"));

    if (!readCount(CMD_READ_VDBL, m_vdblCad)) return false;
    m_supplyCounts[1]->setText(numText(m_vdblCad));
    const auto vdbl = convert(Quantity::Vdbl, m_vdblCad, a, b);
    m_vdbl.update(vdbl);
    if (vdbl) setValueLabel(m_supplyValues[1], vdbl, QStringLiteral("V"));

    if (!readCount(CMD_READ_TEMP, m_tempCad)) return false;
    m_supplyCounts[2]->setText(numText(m_tempCad));
    const auto temper = convert(Quantity::Temper, m_tempCad, a, b);
    m_temper.update(temper);
    if (temper) setValueLabel(m_supplyValues[2], temper, QString());
    return true;
}

void ModeWindow::linkFailure() {
    if (m_gate->failed() || m_gate->closing()) return;
    m_gate->markFailed();
    const LinkError e = m_link->error();
    const bool wasRunning = m_runActive;
    m_timer->stop();
    m_timer2->stop();
    m_logging = false;
    endRun();
    closeLog(); // every record written so far is already on disk
    if (e == LinkError::Timeout && wasRunning) switchOffAfterFailure();
    if (wasRunning) setState(QStringLiteral("Arret"));
    if (m_link->isShuttingDown()) return;
    if (e == LinkError::Timeout || e == LinkError::NotOpen) timeoutBox(this);
    // A port failure has already been reported by the main window.
}

void ModeWindow::switchOffAfterFailure() {
    // One try, each answer waited for once: a silent charger costs two reply time-outs.
    for (Cmd c : {CMD_CUT_CHARGE, CMD_CUT_DISCHARGE}) {
        m_link->command(c, {0});
        if (!m_link->answerByte() && m_link->error() != LinkError::Timeout) return;
        if (m_gate->closing()) return;
    }
}

ModeWindow::Settings ModeWindow::stopSettings() const {
    Settings s;
    if (m_dischargePulseOn) s.emplace_back(CMD_CUT_DISCHARGE, 0);
    s.insert(s.end(), m_stopOutputs.begin(), m_stopOutputs.end());
    return s;
}

bool ModeWindow::switchOff(const Settings &settings) {
    serialio::ExchangeGate::Exchange x(*m_gate);
    bool answered = true;
    for (const auto &[code, value] : settings) {
        if (!m_link->isOpen()) return false;
        if (answered)
            answered = m_link->setOutput(code, value);
        else
            m_link->command(code, {value});
    }
    if (!answered && m_link->isOpen() && m_link->port()) m_link->port()->flush();
    for (const auto &[code, value] : settings)
        if (code == CMD_CUT_DISCHARGE && value == 0) m_dischargePulseOn = false;
    return answered;
}

void ModeWindow::stop() {
    if (m_gate->closing()) return;
    m_logging = false; // a poll interrupted by Stop writes no record
    m_timer->stop();
    m_timer2->stop();
    m_polling = false;
    m_gate->drop(KeyTick);
    m_gate->drop(KeyStart);
    m_gate->requestStop(); // the exchange in progress ends after its current wait
    m_gate->request(KeyStop, [this] { stopRun(); });
}

void ModeWindow::stopRun() {
    const bool confirmed = switchOff(stopSettings());
    const LinkError e = m_link->error();
    m_logging = false;
    closeLog();
    endRun();                      // idle flag set
    if (m_gate->closing()) return; // leaving: the window is already gone from the screen
    setState(QStringLiteral("Arret"));
    if (!confirmed && !m_link->isShuttingDown() &&
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

void ModeWindow::load() {
    winkit::centreOnScreen(this, size().expandedTo(sizeHint()));
    show();
    if (m_host.stopMainTimers) m_host.stopMainTimers();
    m_host.hideMain();
}

void ModeWindow::leave() {
    if (m_gate->closing()) return;
    m_link->reconnectOnActivate = 0;
    beginLeaving();
}

void ModeWindow::closeEvent(QCloseEvent *e) {
    if (!m_gate->closing()) beginLeaving();
    if (!m_left || m_gate->busy()) {
        // The stop bytes are still to go out: the window is hidden and deletes itself once
        // they have.
        e->ignore();
        return;
    }
    QWidget::closeEvent(e);
}

void ModeWindow::beginLeaving() {
    m_logging = false; // a poll still in its wait writes no record
    m_timer->stop();
    m_timer2->stop();
    closeLog(); // with every record written so far
    hide();
    // Nothing queued runs any more; a delay ends now, a reply wait with its reply; then, once
    // no handler is inside a wait, the outputs go off and the window goes.
    m_gate->close([this] { finishLeaving(); });
}

void ModeWindow::finishLeaving() {
    if (m_finishing) return;
    m_finishing = true;
    // After "Arret" or a link failure the outputs are already off.
    const bool confirmed = !m_runActive || switchOff(stopSettings());
    const LinkError e = m_link->error();
    endRun();
    m_left = true;
    m_host.showMain();
    // The outputs may still be on: the user must know, even on the way out.
    if (!confirmed && !m_link->isShuttingDown() &&
        (e == LinkError::Timeout || e == LinkError::NotOpen))
        timeoutBox(m_host.main, QStringLiteral("Sortie de la fenêtre : le chargeur n'a pas "
                                               "confirmé l'arrêt des sorties"));
    if (testAttribute(Qt::WA_DeleteOnClose)) deleteLater();
}

void ModeWindow::setState(const QString &text) {
    m_state->setText(text);
}

QLabel *ModeWindow::label(const char *name, const QString &text) {
    auto *l = new QLabel(text, this);
    l->setObjectName(QLatin1String(name));
    return l;
}

QGroupBox *ModeWindow::frame(const char *name, const QString &title) {
    auto *g = new QGroupBox(title, this);
    g->setObjectName(QLatin1String(name));
    return g;
}

void ModeWindow::setValueLabel(QLabel *l, std::optional<double> v, const QString &unit) {
    if (l && v) l->setText(numText(*v) + unit);
}

QWidget *ModeWindow::buildCommon() {
    auto *panel = new QWidget(this);
    auto *col = new QVBoxLayout(panel);
    col->setContentsMargins(0, 0, 0, 0);

    QGroupBox *clock = frame("Frame1", QStringLiteral("HORLOGE"));
    auto *cl = new QHBoxLayout(clock);
    QFont big = font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    const char *names[3] = {"Label1", "Label2", "Label3"};
    for (int i = 0; i < 3; ++i) {
        QLabel *l = m_clockLabels[i] = label(names[i], QStringLiteral("00"));
        l->setFont(big);
        l->setAlignment(Qt::AlignCenter);
        l->setMinimumWidth(QFontMetrics(big).horizontalAdvance(QStringLiteral("00")) + 4);
        cl->addWidget(l);
        if (i < 2) {
            auto *sep = new QLabel(QStringLiteral(":"), clock);
            sep->setFont(big);
            cl->addWidget(sep);
        }
    }
    col->addWidget(clock);

    QGroupBox *state = frame("Frame2", QStringLiteral("ETAT"));
    auto *sl = new QVBoxLayout(state);
    m_state = label("Label18");
    QFont bold = font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    m_state->setFont(bold);
    m_state->setAlignment(Qt::AlignCenter);
    // Wide enough for the longest state, so that the window does not shift when it shows.
    m_state->setMinimumWidth(
        QFontMetrics(bold).horizontalAdvance(QStringLiteral("Charge Terminée")) + 8);
    sl->addWidget(m_state);
    col->addWidget(state);

    const auto button = [this](const char *name, const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setMinimumHeight(30);
        return b;
    };
    m_start = button("CBstart", QStringLiteral("Demarrage"));
    m_stop = button("CBStop", QStringLiteral("Arret"));
    m_quit = button("CQuitter", QStringLiteral("Retour"));
    connect(m_start, &QPushButton::clicked, this, [this] { start(); });
    connect(m_stop, &QPushButton::clicked, this, [this] { stop(); });
    connect(m_quit, &QPushButton::clicked, this, [this] { leave(); });
    col->addWidget(m_start);
    col->addWidget(m_stop);
    col->addWidget(m_quit);

    // Where the logs of this window will go, before the first run.
    m_logLabel = new QLabel(
        QStringLiteral("Dossier des journaux : ") + QDir::toNativeSeparators(runLogFolder()), this);
    m_logLabel->setObjectName(QStringLiteral("LbJournal"));
    m_logLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_logLabel->setWordWrap(true);
    return panel;
}

void ModeWindow::buildSupplies(QGroupBox *box) {
    auto *g = new QGridLayout(box);
    const struct {
        const char *caption, *name, *count, *value;
        const char *text;
    } rows[] = {
        {"Label13", "V ALIMENTATION", "Label4", "Label6", "V"},
        {"Label14", "V DOUBLEUR", "Label5", "Label7", "V"},
        {"Label15", "TEMPERATURE", "Label8", "Label9", ""},
    };
    int r = 0;
    for (const auto &row : rows) {
        g->addWidget(label(row.caption, QString::fromUtf8(row.name)), r, 0);
        QLabel *count = m_supplyCounts[r] = label(row.count, QStringLiteral("0"));
        QLabel *value = m_supplyValues[r] = label(row.value);
        count->setMinimumWidth(48);
        value->setMinimumWidth(56);
        count->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        g->addWidget(count, r, 1);
        g->addWidget(value, r, 2);
        ++r;
    }
}

} // namespace modes
