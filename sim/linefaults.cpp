#include "linefaults.h"

#include "link/commands.h"

#include <algorithm>
#include <utility>

namespace sim {

LineFaults::LineFaults(Faults &faults, Transmit transmit)
    : m_faults(faults), m_transmit(std::move(transmit)) {}

bool LineFaults::byteTaken() {
    return m_faults.vanishAfterBytes > 0 && --m_faults.vanishAfterBytes == 0;
}

void LineFaults::send(const QByteArray &bytes) {
    QByteArray out = bytes;
    if (m_faults.silenceAfterBytes >= 0) {
        out.truncate(qsizetype(std::min<qint64>(out.size(), m_faults.silenceAfterBytes)));
        m_faults.silenceAfterBytes -= out.size();
    }
    if (!out.isEmpty()) m_transmit(out);
}

void LineFaults::reply(const QByteArray &bytes) {
    QByteArray out;
    ++m_replies;
    if (!m_faults.strayOnce.isEmpty()) {
        out += m_faults.strayOnce;
        m_faults.strayOnce.clear();
    }
    if (m_faults.strayEvery > 0 && m_replies % m_faults.strayEvery == 0) out += m_faults.strayBytes;
    send(out + bytes);
}

void LineFaults::frame(const QByteArray &data) {
    reply(QByteArray(1, char(chlink::ESC)) + data + char(0));
}

bool LineFaults::flashWriteFails(int address) {
    if (m_faults.flashFailures <= 0) return false;
    if (m_faults.flashFailAddress >= 0 && m_faults.flashFailAddress != address) return false;
    --m_faults.flashFailures;
    return true;
}

void LineFaults::failFlashWrites(int count, int address) {
    m_faults.flashFailures = count;
    m_faults.flashFailAddress = address;
}

std::optional<quint8> LineFaults::takeBootAnswer(int byteAddress) {
    auto scripted = m_faults.bootAnswers.find(byteAddress);
    if (scripted == m_faults.bootAnswers.end() || scripted->isEmpty()) return std::nullopt;
    const quint8 a = scripted->takeFirst();
    if (scripted->isEmpty()) m_faults.bootAnswers.erase(scripted);
    return a;
}

void LineFaults::scriptBootAnswer(int byteAddress, quint8 answer, int times) {
    auto &list = m_faults.bootAnswers[byteAddress];
    for (int i = 0; i < times; ++i)
        list.append(answer);
}

} // namespace sim
