#include "virtualcharger.h"

#include "link/commands.h"

using namespace chlink;

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

VirtualCharger::VirtualCharger(QObject *parent) : QObject(parent) {
    eepromMaster = defaultMasterEeprom();
    eepromSlave = defaultSlaveEeprom();
    m_wall.start();
}

double VirtualCharger::chargerSeconds() const {
    return m_offset + (m_wall.elapsed() - m_wallAtChange) / 1000.0 * m_speed;
}

void VirtualCharger::setSpeed(double factor) {
    m_offset = chargerSeconds();
    m_wallAtChange = m_wall.elapsed();
    m_speed = factor;
}

void VirtualCharger::receive(const QByteArray &bytes) {
    for (char c : bytes)
        onByte(quint8(c));
}

void VirtualCharger::frame(const QByteArray &data) {
    reply(QByteArray(1, char(ESC)) + data + char(0));
}

void VirtualCharger::onByte(quint8 b) {
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
        frame(QByteArray(1, eepromSlave.at(arg(0))));
        return;
    case CMD_EE_WRITE_MASTER:
        eepromMaster[arg(0)] = char(arg(1));
        reply(QByteArray(1, char(ACK)));
        return;
    case CMD_EE_WRITE_SLAVE:
        eepromSlave[arg(0)] = char(arg(1));
        reply(QByteArray(1, char(ACK)));
        return;
    case CMD_READ_CLOCK: {
        const qint64 s = qint64(chargerSeconds());
        frame(QByteArray(1, char((s / 3600) % 24)) + char((s / 60) % 60) + char(s % 60));
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
