#include "runpoll.h"

namespace modes {

using namespace chlink;

PollSteps::PollSteps(Session &session, std::function<bool()> interrupted,
                     std::function<bool(int ms)> delay)
    : m_session(session), m_interrupted(std::move(interrupted)), m_delay(std::move(delay)) {}

bool PollSteps::going() {
    if (m_end != PollEnd::Done) return false;
    if (m_interrupted && m_interrupted()) {
        m_end = PollEnd::Interrupted;
        return false;
    }
    return true;
}

bool PollSteps::check(bool answered) {
    if (!going()) return false;
    if (!answered) {
        m_end = PollEnd::LinkFailed;
        return false;
    }
    return true;
}

bool PollSteps::set(Cmd code, quint8 value) {
    return going() && check(setOutput(m_session, code, value));
}

bool PollSteps::set(const Settings &settings) {
    for (const auto &[code, value] : settings)
        if (!set(code, value)) return false;
    return true;
}

bool PollSteps::read(Cmd code, std::optional<int> &count) {
    if (!going()) return false;
    const auto r = readChannel(m_session, code);
    if (!check(r.has_value())) return false;
    count = qint16(quint16(*r));
    return true;
}

bool PollSteps::readClock(std::optional<ClockTime> &time) {
    if (!going()) return false;
    const auto t = chlink::readClock(m_session);
    if (!check(t.has_value())) return false;
    time = t;
    return true;
}

bool PollSteps::delay(int ms) {
    if (m_end != PollEnd::Done) return false;
    if (m_delay && !m_delay(ms)) {
        m_end = PollEnd::Interrupted;
        return false;
    }
    return going();
}

namespace {
// Clock and supplies: the head of every poll of a run.
bool readHead(PollSteps &steps, RunSample &s) {
    return steps.readClock(s.clock) && steps.read(CMD_READ_VALIM, s.valim) &&
           steps.read(CMD_READ_VDBL, s.vdbl) && steps.read(CMD_READ_TEMP, s.temp);
}

RunSample ended(RunSample s, const PollSteps &steps) {
    s.end = steps.end();
    return s;
}
} // namespace

RunSample chargePoll(PollSteps &steps, int mode, PulseFlags &flags) {
    RunSample s;
    if (!readHead(steps, s) || !steps.read(CMD_READ_ICHRG, s.current)) return ended(s, steps);
    // Measurement pulse: the battery voltage is read without the charge current.
    if (mode == 0) {
        if (!steps.set({{CMD_CUT_CHARGE, 0}, {CMD_CUT_POWER, 0}, {CMD_GROUND_BAT, 1}}))
            return ended(s, steps);
        // From here until the discharge-off is answered, "Arret" or leaving must send it.
        flags.dischargeOn = true;
        if (!steps.set(CMD_CUT_DISCHARGE, 1)) return ended(s, steps);
        flags.delayDone = false;
    }
    if (!steps.delay(5)) return ended(s, steps);
    const bool dischargeOff = setOutput(steps.session(), CMD_CUT_DISCHARGE, 0);
    if (dischargeOff) flags.dischargeOn = false;
    if (!steps.check(dischargeOff) || !steps.read(CMD_READ_VBAT, s.vbat) ||
        !steps.read(CMD_READ_VDELTA, s.vdelta))
        return ended(s, steps);
    steps.set({{CMD_GROUND_BAT, 0}, {CMD_CUT_POWER, 1}, {CMD_CUT_CHARGE, 1}});
    return ended(s, steps);
}

RunSample dischargePoll(PollSteps &steps, PulseFlags &flags) {
    RunSample s;
    if (!readHead(steps, s) || !steps.read(CMD_READ_IDECH, s.current)) return ended(s, steps);
    // The battery is read with the discharge path off.
    if (!steps.set(CMD_CUT_DISCHARGE, 0)) return ended(s, steps);
    flags.delayDone = false;
    if (steps.delay(10) && steps.read(CMD_READ_VBAT, s.vbat)) steps.set(CMD_CUT_DISCHARGE, 1);
    return ended(s, steps);
}

RunSample idleDeltaPoll(PollSteps &steps) {
    RunSample s;
    if (steps.set(CMD_GROUND_BAT, 1) && steps.read(CMD_READ_VDELTA, s.vdelta))
        steps.set(CMD_GROUND_BAT, 0);
    return ended(s, steps);
}

} // namespace modes
