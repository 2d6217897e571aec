#pragma once

#include "link/exchanges.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <functional>
#include <optional>

class QTimer;

namespace diag {

// How an exchange of the state panel ended.
enum class PanelEnd {
    Done,
    TimedOut,    // AbortTimer expired: no byte within its time
    LinkFailed,  // the port failed or closed (session.error() says which)
    Interrupted, // the panel is closing: nothing more was sent
};

// The state panel's line: commands go out through the session; every reply byte comes in
// through Mgetsrl, which waits for one byte while the panel's AbortTimer runs. The timer
// covers each reply as a whole (from its first byte to its last), so a charger that stops
// answering or that chatters without ever completing a reply is given up after its
// interval. An exchange in progress is not cut short by the panel closing: the reply being
// read is read to its end (or to the time-out), so that no late byte is left for the next
// window; nothing more is sent afterwards.
class PanelLine {
  public:
    // abortTimer: the panel's AbortTimer (interval 10 000 ms); its tick must call expire().
    // interrupted: the panel is closing.
    PanelLine(chlink::Session session, QTimer &abortTimer, std::function<bool()> interrupted);

    // The AbortTimer's tick: the reply being read is abandoned.
    void expire();
    bool expired() const { return m_expired; }

    // 27, the code and its arguments; false when the exchange has already ended.
    bool send(chlink::Cmd code, const QByteArray &args = {});
    // A reply frame: bytes skipped up to the ESC, n data bytes, the trailing byte.
    std::optional<QByteArray> frame(int n);
    // One answer byte, not inspected.
    bool answer();
    // Bytes read until a 6 arrives.
    bool ack();

    PanelEnd end() const { return m_end; }
    // The last command sent, for the message of a time-out.
    int lastCommand() const { return m_lastCommand; }
    chlink::Session &session() { return m_session; }

  private:
    // Mgetsrl: one byte under the abort timer.
    std::optional<quint8> mgetsrl();
    bool going();
    void beginReply();
    bool endReply(bool ok);

    chlink::Session m_session;
    QTimer &m_abort;
    std::function<bool()> m_interrupted;
    bool m_expired = false;
    PanelEnd m_end = PanelEnd::Done;
    int m_lastCommand = -1;
};

// One refresh of the panel, as received; a field is empty when the refresh ended before it.
struct PanelSample {
    std::array<std::optional<int>, 9> raw; // channels 5..13, 0..65535
    std::optional<quint8> outputs;         // command 28
    std::optional<quint8> port;            // command 31, for the cuts
    std::optional<chlink::ClockTime> clock;
    std::optional<quint8> buttons; // command 31 again, for SW1..SW5
    std::optional<quint8> sw6;     // command 26
    PanelEnd end = PanelEnd::Done;
};

// StRefresh's exchanges in their order: the nine channels, 28, 31, the clock, 31, 26.
PanelSample readPanel(PanelLine &line);
// The opening: command 0 and its ACK.
bool panelInit(PanelLine &line);
// An output, the beeper, a potentiometer or the booster: the command and its answer byte.
bool panelSet(PanelLine &line, chlink::Cmd code, const QByteArray &args);

} // namespace diag
