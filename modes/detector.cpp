#include "detector.h"

#include <cmath>

namespace modes {

void ChargeDetector::reset() {
    m_blockSum = 0;
    m_prevBlockSum = 0;
    m_samples = 0;
    m_blocks = 0;
    m_riseTotal = 0;
    m_rise = 0;
    m_reference = 0;
    m_suspect = 0;
    m_state = 0;
}

std::optional<BlockResult> ChargeDetector::addSample(int vbatCount, qint64 duree) {
    m_blockSum += vbatCount;
    ++m_samples;
    if (m_samples < kPollsPerBlock) return std::nullopt;

    m_samples = 0;
    m_rise = 0;
    if (m_blockSum > m_prevBlockSum)
        m_rise = int(std::min<qint64>(m_blockSum - m_prevBlockSum, 1 << 30));
    m_prevBlockSum = m_blockSum;
    m_blockSum = 0;
    ++m_blocks;
    if (m_blocks < 3)
        m_rise = 10; // the first two blocks have no earlier block worth comparing with
    if (m_rise > kMaxRise) m_rise = 0;
    m_riseTotal += m_rise;
    m_average = int(std::floor(double(m_riseTotal) / double(m_blocks)));
    watch(duree);
    return BlockResult{m_rise, *m_average};
}

void ChargeDetector::watch(qint64 duree) {
    if (duree > kWatchAfterSeconds && m_state == 0 && m_rise > 3 * *m_average) {
        m_state = 1;
        m_box = DvdtBox::Grayed;
        m_reference = m_rise;
        m_suspect = 0;
    }
    if (m_state == 1) {
        ++m_suspect;
        if (m_suspect == 4) {
            m_state = 2;
            m_box = DvdtBox::Ticked;
        }
    }
    if (m_state == 1 && m_rise > m_reference) {
        m_suspect = 0;
        m_reference = m_rise;
    }
    if (m_state == 2 && m_rise > m_reference) m_box = DvdtBox::Clear;
}

bool DeltaPeak::update(int count) {
    if (count > m_peak) m_peak = count;
    return count < m_peak - 9;
}

} // namespace modes
