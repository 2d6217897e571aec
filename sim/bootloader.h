#pragma once

#include "linefaults.h"
#include "memories.h"

#include <QByteArray>

#include <functional>

namespace sim {

// The master's resident boot loader (19200 baud): "C", "D" is answered "c"; a block is 27,
// the byte address high and low, 64 data bytes, their sum (with the address bytes) and a
// 0, answered 6 (written), 7 (bad sum) or 8 (flash error, or inside the boot loader
// itself); 27, 255, 0 ends the upload.
class BootLoader {
  public:
    static constexpr quint8 NACK = 7;
    static constexpr quint8 ERFLASH = 8;

    BootLoader(ChargerMemories &memories, LineFaults &line, std::function<void()> uploadEnded);

    // Back to waiting for a block (on entering or leaving the boot loader).
    void reset();
    void onByte(quint8 b);

    int blocksWritten() const { return m_blocksWritten; }
    int uploadsEnded() const { return m_ends; }

  private:
    void block();

    ChargerMemories &m_mem;
    LineFaults &m_line;
    std::function<void()> m_uploadEnded;

    enum class State { Idle, AddrHigh, AddrLow, Data };
    State m_state = State::Idle;
    bool m_sawC = false;
    quint8 m_high = 0;
    quint8 m_low = 0;
    QByteArray m_data;
    int m_blocksWritten = 0;
    int m_ends = 0;
};

} // namespace sim
