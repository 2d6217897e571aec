#pragma once

// A scripted boot loader behind sparlo's port interface, for tests that need exact control
// of every answer. It answers "c" to "C","D" when present, takes 69-byte blocks, checks
// the sum and the trailing 0, writes its memory when it answers 6, answers from `blockAnswers` (6
// once they are used up), can put noise before an answer, and notes the end sequence.
// Answers arrive on the event loop.

#include "loader/bootport.h"
#include "support/scriptedcharger.h"

#include <QList>
#include <QTimer>

class FakeBootLoader : public ScriptedCharger {
    Q_OBJECT
  public:
    explicit FakeBootLoader(QObject *parent = nullptr) : ScriptedCharger(parent) {
        setBaudRate(loader::SerialBootPort::kBaud);
    }

    // ---- Behaviour ----
    bool present = true; // answers the probe
    QByteArray probeAnswer = "c";
    QList<quint8> blockAnswers; // answers to the next blocks, in order; then 6
    bool silentBlocks = false;  // never answers a block
    // Noise on the line: `stray` arrives just before the answer to the blocks whose
    // position (0-based, resends counted) is listed.
    QList<int> strayAt;
    QByteArray stray = "\x41";

    // ---- What happened ----
    QByteArray memory = QByteArray(0x8000, char(0xFF));
    QList<int> blockAddresses; // every block received, resends included
    QList<QByteArray> blocks;
    int probes = 0;
    int badBlocks = 0;
    bool endSeen = false;
    bool writtenWhileClosed = false;

    void write(const QByteArray &bytes) override {
        if (!isOpen()) {
            writtenWhileClosed = true;
            return;
        }
        written += bytes;
        for (char c : bytes)
            onByte(quint8(c));
    }
    // Bytes arriving as if from the line.
    void inject(const QByteArray &bytes) { answer(bytes); }

  private:
    void answer(const QByteArray &bytes) { deliver(bytes, 1); }
    void onByte(quint8 b) {
        if (m_block.isEmpty()) {
            if (b == 27) {
                m_block.append(char(b));
            } else if (b == 'C') {
                m_sawC = true;
            } else if (b == 'D' && m_sawC) {
                m_sawC = false;
                ++probes;
                if (present) answer(probeAnswer);
            }
            return;
        }
        m_block.append(char(b));
        if (m_block.size() == 3 && quint8(m_block[1]) == 255 && quint8(m_block[2]) == 0) {
            endSeen = true;
            m_block.clear();
            return;
        }
        if (m_block.size() < 69) return;
        const QByteArray blk = m_block;
        m_block.clear();
        blocks << blk;
        const int a = 256 * quint8(blk[1]) + quint8(blk[2]);
        blockAddresses << a;
        quint8 sum = 0;
        for (int i = 1; i <= 66; ++i)
            sum = quint8(sum + quint8(blk[i]));
        if (sum != quint8(blk[67]) || blk[68] != 0) {
            ++badBlocks;
            answer(QByteArray(1, char(7)));
            return;
        }
        const quint8 reply = blockAnswers.isEmpty() ? 6 : blockAnswers.takeFirst();
        if (reply == 6 && a + 64 <= memory.size()) memory.replace(a, 64, blk.mid(3, 64));
        const QByteArray noise = strayAt.contains(blocks.size() - 1) ? stray : QByteArray();
        if (!silentBlocks) answer(noise + char(reply));
    }

    bool m_sawC = false;
    QByteArray m_block;
};
