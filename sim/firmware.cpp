#include "firmware.h"

#include "charger/status.h"
#include "link/commands.h"

#include <algorithm>
#include <cmath>
#include <utility>

using namespace chlink;
using charger::Status;
using charger::withStatus;

namespace sim {

namespace {
// A failed flash write is answered 8 in place of its ACK, as the boot loader does.
constexpr quint8 kFlashError = 8;
} // namespace

Firmware::Firmware(Model &model, ChargerMemories &memories, const SimClock &clock, LineFaults &line,
                   Hooks hooks)
    : m_model(model), m_out(model.hardware().outputs), m_mem(memories), m_clock(clock),
      m_line(line), m_hooks(std::move(hooks)) {}

// ---- The command table ----

const std::array<Firmware::Entry, 256> &Firmware::table() {
    static const std::array<Entry, 256> entries = [] {
        const std::pair<Cmd, Handler> handlers[] = {
            {CMD_PANEL_INIT, &Firmware::panelInit},
            {CMD_LINK_STATUS, &Firmware::linkStatus},
            {CMD_DISCONNECT, &Firmware::disconnect},
            {CMD_READ_TEMP, &Firmware::readChannel},
            {CMD_READ_VALIM, &Firmware::readChannel},
            {CMD_READ_VDBL, &Firmware::readChannel},
            {CMD_READ_VINV, &Firmware::readChannel},
            {CMD_READ_TBAT, &Firmware::readChannel},
            {CMD_READ_ICHRG, &Firmware::readChannel},
            {CMD_READ_IDECH, &Firmware::readChannel},
            {CMD_READ_VDELTA, &Firmware::readChannel},
            {CMD_READ_VBAT, &Firmware::readChannel},
            {CMD_CUT_CHARGE, &Firmware::setSwitch<&Outputs::charge>},
            {CMD_CUT_DISCHARGE, &Firmware::setSwitch<&Outputs::discharge>},
            {CMD_CUT_POWER, &Firmware::setSwitch<&Outputs::power>},
            {CMD_GROUND_BAT, &Firmware::setSwitch<&Outputs::ground>},
            {CMD_POT_ICHRG, &Firmware::setPot<&Outputs::potCharge>},
            {CMD_POT_IDECH, &Firmware::setPot<&Outputs::potDischarge>},
            {CMD_POT_VDELTA, &Firmware::setPot<&Outputs::potGain>},
            {CMD_POT_OFFSET, &Firmware::setPot<&Outputs::potOffset>},
            {CMD_LED, &Firmware::setSwitch<&Outputs::led>},
            {CMD_BEEP, &Firmware::beep},
            {CMD_FAN, &Firmware::setSwitch<&Outputs::fan>},
            {CMD_READ_SW6, &Firmware::readSw6},
            {CMD_READ_OUTPUTS, &Firmware::readOutputs},
            {CMD_READ_PORT, &Firmware::readPort},
            {CMD_EE_READ_MASTER, &Firmware::eeReadMaster},
            {CMD_EE_READ_SLAVE, &Firmware::eeReadSlave},
            {CMD_EE_WRITE_MASTER, &Firmware::eeWriteMaster},
            {CMD_EE_WRITE_SLAVE, &Firmware::eeWriteSlave},
            {CMD_READ_CLOCK, &Firmware::readClock},
            {CMD_PHASE_START, &Firmware::phaseStart},
            {CMD_FLASH_READ_MASTER, &Firmware::flashReadMaster},
            {CMD_FLASH_READ_SLAVE, &Firmware::flashReadSlave},
            {CMD_FLASH_WRITE_MASTER, &Firmware::flashWriteMaster},
            {CMD_FLASH_WRITE_SLAVE, &Firmware::flashWriteSlave},
            {CMD_EXT_EE_READ, &Firmware::extEeRead},
            {CMD_EXT_EE_WRITE, &Firmware::extEeWrite},
            {CMD_BOOSTER, &Firmware::booster},
        };
        std::array<Entry, 256> t{};
        for (const auto &[code, handler] : handlers)
            t[code] = {commandShape(code).args, handler};
        return t;
    }();
    return entries;
}

int Firmware::argumentCount(quint8 code) const {
    const Entry &e = table()[code];
    if (e.args < 0 || !e.handler) return -1;
    if (code == CMD_BOOSTER && m_model.hardware().boosterSupply) return 4;
    return e.args;
}

void Firmware::onByte(quint8 b) {
    switch (m_state) {
    case State::Idle:
        if (b == ESC)
            m_state = State::Code;
        else if (b == PROBE)
            m_line.reply(QByteArray(1, char(ESC)));
        else if (b == CONFIRM)
            m_line.reply(QByteArray(1, char(PROBE)));
        return;
    case State::Code:
        m_code = b;
        m_argsWanted = argumentCount(b);
        m_args.clear();
        if (m_argsWanted < 0) { // unknown command: ignored
            m_state = State::Idle;
        } else if (m_argsWanted == 0) {
            m_state = State::Idle;
            execute();
        } else {
            m_state = State::Args;
        }
        return;
    case State::Args:
        m_args.append(char(b));
        if (m_args.size() >= m_argsWanted) {
            m_state = State::Idle;
            execute();
        }
        return;
    }
}

void Firmware::execute() {
    (this->*table()[m_code].handler)();
}

// ---- Replies ----

void Firmware::answer() {
    m_line.reply(QByteArray(1, char(m_code)));
}

void Firmware::ack() {
    m_line.reply(QByteArray(1, char(ACK)));
}

void Firmware::word(int w) {
    m_line.frame(QByteArray(1, char(w >> 8)) + char(w & 0xFF));
}

void Firmware::byteFrame(char b) {
    m_line.frame(QByteArray(1, b));
}

// ---- Handlers ----

void Firmware::panelInit() {
    ack();
}

void Firmware::linkStatus() {
    m_line.frame(QByteArray("\0\0", 2) + char(m_mem.slavePresent ? ACK : 0));
}

void Firmware::disconnect() {
    m_hooks.disconnect();
}

void Firmware::readChannel() {
    word(m_model.count(m_code));
}

void Firmware::beep() {
    ++m_beeps;
    m_hooks.beep();
    answer();
}

void Firmware::booster() {
    m_out.doublerCut = arg(0) ? 1 : 0;
    if (m_args.size() == 4) {
        m_out.pwmFrequency = arg(1);
        m_out.pwmDelta = quint16(std::min(1023, arg(2) * 256 + arg(3)));
    }
    answer();
}

void Firmware::readSw6() {
    byteFrame(char(withStatus(0, charger::buttonStatus(6), !m_model.buttonPressed(6))));
}

void Firmware::readOutputs() {
    quint8 s = withStatus(0, Status::DoublerCut, m_out.doublerCut);
    s = withStatus(s, Status::LedOn, m_out.led);
    s = withStatus(s, Status::FanOn, m_out.fan);
    byteFrame(char(s));
}

void Firmware::readPort() {
    quint8 p = withStatus(0, Status::DischargeCut, !m_out.discharge);
    p = withStatus(p, Status::ChargeCut, !m_out.charge);
    p = withStatus(p, Status::PowerCut, !m_out.power);
    for (int n = 1; n <= 5; ++n)
        p = withStatus(p, charger::buttonStatus(n), !m_model.buttonPressed(n));
    byteFrame(char(p));
}

void Firmware::eeReadMaster() {
    byteFrame(m_mem.eepromMaster.at(arg(0)));
}

void Firmware::eeReadSlave() {
    byteFrame(m_mem.slavePresent ? m_mem.eepromSlave.at(arg(0)) : char(0xFF));
}

void Firmware::eepromWrite(QByteArray &image, EepromMemory memory, int address, char value,
                           int ms) {
    m_hooks.writeCycle(ms, [this, &image, memory, address, value] {
        if (!m_line.eepromWriteFails(memory, address)) image[address] = value;
        ack();
    });
}

void Firmware::eeWriteMaster() {
    eepromWrite(m_mem.eepromMaster, EepromMemory::Master, arg(0), char(arg(1)),
                kMasterEepromWriteMs);
}

void Firmware::eeWriteSlave() {
    if (!m_mem.slavePresent) { // nothing answers on the I2C bus: the master acknowledges
        ack();
        return;
    }
    eepromWrite(m_mem.eepromSlave, EepromMemory::Slave, arg(0), char(arg(1)), kSlaveEepromWriteMs);
}

void Firmware::readClock() {
    const qint64 s = qint64(std::floor(m_clock.seconds() + 1e-6));
    m_line.frame(QByteArray(1, char((s / 3600) % 24)) + char((s / 60) % 60) + char(s % 60));
}

void Firmware::phaseStart() {
    ++m_phaseStarts;
    answer();
}

void Firmware::flashReadMaster() {
    // The master's program words are two bytes, low byte at the even address.
    const int w = (arg(0) * 256 + arg(1)) % (ChargerMemories::kMasterFlashBytes / 2);
    word(quint8(m_mem.masterFlash.at(2 * w + 1)) * 256 + quint8(m_mem.masterFlash.at(2 * w)));
}

void Firmware::flashReadSlave() {
    const int w = (arg(0) * 256 + arg(1)) % ChargerMemories::kSlaveFlashWords;
    word(m_mem.slavePresent ? m_mem.slaveFlash.at(w) : 0xFFFF);
}

void Firmware::flashWriteMaster() {
    const int a = (arg(0) * 256 + arg(1)) % ChargerMemories::kMasterFlashBytes;
    if (m_line.flashWriteFails(a)) {
        m_line.reply(QByteArray(1, char(kFlashError)));
        return;
    }
    const int n = std::min(64, ChargerMemories::kMasterFlashBytes - a);
    m_mem.masterFlash.replace(a, n, m_args.mid(2, n));
    ack();
}

void Firmware::flashWriteSlave() {
    const int w = (arg(0) * 256 + arg(1)) % ChargerMemories::kSlaveFlashWords;
    if (m_line.flashWriteFails(w)) {
        m_line.reply(QByteArray(1, char(kFlashError)));
        return;
    }
    if (m_mem.slavePresent) m_mem.slaveFlash[w] = quint16((arg(2) * 256 + arg(3)) & 0x3FFF);
    ack();
}

void Firmware::extEeRead() {
    const int a = (arg(1) * 256 + arg(2)) % kExtEepromBytes;
    byteFrame(arg(0) < 2 ? m_mem.extEeprom[arg(0)].at(a) : char(0xFF));
}

void Firmware::extEeWrite() {
    const int a = (arg(1) * 256 + arg(2)) % kExtEepromBytes;
    if (arg(0) >= 2) { // no such device on the bus
        ack();
        return;
    }
    eepromWrite(m_mem.extEeprom[arg(0)], arg(0) ? EepromMemory::External1 : EepromMemory::External0,
                a, char(arg(3)), kExternalEepromWriteMs);
}

} // namespace sim
