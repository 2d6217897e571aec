#include "exchanges.h"

namespace chlink {

std::optional<int> readChannel(Session s, Cmd code) {
    s.command(code);
    const auto f = s.readFrame(2);
    if (!f) return std::nullopt;
    return 256 * quint8(f->at(0)) + quint8(f->at(1));
}

bool setOutput(Session s, Cmd code, quint8 value) {
    s.command(code, {value});
    return s.answerByte().has_value();
}

std::optional<ClockTime> readClock(Session s) {
    s.command(CMD_READ_CLOCK);
    const auto f = s.readFrame(3);
    if (!f) return std::nullopt;
    return ClockTime{quint8(f->at(0)), quint8(f->at(1)), quint8(f->at(2))};
}

std::optional<quint8> eeRead(Session s, int target, quint8 address) {
    s.command(target == 2 ? CMD_EE_READ_SLAVE : CMD_EE_READ_MASTER, {address});
    const auto f = s.readFrame(1);
    if (!f) return std::nullopt;
    return quint8(f->at(0));
}

bool eeWrite(Session s, int target, quint8 address, quint8 value) {
    s.command(target == 2 ? CMD_EE_WRITE_SLAVE : CMD_EE_WRITE_MASTER, {address, value});
    return s.waitAck();
}

bool eeWriteAnswerByte(Session s, int target, quint8 address, quint8 value) {
    s.command(target == 2 ? CMD_EE_WRITE_SLAVE : CMD_EE_WRITE_MASTER, {address, value});
    return s.answerByte().has_value();
}

std::optional<QByteArray> linkStatus(Session s) {
    s.command(CMD_LINK_STATUS);
    return s.readFrame(3);
}

} // namespace chlink
