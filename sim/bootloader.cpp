#include "bootloader.h"

#include "link/commands.h"

#include <utility>

using chlink::ACK;
using chlink::ESC;

namespace sim {

BootLoader::BootLoader(ChargerMemories &memories, LineFaults &line,
                       std::function<void()> uploadEnded)
    : m_mem(memories), m_line(line), m_uploadEnded(std::move(uploadEnded)) {}

void BootLoader::reset() {
    m_state = State::Idle;
    m_sawC = false;
}

void BootLoader::onByte(quint8 b) {
    switch (m_state) {
    case State::Idle:
        if (b == ESC) {
            m_state = State::AddrHigh;
        } else if (b == 'D' && m_sawC) {
            m_line.reply(QByteArray(1, 'c'));
        }
        m_sawC = b == 'C';
        return;
    case State::AddrHigh:
        m_high = b;
        m_state = State::AddrLow;
        return;
    case State::AddrLow:
        m_low = b;
        if (m_high == 255 && m_low == 0) {
            m_state = State::Idle;
            ++m_ends;
            m_uploadEnded();
            return;
        }
        m_data.clear();
        m_state = State::Data;
        return;
    case State::Data:
        m_data.append(char(b));
        if (m_data.size() == 66) { // 64 data bytes, the sum, the trailing 0
            m_state = State::Idle;
            block();
        }
        return;
    }
}

void BootLoader::block() {
    const int address = m_high * 256 + m_low;
    const auto answer = [this](quint8 a) { m_line.reply(QByteArray(1, char(a))); };
    if (const auto scripted = m_line.takeBootAnswer(address)) {
        answer(*scripted);
        return;
    }
    unsigned sum = m_high + m_low;
    for (int i = 0; i < 64; ++i)
        sum += quint8(m_data.at(i));
    if (quint8(sum) != quint8(m_data.at(64)) || m_data.at(65) != 0) {
        answer(NACK);
        return;
    }
    if (address + 64 > ChargerMemories::kBootLoaderStart || m_line.flashWriteFails(address)) {
        answer(ERFLASH);
        return;
    }
    m_mem.masterFlash.replace(address, 64, m_data.left(64));
    ++m_blocksWritten;
    answer(ACK);
}

} // namespace sim
