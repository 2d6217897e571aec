#include "virtualcharger.h"

#include "charger/channels.h"
#include "charger/eeprommap.h"
#include "charger/status.h"
#include "link/commands.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

using namespace chlink;
using charger::Quantity;
using charger::Status;
using charger::withStatus;

namespace sim {

namespace {
constexpr quint8 NACK = 7;
constexpr quint8 ERFLASH = 8;

int clampCount(double c) {
    return int(std::lround(std::clamp(c, 0.0, double(hw::kAdcMax))));
}
} // namespace

VirtualCharger::VirtualCharger(QObject *parent) : VirtualCharger(Mode::Firmware, parent) {}

VirtualCharger::VirtualCharger(Mode mode, QObject *parent)
    : QObject(parent), m_mode(mode == Mode::Monitor ? Mode::Firmware : mode) {
    eepromMaster = defaultMasterEeprom();
    eepromSlave = defaultSlaveEeprom();
    extEeprom[0] = defaultTextEeprom();
    extEeprom[1] = defaultProgramEeprom();
    masterFlash = QByteArray(kMasterFlashBytes, char(0xFF));
    slaveFlash = QVector<quint16>(kSlaveFlashWords, 0x3FFF);
    m_sinkC = m_battery.spec().ambientC;
    m_monitorTimer = new QTimer(this);
    m_monitorTimer->setInterval(100);
    connect(m_monitorTimer, &QTimer::timeout, this, &VirtualCharger::update);
    if (mode == Mode::Monitor) setMode(mode); // as after command 3: the charger's own run
}

VirtualCharger::~VirtualCharger() = default;

void VirtualCharger::setMode(Mode mode) {
    if (mode == m_mode) return;
    update();
    const int before = baudRate();
    const Mode old = m_mode;
    m_mode = mode;
    m_state = State::Idle;
    m_boot = BootState::Idle;
    m_bootSawC = false;
    if (old == Mode::Monitor && m_run.active) {
        // Leaving the monitor stream ends the charger's own run, with its outputs cut.
        m_run.active = false;
        outputs.charge = outputs.power = outputs.discharge = false;
        outputs.ground = true;
    }
    if (mode == Mode::Monitor) startMonitorRun();
    m_monitorTimer->stop();
    if (mode == Mode::Monitor && !m_clock.isManual()) m_monitorTimer->start();
    if (baudRate() != before) emit baudRateChanged(baudRate());
}

void VirtualCharger::setManualClock(bool manual) {
    update();
    m_clock.setManual(manual);
    if (manual)
        m_monitorTimer->stop();
    else if (m_mode == Mode::Monitor)
        m_monitorTimer->start();
}

void VirtualCharger::advance(double chargerSeconds) {
    update();
    m_clock.advance(chargerSeconds);
    update();
}

void VirtualCharger::setBattery(const BatterySpec &spec) {
    update();
    m_battery.reset(spec);
}

void VirtualCharger::pressButton(int n, bool pressed) {
    if (n >= 1 && n <= 6) m_buttons[n - 1] = pressed;
}

bool VirtualCharger::buttonPressed(int n) const {
    return n >= 1 && n <= 6 && m_buttons[n - 1];
}

void VirtualCharger::scriptBootAnswer(int byteAddress, quint8 answer, int times) {
    auto &list = faults.bootAnswers[byteAddress];
    for (int i = 0; i < times; ++i)
        list.append(answer);
}

void VirtualCharger::failFlashWrites(int count, int address) {
    faults.flashFailures = count;
    faults.flashFailAddress = address;
}

bool VirtualCharger::flashWriteFails(int address) {
    if (faults.flashFailures <= 0) return false;
    if (faults.flashFailAddress >= 0 && faults.flashFailAddress != address) return false;
    --faults.flashFailures;
    return true;
}

// ---- The model ----

double VirtualCharger::doublerVolts() const {
    if (outputs.doublerCut) return std::max(0.0, supplyVolts - 0.6); // through the diode only
    if (boosterSupply && outputs.pwmFrequency > 0) {
        const double duty = std::clamp(outputs.pwmDelta / (4.0 * outputs.pwmFrequency), 0.0, 0.8);
        return std::max(0.0, supplyVolts / (1.0 - duty) - 0.6);
    }
    return std::max(0.0, 2.0 * supplyVolts - 1.2);
}

double VirtualCharger::sourceVolts() const {
    return std::max(supplyVolts, doublerVolts());
}

double VirtualCharger::chargeAmpsNow() const {
    if (!outputs.charge || !outputs.power || reversedBattery) return 0;
    const int pot = charger::value(eepromSlave, charger::slave::kPotCharge);
    const int k = pot ? pot : hw::kPotCoefficient;
    const double wanted = double(outputs.potCharge) / k;
    // The linear stage needs headroom above the battery.
    const double headroom = sourceVolts() - 1.5 - packVolts(0);
    return std::clamp(headroom / m_battery.resistanceOhms(), 0.0, wanted);
}

double VirtualCharger::dischargeAmpsNow() const {
    if (!outputs.discharge || reversedBattery) return 0;
    const int pot = charger::value(eepromSlave, charger::slave::kPotDischarge);
    const int k = pot ? pot : hw::kPotCoefficient;
    const double wanted = double(outputs.potDischarge) / k;
    return std::clamp(packVolts(0) / (m_battery.resistanceOhms() + 0.1), 0.0, wanted);
}

void VirtualCharger::stepModel(double dt) {
    const double ic = chargeAmpsNow();
    const double id = dischargeAmpsNow();
    const double vbat = packVolts(ic - id);
    // The heat sink takes the linear stage's loss and the discharge load.
    const double loss = ic * std::max(0.0, sourceVolts() - vbat) + id * vbat + 0.5;
    const double sinkRes = outputs.fan ? 1.2 : 3.0;
    const double ambient = m_battery.spec().ambientC;
    m_sinkC += dt * (loss - (m_sinkC - ambient) / sinkRes) / 60.0;
    // A laboratory supply in the battery's place takes the current; the pack rests.
    m_battery.step(dt, labSupplyVolts > 0 ? 0.0 : ic - id, outputs.fan);
    if (m_run.active) m_run.chargeAs += ic * dt;
}

void VirtualCharger::update() {
    const double target = m_clock.seconds();
    if (target < m_modelSeconds) // the clock was set back
        m_modelSeconds = target;
    while (m_modelSeconds < target) {
        // Second steps while anything flows; an idle pack only cools and rests, which
        // longer steps follow well (its time constants are minutes), so hours of idle
        // charger time at a high speed factor cost little.
        const bool idle = chargeAmpsNow() == 0 && dischargeAmpsNow() == 0 &&
                          !(m_mode == Mode::Monitor && m_run.active);
        const double dt = std::min(idle ? 20.0 : 1.0, target - m_modelSeconds);
        stepModel(dt);
        m_modelSeconds += dt;
        if (m_mode == Mode::Monitor && m_run.active) monitorStep();
    }
}

double VirtualCharger::chargeAmps() {
    update();
    return chargeAmpsNow();
}

double VirtualCharger::dischargeAmps() {
    update();
    return dischargeAmpsNow();
}

double VirtualCharger::batteryVolts() {
    update();
    return packVolts(chargeAmpsNow() - dischargeAmpsNow());
}

double VirtualCharger::packVolts(double amps) const {
    return labSupplyVolts > 0 ? labSupplyVolts : m_battery.terminalVolts(amps);
}

double VirtualCharger::packTemperature() {
    update();
    return m_battery.temperatureC();
}

double VirtualCharger::heatsinkTemperature() {
    update();
    return m_sinkC;
}

int VirtualCharger::channelCount(int code) {
    update();
    return countOf(code);
}

int VirtualCharger::deltaCountNow() const {
    const double vbat = packVolts(chargeAmpsNow() - dischargeAmpsNow());
    const double offset = outputs.potOffset * hw::kDeltaOffsetStep;
    return clampCount((vbat - offset) * hw::deltaGain(outputs.potGain) * hw::kDeltaCountsPerVolt);
}

// The count a channel answers: the inverse of the PC's conversion with the calibration held
// in the charger's own EEPROMs, so that calibrated displays read true values.
int VirtualCharger::countOf(Quantity q, double value) const {
    return clampCount(charger::countFor(q, value, eepromMaster, eepromSlave));
}

int VirtualCharger::countOf(int code) const {
    switch (code) {
    case CMD_READ_TEMP:
        return countOf(Quantity::Temper, m_battery.temperatureC());
    case CMD_READ_VALIM:
        return countOf(Quantity::Valim, supplyVolts);
    case CMD_READ_VDBL:
        return countOf(Quantity::Vdbl, doublerVolts());
    case CMD_READ_VINV:
        return reversedBattery ? 12 : 850;
    case CMD_READ_TBAT:
        return countOf(Quantity::Temper, m_sinkC);
    case CMD_READ_ICHRG:
        return countOf(Quantity::Ichrg, chargeAmpsNow());
    case CMD_READ_IDECH:
        return countOf(Quantity::Idech, dischargeAmpsNow());
    case CMD_READ_VDELTA:
        return deltaCountNow();
    case CMD_READ_VBAT:
        if (reversedBattery) return 0;
        return countOf(Quantity::Vbat, packVolts(chargeAmpsNow() - dischargeAmpsNow()));
    default:
        return 0;
    }
}

// ---- Monitor stream ----

void VirtualCharger::startMonitorRun() {
    if (m_run.active) return;
    m_run = MonitorRun{};
    m_run.active = true;
    m_run.startSeconds = m_modelSeconds;
    m_run.nextRecord = m_modelSeconds;
    // The charger charges on its own at its automatic-mode current.
    const int autoPot = charger::value(eepromMaster, charger::master::kAutoCharge);
    if (autoPot != 0 && autoPot != 0xFF)
        outputs.potCharge = quint8(autoPot);
    else if (outputs.potCharge == 0)
        outputs.potCharge = quint8(std::clamp(
            int(std::lround(m_battery.spec().capacityAh * hw::kPotCoefficient)), 1, 255));
    outputs.discharge = false;
    outputs.ground = false;
    outputs.power = true;
    outputs.charge = true;
    monitorStep();
}

void VirtualCharger::monitorStep() {
    const double now = m_modelSeconds;
    if (!m_run.ended) {
        // The firmware watches the resting battery voltage for its drop past the peak, and
        // the pack's temperature against its stop temperature.
        const int rest = countOf(Quantity::Vbat, packVolts(0));
        m_run.vbatPeak = std::max(m_run.vbatPeak, rest);
        const int dropCounts = std::max(2, m_battery.spec().cells / 2);
        const int stopC = charger::value(eepromMaster, charger::master::kStopTemp);
        const bool dropped = now - m_run.startSeconds > 300 && rest <= m_run.vbatPeak - dropCounts;
        const bool hot = stopC > 0 && stopC < 200 && m_battery.temperatureC() >= stopC;
        if (dropped || hot) {
            m_run.ended = true;
            outputs.charge = false;
            outputs.power = false;
            outputs.ground = true;
        }
    }
    m_run.deltaPeak = std::max(m_run.deltaPeak, deltaCountNow());
    if (now >= m_run.nextRecord) {
        sendMonitorRecord();
        // At most ten records a wall-clock second, whatever the speed factor.
        const double period = m_clock.isManual() ? 1.0 : std::max(1.0, m_clock.speed() * 0.1);
        m_run.nextRecord += period;
        if (m_run.nextRecord <= now) m_run.nextRecord = now + period;
    }
}

void VirtualCharger::sendMonitorRecord() {
    const auto word = [](int v) { return QByteArray(1, char((v >> 8) & 0xFF)) + char(v & 0xFF); };
    const int vbat = countOf(Quantity::Vbat, packVolts(0));
    m_run.lastVbat.append(vbat);
    if (m_run.lastVbat.size() > 10) m_run.lastVbat.removeFirst();
    int sum = 0;
    for (int v : m_run.lastVbat)
        sum += v;
    const int mean = sum / int(m_run.lastVbat.size());
    const qint64 t = qint64(std::floor(m_modelSeconds - m_run.startSeconds + 1e-6));
    const int mAh = int(std::min(32767.0, m_run.chargeAs / 3.6));
    const int milliohms = int(std::lround(std::min(255.0, m_battery.resistanceOhms() * 1000)));
    const int type = forceMonitorType ? forceMonitorType : (m_run.ended ? 2 : 1);
    ++m_run.samples;

    QByteArray r(1, '\n');
    r += m_run.ended ? 'F' : 'C';
    r += word(m_run.samples & 0xFFFF);
    r += char(std::min<qint64>(255, t / 3600));
    r += char((t / 60) % 60);
    r += char(t % 60);
    r += '=';
    r += word(vbat);
    r += word(countOf(CMD_READ_ICHRG));
    r += word(countOf(CMD_READ_TEMP));
    r += word(countOf(CMD_READ_VDELTA));
    r += char(0);
    r += char(milliohms);
    r += word(mAh);
    r += char(type);
    r += char(std::clamp(m_run.vbatPeak - vbat, 0, 255));
    r += word(countOf(CMD_READ_VALIM));
    r += word(countOf(CMD_READ_VDBL));
    r += word(mean);
    r += word(m_run.deltaPeak);
    send(r);
}

// ---- The line ----

void VirtualCharger::receive(const QByteArray &bytes) {
    update();
    for (char c : bytes) {
        if (faults.vanishAfterBytes == 0)
            return; // the line is gone: nothing more reaches the charger
        onByte(quint8(c));
        if (faults.vanishAfterBytes > 0 && --faults.vanishAfterBytes == 0) {
            emit vanishRequested();
            return;
        }
    }
}

void VirtualCharger::send(const QByteArray &bytes) {
    QByteArray out = bytes;
    if (faults.silenceAfterBytes >= 0) {
        out.truncate(qsizetype(std::min<qint64>(out.size(), faults.silenceAfterBytes)));
        faults.silenceAfterBytes -= out.size();
    }
    if (!out.isEmpty()) emit transmit(out);
}

void VirtualCharger::reply(const QByteArray &bytes) {
    QByteArray out;
    ++m_replies;
    if (!faults.strayOnce.isEmpty()) {
        out += faults.strayOnce;
        faults.strayOnce.clear();
    }
    if (faults.strayEvery > 0 && m_replies % faults.strayEvery == 0) out += faults.strayBytes;
    send(out + bytes);
}

void VirtualCharger::frame(const QByteArray &data) {
    reply(QByteArray(1, char(ESC)) + data + char(0));
}

void VirtualCharger::onByte(quint8 b) {
    if (m_mode == Mode::BootLoader) {
        onBootByte(b);
        return;
    }
    if (m_mode == Mode::Monitor) {
        // The stream only talks. Any byte from the PC (back at 9600 baud) ends it: the
        // charger returns to its command set, and takes the byte if it is a probe or the
        // start of a command.
        setMode(Mode::Firmware);
        if (b != PROBE && b != ESC) return;
    }
    onFirmwareByte(b);
}

void VirtualCharger::receiveGarbled(int count) {
    if (count <= 0) return;
    update();
    // A byte at the wrong speed is noise to the charger, but in the monitor stream it still
    // tells the charger that the PC talks again.
    if (m_mode == Mode::Monitor) setMode(Mode::Firmware);
}

// ---- Boot loader ----

void VirtualCharger::onBootByte(quint8 b) {
    switch (m_boot) {
    case BootState::Idle:
        if (b == ESC) {
            m_boot = BootState::AddrHigh;
        } else if (b == 'D' && m_bootSawC) {
            reply(QByteArray(1, 'c'));
        }
        m_bootSawC = b == 'C';
        return;
    case BootState::AddrHigh:
        m_bootHigh = b;
        m_boot = BootState::AddrLow;
        return;
    case BootState::AddrLow:
        m_bootLow = b;
        if (m_bootHigh == 255 && m_bootLow == 0) {
            m_boot = BootState::Idle;
            ++m_bootEnds;
            emit uploadEnded();
            return;
        }
        m_bootData.clear();
        m_boot = BootState::Data;
        return;
    case BootState::Data:
        m_bootData.append(char(b));
        if (m_bootData.size() == 66) { // 64 data bytes, the sum, the trailing 0
            m_boot = BootState::Idle;
            bootBlock();
        }
        return;
    }
}

void VirtualCharger::bootBlock() {
    const int address = m_bootHigh * 256 + m_bootLow;
    const auto answer = [this](quint8 a) { reply(QByteArray(1, char(a))); };
    auto scripted = faults.bootAnswers.find(address);
    if (scripted != faults.bootAnswers.end() && !scripted->isEmpty()) {
        const quint8 a = scripted->takeFirst();
        if (scripted->isEmpty()) faults.bootAnswers.erase(scripted);
        answer(a);
        return;
    }
    unsigned sum = m_bootHigh + m_bootLow;
    for (int i = 0; i < 64; ++i)
        sum += quint8(m_bootData.at(i));
    if (quint8(sum) != quint8(m_bootData.at(64)) || m_bootData.at(65) != 0) {
        answer(NACK);
        return;
    }
    if (address + 64 > kBootLoaderStart || flashWriteFails(address)) {
        answer(ERFLASH);
        return;
    }
    masterFlash.replace(address, 64, m_bootData.left(64));
    ++m_bootBlocksWritten;
    answer(ACK);
}

// ---- Running firmware ----

void VirtualCharger::onFirmwareByte(quint8 b) {
    switch (m_state) {
    case State::Idle:
        if (b == ESC)
            m_state = State::Code;
        else if (b == PROBE)
            reply(QByteArray(1, char(ESC)));
        else if (b == CONFIRM)
            reply(QByteArray(1, char(PROBE)));
        return;
    case State::Code: {
        m_code = b;
        const CommandShape shape = commandShape(b);
        if (shape.args < 0) { // unknown command: ignored
            m_state = State::Idle;
            return;
        }
        m_argsWanted = b == CMD_BOOSTER && boosterSupply ? 4 : shape.args;
        m_args.clear();
        if (m_argsWanted == 0) {
            m_state = State::Idle;
            execute();
        } else {
            m_state = State::Args;
        }
        return;
    }
    case State::Args:
        m_args.append(char(b));
        if (m_code == CMD_BOOSTER && m_args.size() == 1 && b == 1) m_argsWanted = 4;
        if (m_args.size() >= m_argsWanted) {
            m_state = State::Idle;
            execute();
        }
        return;
    }
}

void VirtualCharger::execute() {
    const auto arg = [this](int i) { return quint8(m_args.at(i)); };
    const auto word = [](int w) { return QByteArray(1, char(w >> 8)) + char(w & 0xFF); };
    const auto answer = [this] { reply(QByteArray(1, char(m_code))); };
    const auto ack = [this] { reply(QByteArray(1, char(ACK))); };
    switch (m_code) {
    case CMD_PANEL_INIT:
        ack();
        return;
    case CMD_LINK_STATUS:
        frame(QByteArray("\0\0", 2) + char(slavePresent ? ACK : 0));
        return;
    case CMD_DISCONNECT:
        setMode(Mode::Monitor);
        return;
    case CMD_READ_TEMP:
    case CMD_READ_VALIM:
    case CMD_READ_VDBL:
    case CMD_READ_VINV:
    case CMD_READ_TBAT:
    case CMD_READ_ICHRG:
    case CMD_READ_IDECH:
    case CMD_READ_VDELTA:
    case CMD_READ_VBAT:
        frame(word(countOf(m_code)));
        return;
    case CMD_CUT_CHARGE:
        outputs.charge = arg(0) != 0;
        answer();
        return;
    case CMD_CUT_DISCHARGE:
        outputs.discharge = arg(0) != 0;
        answer();
        return;
    case CMD_CUT_POWER:
        outputs.power = arg(0) != 0;
        answer();
        return;
    case CMD_GROUND_BAT:
        outputs.ground = arg(0) != 0;
        answer();
        return;
    case CMD_POT_ICHRG:
        outputs.potCharge = arg(0);
        answer();
        return;
    case CMD_POT_IDECH:
        outputs.potDischarge = arg(0);
        answer();
        return;
    case CMD_POT_VDELTA:
        outputs.potGain = arg(0);
        answer();
        return;
    case CMD_POT_OFFSET:
        outputs.potOffset = arg(0);
        answer();
        return;
    case CMD_LED:
        outputs.led = arg(0) != 0;
        answer();
        return;
    case CMD_FAN:
        outputs.fan = arg(0) != 0;
        answer();
        return;
    case CMD_BEEP:
        ++m_beeps;
        emit beeped();
        answer();
        return;
    case CMD_BOOSTER:
        outputs.doublerCut = arg(0) ? 1 : 0;
        if (m_args.size() == 4) {
            outputs.pwmFrequency = arg(1);
            outputs.pwmDelta = quint16(std::min(1023, arg(2) * 256 + arg(3)));
        }
        answer();
        return;
    case CMD_READ_SW6:
        frame(QByteArray(1, char(withStatus(0, charger::buttonStatus(6), !m_buttons[5]))));
        return;
    case CMD_READ_OUTPUTS: {
        quint8 s = withStatus(0, Status::DoublerCut, outputs.doublerCut);
        s = withStatus(s, Status::LedOn, outputs.led);
        s = withStatus(s, Status::FanOn, outputs.fan);
        frame(QByteArray(1, char(s)));
        return;
    }
    case CMD_READ_PORT: {
        quint8 p = withStatus(0, Status::DischargeCut, !outputs.discharge);
        p = withStatus(p, Status::ChargeCut, !outputs.charge);
        p = withStatus(p, Status::PowerCut, !outputs.power);
        for (int n = 1; n <= 5; ++n)
            p = withStatus(p, charger::buttonStatus(n), !m_buttons[n - 1]);
        frame(QByteArray(1, char(p)));
        return;
    }
    case CMD_EE_READ_MASTER:
        frame(QByteArray(1, eepromMaster.at(arg(0))));
        return;
    case CMD_EE_READ_SLAVE:
        frame(QByteArray(1, slavePresent ? eepromSlave.at(arg(0)) : char(0xFF)));
        return;
    case CMD_EE_WRITE_MASTER:
        eepromMaster[arg(0)] = char(arg(1));
        ack();
        return;
    case CMD_EE_WRITE_SLAVE:
        if (slavePresent) eepromSlave[arg(0)] = char(arg(1));
        ack();
        return;
    case CMD_READ_CLOCK: {
        const qint64 s = qint64(std::floor(m_clock.seconds() + 1e-6));
        frame(QByteArray(1, char((s / 3600) % 24)) + char((s / 60) % 60) + char(s % 60));
        return;
    }
    case CMD_PHASE_START:
        ++m_phaseStarts;
        answer();
        return;
    case CMD_FLASH_READ_MASTER: {
        // The master's program words are two bytes, low byte at the even address.
        const int w = (arg(0) * 256 + arg(1)) % (kMasterFlashBytes / 2);
        frame(word(quint8(masterFlash.at(2 * w + 1)) * 256 + quint8(masterFlash.at(2 * w))));
        return;
    }
    case CMD_FLASH_READ_SLAVE: {
        const int w = (arg(0) * 256 + arg(1)) % kSlaveFlashWords;
        frame(word(slavePresent ? slaveFlash.at(w) : 0xFFFF));
        return;
    }
    case CMD_FLASH_WRITE_MASTER: {
        const int a = (arg(0) * 256 + arg(1)) % kMasterFlashBytes;
        if (flashWriteFails(a)) {
            reply(QByteArray(1, char(ERFLASH)));
            return;
        }
        const int n = std::min(64, kMasterFlashBytes - a);
        masterFlash.replace(a, n, m_args.mid(2, n));
        ack();
        return;
    }
    case CMD_FLASH_WRITE_SLAVE: {
        const int w = (arg(0) * 256 + arg(1)) % kSlaveFlashWords;
        if (flashWriteFails(w)) {
            reply(QByteArray(1, char(ERFLASH)));
            return;
        }
        if (slavePresent) slaveFlash[w] = quint16((arg(2) * 256 + arg(3)) & 0x3FFF);
        ack();
        return;
    }
    case CMD_EXT_EE_READ: {
        const int a = (arg(1) * 256 + arg(2)) % kExtEepromBytes;
        frame(QByteArray(1, arg(0) < 2 ? extEeprom[arg(0)].at(a) : char(0xFF)));
        return;
    }
    case CMD_EXT_EE_WRITE: {
        const int a = (arg(1) * 256 + arg(2)) % kExtEepromBytes;
        if (arg(0) < 2) extEeprom[arg(0)][a] = char(arg(3));
        ack();
        return;
    }
    default:
        return;
    }
}

} // namespace sim
