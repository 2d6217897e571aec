#include "monitorstream.h"

#include "charger/eeprommap.h"
#include "link/commands.h"

#include <algorithm>
#include <cmath>

using namespace chlink;
using charger::Quantity;

namespace sim {

MonitorStream::MonitorStream(Model &model, const ChargerMemories &memories, const SimClock &clock,
                             LineFaults &line, const int &forcedType)
    : m_model(model), m_mem(memories), m_clock(clock), m_line(line), m_forcedType(forcedType) {}

void MonitorStream::start() {
    if (m_run.active) return;
    m_run = MonitorRun{};
    m_run.active = true;
    m_run.startSeconds = m_model.seconds();
    m_run.nextRecord = m_model.seconds();
    // The charger charges on its own at its automatic-mode current.
    Outputs &outputs = m_model.hardware().outputs;
    const int autoPot = charger::value(m_mem.eepromMaster, charger::master::kAutoCharge);
    if (autoPot != 0 && autoPot != 0xFF)
        outputs.potCharge = quint8(autoPot);
    else if (outputs.potCharge == 0)
        outputs.potCharge = quint8(std::clamp(
            int(std::lround(m_model.battery().spec().capacityAh * hw::kPotCoefficient)), 1, 255));
    outputs.discharge = false;
    outputs.ground = false;
    outputs.power = true;
    outputs.charge = true;
    step();
}

void MonitorStream::stop() {
    if (!m_run.active) return;
    m_run.active = false;
    Outputs &outputs = m_model.hardware().outputs;
    outputs.charge = outputs.power = outputs.discharge = false;
    outputs.ground = true;
}

void MonitorStream::addCharge(double ampereSeconds) {
    if (m_run.active) m_run.chargeAs += ampereSeconds;
}

bool MonitorStream::endReached(double now) {
    // The firmware watches the resting battery voltage for its drop past the peak, and
    // the pack's temperature against its stop temperature.
    const int rest = m_model.count(Quantity::Vbat, m_model.packVolts(0));
    m_run.vbatPeak = std::max(m_run.vbatPeak, rest);
    const int dropCounts = std::max(2, m_model.battery().spec().cells / 2);
    const int stopC = charger::value(m_mem.eepromMaster, charger::master::kStopTemp);
    const bool dropped = now - m_run.startSeconds > 300 && rest <= m_run.vbatPeak - dropCounts;
    const bool hot = stopC > 0 && stopC < 200 && m_model.packTemperature() >= stopC;
    return dropped || hot;
}

void MonitorStream::step() {
    const double now = m_model.seconds();
    if (!m_run.ended && endReached(now)) {
        m_run.ended = true;
        Outputs &outputs = m_model.hardware().outputs;
        outputs.charge = false;
        outputs.power = false;
        outputs.ground = true;
    }
    m_run.deltaPeak = std::max(m_run.deltaPeak, m_model.deltaCount());
    if (now >= m_run.nextRecord) {
        sendRecord();
        // At most ten records a wall-clock second, whatever the speed factor.
        const double period = m_clock.isManual() ? 1.0 : std::max(1.0, m_clock.speed() * 0.1);
        m_run.nextRecord += period;
        if (m_run.nextRecord <= now) m_run.nextRecord = now + period;
    }
}

void MonitorStream::sendRecord() {
    const auto word = [](int v) { return QByteArray(1, char((v >> 8) & 0xFF)) + char(v & 0xFF); };
    const int vbat = m_model.count(Quantity::Vbat, m_model.packVolts(0));
    m_run.lastVbat.append(vbat);
    if (m_run.lastVbat.size() > 10) m_run.lastVbat.removeFirst();
    int sum = 0;
    for (int v : m_run.lastVbat)
        sum += v;
    const int mean = sum / int(m_run.lastVbat.size());
    const qint64 t = qint64(std::floor(m_model.seconds() - m_run.startSeconds + 1e-6));
    const int mAh = int(std::min(32767.0, m_run.chargeAs / 3.6));
    const int milliohms =
        int(std::lround(std::min(255.0, m_model.battery().resistanceOhms() * 1000)));
    const int type = m_forcedType ? m_forcedType : (m_run.ended ? 2 : 1);
    ++m_run.samples;

    QByteArray r(1, '\n');
    r += m_run.ended ? 'F' : 'C';
    r += word(m_run.samples & 0xFFFF);
    r += char(std::min<qint64>(255, t / 3600));
    r += char((t / 60) % 60);
    r += char(t % 60);
    r += '=';
    r += word(vbat);
    r += word(m_model.count(CMD_READ_ICHRG));
    r += word(m_model.count(CMD_READ_TEMP)); // the charger's temperature
    r += word(m_model.count(CMD_READ_VDELTA));
    r += char(0);
    r += char(milliohms);
    r += word(mAh);
    r += char(type);
    r += char(std::clamp(m_run.vbatPeak - vbat, 0, 255));
    r += word(m_model.count(CMD_READ_VALIM));
    r += word(m_model.count(CMD_READ_VDBL));
    r += word(mean);
    r += word(m_run.deltaPeak);
    m_line.send(r);
}

} // namespace sim
