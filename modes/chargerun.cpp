#include "chargerun.h"

#include "charger/eeprommap.h"
#include "link/numtext.h"

#include <cmath>

namespace modes {

using namespace chlink;

// ---------------------------------------------------------------- Run

Run::Run(const QByteArray &tableA, const QByteArray &tableB, const char *logPrefix,
         const QStringList &columns, Settings stopped, Quantity currentQuantity)
    : m_tableA(tableA), m_tableB(tableB), m_logPrefix(logPrefix), m_columns(columns),
      m_stopped(std::move(stopped)), m_currentQuantity(currentQuantity) {}

void Run::reset() {
    m_counter.reset();
    m_duree = 0; // the first poll integrates from the start, not from the last run
    m_prevDuree = 0;
    m_logDuree = 0;
    m_endFlag = false;
    m_pulse.dischargeOn = false;
    m_logging = false;
    m_log.close();
    m_info = RunInfo();
    m_hasLog = false;
    m_sidecarError.clear();
}

bool Run::readStartClock(PollSteps &steps) {
    std::optional<ClockTime> t;
    if (!steps.readClock(t)) return false;
    m_clock.start(t->totalSeconds());
    return true;
}

bool Run::openLog(const QString &folder, const QDateTime &now, const RunInfo &info,
                  QString *error) {
    const QString path = folder + QLatin1Char('/') + logFileName(QLatin1String(m_logPrefix), now);
    if (!m_log.open(path, headerLine(m_columns), error)) return false;
    m_logging = true;
    m_hasLog = true;
    m_info = info;
    m_info.endReason.clear();
    writeInfo();
    return true;
}

void Run::writeInfo() {
    QString why;
    if (!writeRunInfo(m_log.path(), m_info, &why)) m_sidecarError = why;
}

void Run::finish(const QString &reason) {
    if (!m_hasLog || !m_info.endReason.isEmpty()) return;
    // The log viewer may have named the pack while the run went on.
    if (const auto now = readRunInfo(m_log.path()); now && !now->pack.isEmpty())
        m_info.pack = now->pack;
    m_info.endReason = reason;
    writeInfo();
}

bool Run::headlessDelay(Session &session, int ms, const std::function<bool()> &stopHere) {
    if (!m_pulse.delayDone) session.waitUntil(stopHere, ms);
    m_pulse.delayDone = true;
    return !stopHere();
}

Settings Run::stopOutputs() const {
    Settings s;
    if (m_pulse.dischargeOn) s.emplace_back(CMD_CUT_DISCHARGE, 0);
    s.insert(s.end(), m_stopped.begin(), m_stopped.end());
    return s;
}

std::optional<double> Run::conv(Quantity q, int count) const {
    return convert(q, count, m_tableA, m_tableB);
}

void Run::takeHead(const RunSample &s) {
    m_prevDuree = m_duree;
    if (s.clock) {
        const ClockTime &t = *s.clock;
        const bool fieldsValid = t.hours < 24 && t.minutes < 60 && t.seconds < 60;
        const RunClock::Reading r = m_clock.read(t.totalSeconds(), fieldsValid);
        m_duree = r.elapsed;
        m_logDuree = r.received;
    }
    const std::optional<int> *counts[3] = {&s.valim, &s.vdbl, &s.temp};
    static const Quantity quantities[3] = {Quantity::Valim, Quantity::Vdbl, Quantity::Temper};
    for (int i = 0; i < 3; ++i) {
        if (!*counts[i]) return;
        m_supplyCad[i] = **counts[i];
        m_supply[i].update(conv(quantities[i], m_supplyCad[i]));
    }
}

void Run::takeCurrent(int count) {
    m_currentCad = count;
    m_current.update(conv(m_currentQuantity, count));
    m_counter.add(m_duree - m_prevDuree, m_current.orZero());
}

void Run::takeVbat(int count) {
    m_vbatCad = count;
    m_vbat.update(conv(Quantity::Vbat, count));
}

bool Run::record(const std::vector<Field> &fields) {
    if (!m_logging || !m_log.isOpen()) return true;
    if (m_log.append(recordLine(fields, m_decimalPoint))) return true;
    // Disk full or removed: the run goes on without its log.
    m_log.close();
    m_logging = false;
    return false;
}

// ---------------------------------------------------------------- charge

ChargeRun::ChargeRun(const QByteArray &tableA, const QByteArray &tableB)
    : Run(tableA, tableB, kChargePrefix, chargeColumns(),
          {{CMD_CUT_CHARGE, 0}, {CMD_CUT_POWER, 0}, {CMD_GROUND_BAT, 1}}, Quantity::Ichrg) {}

void ChargeRun::reset() {
    Run::reset();
    m_peak.reset();
    m_detector.reset();
}

Settings ChargeRun::startOutputs() const {
    return {{CMD_POT_ICHRG, quint8(m_pot)},
            {CMD_GROUND_BAT, 0},
            {CMD_CUT_DISCHARGE, 0},
            {CMD_CUT_POWER, 1},
            {CMD_CUT_CHARGE, 1},
            {CMD_POT_IDECH, 35}};
}

Settings ChargeRun::endOutputs() const {
    return {{CMD_CUT_POWER, 0}, {CMD_CUT_CHARGE, 0}};
}

QString ChargeRun::endText() const {
    return QStringLiteral("Charge Terminée");
}

PollOutcome ChargeRun::poll(PollSteps &steps) {
    PollOutcome o;
    o.sample = chargePoll(steps, m_mode, m_pulse);
    const RunSample &s = o.sample;
    takeHead(s);
    if (s.current) takeCurrent(*s.current);
    if (s.vbat) {
        takeVbat(*s.vbat);
        o.block = m_detector.addSample(m_vbatCad, m_duree).has_value();
    }
    if (s.vdelta) {
        m_vdeltaCad = *s.vdelta;
        if (m_peak.update(m_vdeltaCad)) m_endFlag = o.ended = true;
    }
    if (s.end != PollEnd::Done) return o;
    const auto avg = m_detector.average();
    o.logFailed =
        !record({double(m_logDuree), double(m_supplyCad[0]), double(m_supplyCad[1]),
                 avg ? std::optional<double>(*avg) : std::nullopt, m_supply[0].value,
                 double(int(m_detector.box())), double(m_detector.rise()), m_supply[2].value,
                 double(m_currentCad), double(m_vbatCad), double(m_vdeltaCad), m_current.value,
                 m_vbat.value, double(m_peak.peak()), double(m_counter.capacity()),
                 double(m_logDuree) / 86400.0});
    return o;
}

// ---------------------------------------------------------------- discharge

DischargeRun::DischargeRun(const QByteArray &tableA, const QByteArray &tableB)
    : Run(tableA, tableB, kDischargePrefix, dischargeColumns(),
          {{CMD_CUT_DISCHARGE, 0}, {CMD_CUT_POWER, 0}, {CMD_GROUND_BAT, 1}}, Quantity::Idech) {}

Settings DischargeRun::startOutputs() const {
    return {{CMD_POT_IDECH, quint8(m_pot)},
            {CMD_CUT_CHARGE, 0},
            {CMD_CUT_POWER, 0},
            {CMD_CUT_DISCHARGE, 1},
            {CMD_GROUND_BAT, 1}};
}

Settings DischargeRun::endOutputs() const {
    return {{CMD_CUT_DISCHARGE, 0}, {CMD_CUT_POWER, 0}, {CMD_GROUND_BAT, 1}};
}

QString DischargeRun::endText() const {
    return QStringLiteral("Limite Dech.");
}

PollOutcome DischargeRun::poll(PollSteps &steps) {
    PollOutcome o;
    o.sample = dischargePoll(steps, m_pulse);
    const RunSample &s = o.sample;
    takeHead(s);
    if (s.current) takeCurrent(*s.current);
    if (s.vbat) {
        takeVbat(*s.vbat);
        if (m_vbat.value && m_cells > 0) m_vpc = modes::voltsPerCell(*m_vbat.value, m_cells);
    }
    if (s.end != PollEnd::Done) return o;
    if (m_vpc && endOfDischarge(*m_vpc)) m_endFlag = o.ended = true;
    o.logFailed =
        !record({double(m_logDuree), double(m_supplyCad[0]), double(m_supplyCad[1]),
                 double(m_supplyCad[2]), m_supply[0].value, m_supply[1].value, m_supply[2].value,
                 double(m_currentCad), double(m_vbatCad), m_current.value, m_vbat.value,
                 double(m_counter.capacity()), double(m_logDuree) / 86400.0});
    return o;
}

// ---------------------------------------------------------------- outputs off

bool switchOff(Session &session, const Settings &settings, PulseFlags &pulse) {
    bool answered = true;
    for (const auto &[code, value] : settings) {
        if (!session.isOpen()) return false;
        if (answered)
            answered = setOutput(session, code, value);
        else
            session.command(code, {value});
    }
    if (!answered) session.flush();
    for (const auto &[code, value] : settings)
        if (code == CMD_CUT_DISCHARGE && value == 0) pulse.dischargeOn = false;
    return answered;
}

void switchOffAfterFailure(Session &session, const std::function<bool()> &stopHere) {
    // One try, each answer waited for once: a silent charger costs two reply time-outs.
    for (Cmd c : {CMD_CUT_CHARGE, CMD_CUT_DISCHARGE}) {
        session.command(c, {0});
        if (!session.answerByte() && session.error() != LinkError::Timeout) return;
        if (stopHere && stopHere()) return;
    }
}

int wholeCells(double cells) {
    return cells > 0 && cells < 1000 && cells == std::floor(cells) ? int(cells) : 0;
}

QString setpointShown(int pot, int divisorByte) {
    return setpointText(QString(), pot, divisorByte).trimmed();
}

} // namespace modes
