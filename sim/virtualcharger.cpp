#include "virtualcharger.h"

#include "link/commands.h"

#include <algorithm>

using namespace chlink;

namespace {
constexpr quint8 NACK = 7;
constexpr quint8 ERFLASH = 8;
} // namespace

namespace sim {

QByteArray defaultMasterEeprom() {
    QByteArray e(256, char(0xFF));
    // Calibration words (high byte first) read by the measurement conversions.
    const quint16 words[] = {1000, 1200, 2500, 3000, 5000, 4096, 1024, 512};
    for (int i = 0; i < 8; ++i) {
        e[2 * i] = char(words[i] >> 8);
        e[2 * i + 1] = char(words[i] & 0xFF);
    }
    const QByteArray id("MASTER V1.0 virtual charger");
    e.replace(192, id.size(), id);
    return e;
}

QByteArray defaultSlaveEeprom() {
    QByteArray e(256, char(0xFF));
    const quint16 words[] = {2000, 2000, 1500, 1500, 100, 100, 250, 250};
    for (int i = 0; i < 8; ++i) {
        e[2 * i] = char(words[i] >> 8);
        e[2 * i + 1] = char(words[i] & 0xFF);
    }
    const QByteArray id("SLAVE V1.0 virtual charger");
    e.replace(192, id.size(), id);
    return e;
}

VirtualCharger::VirtualCharger(QObject *parent) : VirtualCharger(Mode::Firmware, parent) {}

VirtualCharger::VirtualCharger(Mode mode, QObject *parent) : QObject(parent), m_mode(mode) {
    eepromMaster = defaultMasterEeprom();
    eepromSlave = defaultSlaveEeprom();
    masterFlash = QByteArray(kMasterFlashBytes, char(0xFF));
    slaveFlash = QVector<quint16>(kSlaveFlashWords, 0x3FFF);
}

VirtualCharger::~VirtualCharger() = default;

void VirtualCharger::setMode(Mode mode) {
    if (mode == m_mode) return;
    const int before = baudRate();
    m_mode = mode;
    m_state = State::Idle;
    m_boot = BootState::Idle;
    m_bootSawC = false;
    if (baudRate() != before) emit baudRateChanged(baudRate());
}

void VirtualCharger::advance(double chargerSeconds) {
    m_clock.advance(chargerSeconds);
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

void VirtualCharger::receive(const QByteArray &bytes) {
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
        out.truncate(int(std::min<qint64>(out.size(), faults.silenceAfterBytes)));
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
    if (m_mode == Mode::BootLoader)
        onBootByte(b);
    else
        onFirmwareByte(b);
}

// ---- Boot loader ----

void VirtualCharger::onBootByte(quint8 b) {
    switch (m_boot) {
    case BootState::Idle:
        if (b == ESC) {
            m_boot = BootState::AddrHigh;
        } else if (b == 'D' && m_bootSawC) {
            send(QByteArray(1, 'c'));
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
    const auto answer = [this](quint8 a) { send(QByteArray(1, char(a))); };
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
        m_argsWanted = shape.args;
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
    switch (m_code) {
    case CMD_LINK_STATUS:
        frame(QByteArray("\0\0", 2) + char(slavePresent ? ACK : 0));
        return;
    case CMD_DISCONNECT:
        return;
    case CMD_EE_READ_MASTER:
        frame(QByteArray(1, eepromMaster.at(arg(0))));
        return;
    case CMD_EE_READ_SLAVE:
        frame(QByteArray(1, slavePresent ? eepromSlave.at(arg(0)) : char(0xFF)));
        return;
    case CMD_EE_WRITE_MASTER:
        eepromMaster[arg(0)] = char(arg(1));
        reply(QByteArray(1, char(ACK)));
        return;
    case CMD_EE_WRITE_SLAVE:
        if (slavePresent) eepromSlave[arg(0)] = char(arg(1));
        reply(QByteArray(1, char(ACK)));
        return;
    case CMD_READ_CLOCK: {
        const qint64 s = qint64(chargerSeconds());
        frame(QByteArray(1, char((s / 3600) % 24)) + char((s / 60) % 60) + char(s % 60));
        return;
    }
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
        reply(QByteArray(1, char(ACK)));
        return;
    }
    case CMD_FLASH_WRITE_SLAVE: {
        const int w = (arg(0) * 256 + arg(1)) % kSlaveFlashWords;
        if (flashWriteFails(w)) {
            reply(QByteArray(1, char(ERFLASH)));
            return;
        }
        if (slavePresent) slaveFlash[w] = quint16((arg(2) * 256 + arg(3)) & 0x3FFF);
        reply(QByteArray(1, char(ACK)));
        return;
    }
    default:
        break;
    }
    const CommandShape shape = commandShape(m_code);
    switch (shape.reply) {
    case Reply::Frame:
        frame(QByteArray(shape.frameBytes, 0));
        break;
    case Reply::AnswerByte:
        reply(QByteArray(1, char(m_code)));
        break;
    case Reply::Ack:
        reply(QByteArray(1, char(ACK)));
        break;
    case Reply::None:
        break;
    }
}

} // namespace sim
