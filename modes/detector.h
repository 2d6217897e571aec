#pragma once

#include <QtGlobal>
#include <optional>

// The charge window's detectors: the battery-voltage rise per block of 50 polls with the
// DV/DT watch, and the end of charge on the amplified delta voltage. Plain code.
namespace modes {

// The DV/DT check box: 0 clear, 1 ticked, 2 grayed (also the log's DVFLAG).
enum class DvdtBox { Clear = 0, Ticked = 1, Grayed = 2 };

struct BlockResult {
    int rise = 0;    // CDVDT
    int average = 0; // DVaverage
};

class ChargeDetector {
  public:
    static constexpr int kPollsPerBlock = 50;
    static constexpr int kMaxRise = 300;
    static constexpr qint64 kWatchAfterSeconds = 500;

    // A new run: every sum, counter and the DV/DT state back to 0. The average and the
    // check box keep what they showed.
    void reset();

    // Adds one battery-voltage count; on the 50th sample of a block evaluates the block
    // and runs the DV/DT watch with the run's elapsed seconds.
    std::optional<BlockResult> addSample(int vbatCount, qint64 duree);

    int rise() const { return m_rise; }
    std::optional<int> average() const { return m_average; }
    int state() const { return m_state; }
    DvdtBox box() const { return m_box; }
    int samples() const { return m_samples; }
    int blocks() const { return m_blocks; }

  private:
    void watch(qint64 duree);

    qint64 m_blockSum = 0;
    qint64 m_prevBlockSum = 0;
    int m_samples = 0;
    int m_blocks = 0;
    qint64 m_riseTotal = 0;
    int m_rise = 0;
    std::optional<int> m_average;
    int m_reference = 0;
    qint16 m_suspect = 0;
    int m_state = 0;
    DvdtBox m_box = DvdtBox::Clear;
};

// End of charge: the delta count falling 10 counts or more below its running peak.
class DeltaPeak {
  public:
    void reset() { m_peak = 0; }
    // Takes a new delta count; true when it is 10 counts or more below the peak.
    bool update(int count);
    int peak() const { return m_peak; }

  private:
    int m_peak = 0;
};

} // namespace modes
