// The capacity measurement's process: the steps that "Demarrage" runs until the end, "Arret"
// or leaving.
#include "desktop/version.h"
#include "link/messages.h"
#include "link/numtext.h"
#include "link/session.h"
#include "mescapa.h"
#include "runchart.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <cmath>

namespace modes {

using namespace chlink;

namespace {
const Settings kAllOff = {
    {CMD_CUT_POWER, 0}, {CMD_CUT_CHARGE, 0}, {CMD_CUT_DISCHARGE, 0}, {CMD_GROUND_BAT, 1}};
const Settings kChargeOn = {
    {CMD_CUT_DISCHARGE, 0}, {CMD_GROUND_BAT, 0}, {CMD_CUT_POWER, 1}, {CMD_CUT_CHARGE, 1}};
const Settings kDischargeOn = {
    {CMD_CUT_CHARGE, 0}, {CMD_CUT_POWER, 0}, {CMD_CUT_DISCHARGE, 1}, {CMD_GROUND_BAT, 1}};
constexpr int kStepMs = 2000;
constexpr int kPauseStepMs = 1000;
constexpr int kPauseSteps = 120;
constexpr int kPreparationSteps = 30;
constexpr int kResistanceEvery = 15;
constexpr quint8 kResistanceHigh = 41; // the two discharge settings of the measurement
constexpr quint8 kResistanceLow = 1;
} // namespace

void MesCapa::runProcess() {
    if (m_running) return;
    m_running = true;
    m_linkFailed = false;
    m_start->setEnabled(false);
    m_awake.acquire(QStringLiteral("Mesure de capacité de batterie en cours"));
    m_chart->clear();
    m_deltaChart->clear();
    m_phaseMarks.clear();
    m_elapsed = 0;
    m_logFailed = false;
    m_overheat = false;
    showFan();

    if (process()) {
        endProcess();
        if (m_logFailed)
            errorBox(this, QStringLiteral("Le journal de la mesure n'a pas pu être écrit en "
                                          "entier :\n") +
                               QDir::toNativeSeparators(m_log.path()));
        return;
    }
    if (m_linkFailed && !isClosing()) {
        linkFailure();
        endProcess();
    }
    // Otherwise stopped: Arret's exchange, queued behind this one, or leaving ends it.
}

bool MesCapa::process() {
    m_logging = false;
    m_watch.reset();
    showFan();
    m_preparationPending = true;
    m_displayDue = true; // the first step already shows the values
    m_phase = 1;
    m_deltaCaption->setText(QStringLiteral("VDelta"));
    m_totalCharge = 0;
    if (!chargePhase()) return false;

    setState(QStringLiteral("Pause"));
    for (int i = 1; i <= m_cycles; ++i) {
        m_duree = 0;
        if (!pause()) return false;
        if (i == m_cycles) {
            m_logging = true;
            openLog();
        }
        m_phase = 2;
        m_deltaCaption->setText(QStringLiteral("VUnité"));
        m_totalCharge = m_totalDischarge = 0;
        m_duree = 0;
        if (!dischargePhase()) return false;
        writeLine(capa::starLine());
        m_phase = 1;
        m_deltaCaption->setText(QStringLiteral("VDelta"));
        if (!pause()) return false;
        m_totalCharge = 0;
        m_duree = 0;
        if (!chargePhase()) return false;
    }

    setState(QStringLiteral("Fin du Processus"));
    markPhase(QStringLiteral("Fin"));
    writeLine(capa::equalsLine());
    m_log.close();
    endRunInfo(QStringLiteral("Fin du Processus"));
    m_logging = false;
    send(CMD_BEEP, 10); // the outputs are already off: a missing answer changes nothing
    notifyUser(QStringLiteral("Fin du Processus"));
    return true;
}

// ---------------------------------------------------------------- charge

bool MesCapa::chargePhase() {
    m_totalCharge = 0;
    m_phase = 1;
    if (!phaseStart()) return false;
    if (m_preparationPending) {
        if (!preparation()) return false;
        m_preparationPending = false;
    }
    bool problem = false;
    if (!adjustDelta(problem)) return false;
    if (problem) {
        setState(QStringLiteral("Probleme V Delta"));
        return true;
    }
    if (!send(CMD_POT_ICHRG, quint8(m_chargeSet))) return false;
    setState(QStringLiteral("Charge"));
    markPhase(QStringLiteral("Charge"));
    capa::ChargeEnd end(m_gain);
    m_displayArgument = 2;
    for (;;) {
        if (!send(kChargeOn) || !stepWait(kStepMs)) return false;
        if (!send(kAllOff)) return false;
        m_duree += 2;
        if (!readBattery() || !watchTemperature()) return false;
        writeRecord();
        const capa::ChargeEnd::Step s = end.update(m_vdeltaCad);
        if (s.gainCut) {
            m_gain = end.gain();
            if (!send(CMD_POT_VDELTA, quint8(m_gain))) return false;
        }
        m_vdeltaCad = s.count;
        if (s.ended) return true;
    }
}

bool MesCapa::preparation() {
    setState(QStringLiteral("Preparation Ch/Decharge"));
    markPhase(QStringLiteral("Préparation"));
    m_displayArgument = 1;
    if (!send(kChargeOn)) return false;
    for (int setting = 1; setting <= kPreparationSteps; ++setting)
        if (!send(CMD_POT_ICHRG, quint8(setting)) || !stepWait(kStepMs)) return false;
    m_displayArgument = 2;
    return send(kAllOff);
}

bool MesCapa::adjustDelta(bool &problem) {
    setState(QStringLiteral("Reglage Delta"));
    markPhase(QStringLiteral("Réglage Delta"));
    capa::DeltaAdjust a;
    m_gain = a.gain();
    m_offset = a.offset();
    if (!send({{CMD_POT_VDELTA, quint8(m_gain)}, {CMD_POT_OFFSET, quint8(m_offset)}}) ||
        !send(kAllOff))
        return false;
    while (!a.finished()) {
        if (!sendSliders() || !readBattery()) return false;
        a.reading(m_vdeltaCad);
        if (a.offsetChanged()) {
            m_offset = a.offset();
            if (!send(CMD_POT_OFFSET, quint8(m_offset))) return false;
        } else {
            m_gain = a.gain();
            if (!send(CMD_POT_VDELTA, quint8(m_gain))) return false;
        }
        m_deltaCount->setText(numText(m_vdeltaCad));
    }
    problem = a.stage() == capa::DeltaAdjust::Stage::Problem;
    return true;
}

// ---------------------------------------------------------------- pause and discharge

bool MesCapa::pause() {
    markPhase(QStringLiteral("Pause"));
    for (int left = kPauseSteps; left >= 1; --left) {
        setState(QStringLiteral("Pause ... ") + numText(left));
        if (!stepWait(kPauseStepMs)) return false;
    }
    return true;
}

bool MesCapa::dischargePhase() {
    m_totalDischarge = m_totalCharge = 0;
    m_phase = 2;
    if (!phaseStart()) return false;
    setState(QStringLiteral("Decharge"));
    markPhase(QStringLiteral("Décharge"));
    if (!send(kAllOff) || !readBattery() || !send(CMD_POT_ICHRG, 0)) return false;
    int counter = kResistanceEvery - 1; // the first step measures
    while (capa::dischargeGoesOn(m_vunitHundredths)) {
        m_displayDue = true;
        bool measured = false;
        if (++counter == kResistanceEvery) {
            // Its one-second wait, with the display, stands for this step's wait: the
            // discharge is then on only for the time of the commands.
            if (!measureResistance()) return false;
            counter = 0;
            measured = true;
        }
        if (!send(kDischargeOn)) return false;
        if (!measured && !stepWait(kStepMs)) return false;
        if (!send(kAllOff)) return false;
        m_duree += 2;
        if (!readBattery()) return false;
        writeRecord();
        if (!watchTemperature()) return false;
    }
    return true;
}

bool MesCapa::measureResistance() {
    const QString saved = m_state->text();
    setState(QStringLiteral("Mesure Resistance"));
    if (!send(CMD_POT_IDECH, kResistanceHigh) || !send(kDischargeOn) || !stepWait(kPauseStepMs))
        return false;
    PollSteps st = steps();
    std::optional<int> c1, c2;
    if (!st.read(CMD_READ_VBAT, c1) || !st.set(CMD_POT_IDECH, kResistanceLow) ||
        !st.read(CMD_READ_VBAT, c2))
        return done(st);
    const auto v1 = convert(Quantity::Vbat, *c1, session().tableA(), session().tableB());
    const auto v2 = convert(Quantity::Vbat, *c2, session().tableA(), session().tableB());
    if (v1 && v2) m_resistanceValue = capa::resistance(*v1, *v2);
    m_resistance->setText(numText(m_resistanceValue) + QStringLiteral(" mR"));
    setState(saved);
    if (!send(kAllOff)) return false;
    return m_phase == 1 ? send(CMD_POT_ICHRG, quint8(m_chargeSet))
                        : send(CMD_POT_IDECH, quint8(m_dischargeSet));
}

// ---------------------------------------------------------------- temperature

bool MesCapa::watchTemperature() {
    switch (m_watch.update(m_temper.value)) {
    case capa::TempWatch::Fan::On:
        m_fanUsed = true;
        if (!send(CMD_FAN, 1)) return false;
        break;
    case capa::TempWatch::Fan::Off:
        if (!send(CMD_FAN, 0)) return false;
        break;
    case capa::TempWatch::Fan::Keep:
        break;
    }
    showFan();
    if (!capa::TempWatch::overheat(m_temper.value)) return true;
    return overheatHold();
}

bool MesCapa::overheatHold() {
    const QString saved = m_state->text();
    setState(QStringLiteral("!! Surchauffe !!"));
    markPhase(QStringLiteral("Surchauffe"));
    m_overheat = true;
    showFan();
    // The outputs stay off (the step left them so); the temperature is read once a second
    // until it has come down.
    for (;;) {
        PollSteps st = steps();
        std::optional<int> c;
        if (!st.read(CMD_READ_TEMP, c)) return done(st);
        m_tempCad = *c;
        m_supplyCounts[2]->setText(numText(m_tempCad));
        const auto t = convert(Quantity::Temper, m_tempCad, session().tableA(), session().tableB());
        m_temper.update(t);
        if (t) m_supplyValues[2]->setText(numText(*t));
        if (capa::TempWatch::holdEnds(m_temper.value)) break;
        const bool due = m_displayDue;
        m_displayDue = false;
        const bool ok = stepWait(kPauseStepMs);
        m_displayDue = due;
        if (!ok) return false;
    }
    m_overheat = false;
    showFan();
    setState(saved);
    return true;
}

// ---------------------------------------------------------------- steps and readings

bool MesCapa::stepWait(int ms) {
    m_tick = false;
    m_elapsed += ms / 1000.0;
    if (m_pacer)
        m_pacer(ms);
    else
        m_stepTimer->start(ms);
    while (!m_tick) {
        if (!going()) break;
        if (m_displayDue) {
            m_displayDue = false;
            if (!displayStep(m_displayArgument)) break;
            continue;
        }
        if (slidersPending()) {
            if (!sendSliders()) break;
            continue;
        }
        // Woken by the tick, a slider, Arret or leaving; bounded in case a tick was lost.
        const bool woke = session().waitUntil(
            [this] { return m_tick || !going() || slidersPending(); }, ms + 2000);
        if (!woke && going()) m_tick = true;
    }
    if (!m_tick) {
        m_stepTimer->stop();
        return false;
    }
    m_displayDue = true;
    return going();
}

bool MesCapa::displayStep(int argument) {
    const QByteArray &a = session().tableA();
    const QByteArray &b = session().tableB();
    PollSteps st = steps();
    std::optional<ClockTime> t;
    if (!st.readClock(t)) return done(st);
    m_clock[0]->setText(clockText(t->hours));
    m_clock[1]->setText(clockText(t->minutes));
    m_clock[2]->setText(clockText(t->seconds));

    const struct {
        Cmd code;
        int &count;
        Quantity q;
        Kept &value;
        const char *unit;
    } supplies[] = {
        {CMD_READ_VALIM, m_valimCad, Quantity::Valim, m_valim, "V"},
        {CMD_READ_VDBL, m_vdblCad, Quantity::Vdbl, m_vdbl, "V"},
        {CMD_READ_TEMP, m_tempCad, Quantity::Temper, m_temper, ""},
    };
    std::optional<int> c;
    for (int i = 0; i < 3; ++i) {
        const auto &row = supplies[i];
        if (!st.read(row.code, c)) return done(st);
        row.count = *c;
        m_supplyCounts[i]->setText(numText(row.count));
        const auto v = convert(row.q, row.count, a, b);
        row.value.update(v);
        if (v) m_supplyValues[i]->setText(numText(*v) + QLatin1String(row.unit));
    }

    if (!st.read(CMD_READ_ICHRG, c)) return done(st);
    m_ichrgCad = *c;
    m_ichrgCount->setText(numText(m_ichrgCad));
    if (const auto v = convert(Quantity::Ichrg, m_ichrgCad, a, b)) {
        m_ichrg.update(v);
        m_ichrgValue->setText(numText(*v) + QStringLiteral("A"));
    }
    if (m_phase == 1) m_totalCharge += capa::chargeStepAmpereSeconds(argument, m_ichrg.orZero());

    if (!st.read(CMD_READ_IDECH, c)) return done(st);
    m_idechCad = *c;
    m_idechCount->setText(numText(m_idechCad));
    if (const auto v = convert(Quantity::Idech, m_idechCad, a, b)) {
        m_idech.update(v);
        m_idechValue->setText(numText(*v) + QStringLiteral("A"));
    }
    if (m_phase == 2) m_totalDischarge += 2 * m_idech.orZero();

    m_chargeTotal->setText(capa::totalText(QStringLiteral("C "), m_totalCharge));
    m_dischargeTotal->setText(capa::totalText(QStringLiteral("D "), m_totalDischarge));
    m_vbatCount->setText(numText(m_vbatCad));
    if (m_vbat.value) m_vbatValue->setText(numText(*m_vbat.value) + QStringLiteral("V"));
    if (m_phase == 1)
        m_deltaCount->setText(numText(m_vdeltaCad));
    else if (m_vunit)
        m_deltaCount->setText(numText(*m_vunit));
    m_resistance->setText(numText(m_resistanceValue) + QStringLiteral(" mR"));
    plot();
    return true;
}

bool MesCapa::readBattery() {
    if (!send(kAllOff)) return false;
    PollSteps st = steps();
    std::optional<int> vbat, vdelta;
    if (!st.read(CMD_READ_VBAT, vbat) || !st.read(CMD_READ_VDELTA, vdelta)) return done(st);
    m_vbatCad = *vbat;
    m_vbat.update(convert(Quantity::Vbat, m_vbatCad, session().tableA(), session().tableB()));
    m_vdeltaCad = *vdelta;
    if (m_vbat.value) {
        m_vunitHundredths = capa::voltsPerCellHundredths(*m_vbat.value, m_cells);
        m_vunit = m_vunitHundredths / 100.0;
    }
    return true;
}

// ---------------------------------------------------------------- log

void MesCapa::openLog() {
    const QString path = m_logFolder + QLatin1Char('/') +
                         logFileName(QLatin1String(capa::kLogPrefix), QDateTime::currentDateTime());
    QString why;
    if (!m_log.open(path, headerLine(capa::logColumns()), &why)) {
        m_logging = false;
        m_logFailed = true;
        // No box in the middle of an unattended process: the window says it, and the end of
        // the process says it again.
        m_logLabel->setText(QStringLiteral("Journal : impossible de créer ") +
                            QDir::toNativeSeparators(path) + QStringLiteral(" (") + why +
                            QLatin1Char(')'));
        return;
    }
    // When the name was taken, the log went to the next free one: show the one written.
    m_logLabel->setText(QStringLiteral("Journal : ") + QDir::toNativeSeparators(m_log.path()));

    m_info = RunInfo{};
    m_info.start = QDateTime::currentDateTime();
    m_info.version = desktop::version();
    m_info.window = objectName();
    const auto setting = [](const QLabel *label) {
        const QString t = label->text();
        return t.mid(t.indexOf(QLatin1Char('=')) + 1).trimmed();
    };
    m_info.setpoint = QStringLiteral("charge %1, décharge %2")
                          .arg(setting(m_chargeSetText), setting(m_dischargeSetText));
    m_info.cells = m_cells == std::floor(m_cells) ? int(m_cells) : 0;
    m_info.port = session().deviceName();
    // The sidecar only adds to the log: when it cannot be written the process and its log go
    // on, and the log label says so.
    QString infoWhy;
    m_infoOpen = writeRunInfo(m_log.path(), m_info, &infoWhy);
    if (!m_infoOpen)
        m_logLabel->setText(m_logLabel->text() + QStringLiteral(" (fiche de mesure non écrite : ") +
                            infoWhy + QLatin1Char(')'));
}

void MesCapa::endRunInfo(const QString &reason) {
    if (!m_infoOpen) return;
    m_infoOpen = false;
    m_info.endReason = reason;
    // Written at the start already: a failure now only loses the reason.
    writeRunInfo(m_log.path(), m_info);
}

void MesCapa::writeRecord() {
    const double duree = double(m_duree);
    writeLine(recordLine({duree, m_temper.value, m_ichrg.value, m_idech.value, m_totalCharge,
                          m_totalDischarge, m_vbat.value, m_vunit, double(m_vdeltaCad),
                          m_resistanceValue, duree / 86400.0},
                         m_decimalPoint));
}

void MesCapa::writeLine(const QString &line) {
    if (!m_logging || !m_log.isOpen()) return;
    if (!m_log.append(line)) {
        // Disk full or removed: the process goes on, the window says the log stopped.
        m_log.close();
        m_logging = false;
        m_logFailed = true;
        m_logLabel->setText(QStringLiteral("Erreur d'écriture du journal ") +
                            QDir::toNativeSeparators(m_log.path()));
    }
}

} // namespace modes
