#include "monitorstream.h"

#include "charger/eeprommap.h"
#include "charger/progrecord.h"
#include "link/commands.h"

#include <algorithm>
#include <cmath>

using namespace chlink;
using charger::Quantity;

namespace sim {

bool readProgram(const QByteArray &library, int record, ChargeProgram *out) {
    namespace pr = charger::progrecord;
    if (record < 1 || record > pr::kPrograms || library.size() < pr::kRecordBytes * (record + 1))
        return false;
    const QByteArray r = library.mid(pr::kRecordBytes * record, pr::kRecordBytes);
    const pr::ProgramParams params = pr::recordParams(r);
    ChargeProgram p;
    p.record = record;
    p.name = r.left(pr::kNameChars).trimmed();
    p.flags = params.flags;
    // The type byte must be a type's digit (an erased record holds 0xFF).
    if (!chemistryFromText(QString(QLatin1Char(r.at(17))), &p.chemistry)) return false;
    p.cells = params.cells;
    p.chargeAmps = params.chargeCentiAmps / 100.0;
    p.durationSeconds = params.hours * 3600 + params.minutes * 60;
    p.volts = params.voltsCenti / 100.0;
    if (p.cells < 1) return false;
    *out = p;
    return true;
}

MonitorStream::MonitorStream(Model &model, const ChargerMemories &memories, const SimClock &clock,
                             LineFaults &line, const int &forcedType, const int &program)
    : m_model(model), m_mem(memories), m_clock(clock), m_line(line), m_forcedType(forcedType),
      m_program(program) {}

void MonitorStream::choose() {
    const QByteArray &library = m_mem.extEeprom[1];
    const BatterySpec &pack = m_model.battery().spec();
    ChargeProgram p;
    bool found = readProgram(library, m_program, &p);
    // No program chosen: the first for the pack, else the first of its chemistry.
    for (int pass = 0; pass < 2 && !found; ++pass)
        for (int k = 1; k <= 127 && !found; ++k)
            found = readProgram(library, k, &p) && p.chemistry == pack.chemistry &&
                    (pass == 1 || p.cells == pack.cells);
    if (!found) { // the pack's chemistry, at the automatic-mode current
        p = ChargeProgram{};
        p.chemistry = pack.chemistry;
        p.cells = pack.cells;
    }
    m_run.program = p;

    const int k = charger::value(m_mem.eepromSlave, charger::slave::kPotCharge);
    const int perAmp = k > 0 && k != 0xFF ? k : hw::kPotCoefficient;
    int pot = int(std::lround(p.chargeAmps * perAmp));
    if (pot <= 0) {
        const int autoPot = charger::value(m_mem.eepromMaster, charger::master::kAutoCharge);
        pot =
            autoPot != 0 && autoPot != 0xFF ? autoPot : int(std::lround(pack.capacityAh * perAmp));
    }
    pot = std::clamp(pot, 1, 255);
    m_model.hardware().outputs.potCharge = quint8(pot);
    m_run.setAmps = double(pot) / perAmp;

    // Lithium: held at its maximum ("C à V = 4.1v": 4.10 V), ended when the current falls
    // to a tenth of the set current (a fifth with "Fin rapide"). Lead-acid: ended at its
    // maximum, the gassing voltage.
    if (p.chemistry == Chemistry::Lithium) {
        const bool cv41 = p.flags & charger::progrecord::option::kLithiumCv41;
        m_run.limitPerCell = cv41                                ? 4.10
                             : p.volts >= 3.5 && p.volts <= 4.35 ? p.volts
                                                                 : Model::kLithiumCellLimit;
        m_run.taperFraction = p.flags & charger::progrecord::option::kLithiumFastEnd ? 0.2 : 0.1;
    } else if (p.chemistry == Chemistry::LeadAcid) {
        m_run.limitPerCell = p.volts >= 2.0 && p.volts <= 2.7 ? p.volts : 2.45;
    }
}

void MonitorStream::applyOutputs() {
    Outputs &outputs = m_model.hardware().outputs;
    outputs.discharge = false;
    if (m_run.ended) {
        cutOutputs();
        return;
    }
    outputs.ground = false;
    outputs.power = true;
    outputs.charge = true;
    // The doubler only when the supply cannot reach the pack's highest voltage (it costs
    // the heat sink dearly).
    const double highest =
        m_run.program.cells * (m_run.limitPerCell > 0 ? m_run.limitPerCell : 1.6);
    if (highest + 1.5 > m_model.hardware().supplyVolts - 0.6 && outputs.doublerCut) {
        outputs.doublerCut = 0;
        m_run.doublerOn = true;
    }
    m_model.setChargeLimit(m_run.program.chemistry == Chemistry::Lithium
                               ? m_run.program.cells * m_run.limitPerCell
                               : 0.0);
}

void MonitorStream::start() {
    if (m_run.active) return;
    if (m_run.suspended) { // the PC asked again: the run goes on where it was
        m_run.suspended = false;
        m_run.active = true;
    } else {
        m_run = MonitorRun{};
        m_run.active = true;
        m_run.startSeconds = m_model.seconds();
        m_run.nextRecord = m_model.seconds();
        choose();
    }
    applyOutputs();
    step();
}

void MonitorStream::stop() {
    if (!m_run.active) return;
    m_run.active = false;
    m_run.suspended = true;
    cutOutputs();
}

void MonitorStream::cutOutputs() {
    Outputs &outputs = m_model.hardware().outputs;
    outputs.charge = outputs.power = outputs.discharge = false;
    outputs.ground = true;
    if (m_run.doublerOn) outputs.doublerCut = 1;
    m_run.doublerOn = false;
    m_model.setChargeLimit(0);
}

void MonitorStream::addCharge(double ampereSeconds) {
    if (m_run.active) m_run.chargeAs += ampereSeconds;
}

MonitorEnd MonitorStream::endReached(double now) {
    const double elapsed = now - m_run.startSeconds;
    const ChargeProgram &p = m_run.program;
    // The firmware watches the resting battery voltage for its drop past the peak, and
    // the pack's temperature against its stop temperature.
    const int rest = m_model.count(Quantity::Vbat, m_model.packVolts(0));
    m_run.vbatPeak = std::max(m_run.vbatPeak, rest);
    const int stopC = charger::value(m_mem.eepromMaster, charger::master::kStopTemp);
    if (stopC > 0 && stopC < 200 && m_model.packTemperature() >= stopC)
        return MonitorEnd::Temperature;
    if (p.durationSeconds > 0 && elapsed >= p.durationSeconds) return MonitorEnd::Duration;
    switch (p.chemistry) {
    case Chemistry::NiCd:
    case Chemistry::NiMH: {
        const int dropCounts = std::max(2, p.cells / 2);
        if (elapsed > 300 && rest <= m_run.vbatPeak - dropCounts) return MonitorEnd::DeltaDrop;
        break;
    }
    case Chemistry::Lithium:
        if (elapsed > 60 && m_model.chargeAmps() < m_run.taperFraction * m_run.setAmps)
            return MonitorEnd::Taper;
        break;
    case Chemistry::LeadAcid:
        if (m_model.chargeAmps() > 0 && m_model.batteryVolts() >= p.cells * m_run.limitPerCell)
            return MonitorEnd::Voltage;
        break;
    }
    return MonitorEnd::None;
}

void MonitorStream::step() {
    const double now = m_model.seconds();
    if (!m_run.ended) {
        m_run.end = endReached(now);
        if (m_run.end != MonitorEnd::None) {
            m_run.ended = true;
            applyOutputs();
        }
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
