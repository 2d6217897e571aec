#include "fetatpoll.h"

#include "fetatlogic.h"

#include <QTimer>

namespace diag {

using namespace chlink;

namespace {
// Bound of a single wait should the AbortTimer never tick (it always does before).
constexpr int kBackstopMs = 1000;
} // namespace

PanelLine::PanelLine(Session session, QTimer &abortTimer, std::function<bool()> interrupted)
    : m_session(session), m_abort(abortTimer), m_interrupted(std::move(interrupted)) {}

void PanelLine::expire() {
    m_expired = true;
    m_abort.stop();
    m_session.wake();
}

bool PanelLine::going() {
    if (m_end != PanelEnd::Done) return false;
    if (m_interrupted && m_interrupted()) {
        m_end = PanelEnd::Interrupted;
        return false;
    }
    return true;
}

bool PanelLine::send(Cmd code, const QByteArray &args) {
    if (!going()) return false;
    m_lastCommand = code;
    m_session.command(code, args);
    return true;
}

void PanelLine::beginReply() {
    m_expired = false;
    m_abort.start();
}

bool PanelLine::endReply(bool ok) {
    m_abort.stop();
    // The reply is complete: a closing panel sends nothing more.
    return ok && going();
}

std::optional<quint8> PanelLine::mgetsrl() {
    const int bound = m_abort.interval() + kBackstopMs;
    m_session.waitUntil([this] { return m_expired || m_session.pending() > 0; }, bound);
    if (m_expired) {
        m_end = PanelEnd::TimedOut;
        return std::nullopt;
    }
    // The byte pending, or at once the reason there is none.
    if (!m_session.waitByte(0)) {
        m_end = m_session.error() == LinkError::Timeout ? PanelEnd::TimedOut : PanelEnd::LinkFailed;
        return std::nullopt;
    }
    return m_session.lastByte();
}

std::optional<QByteArray> PanelLine::frame(int n) {
    if (m_end != PanelEnd::Done) return std::nullopt;
    beginReply();
    std::optional<quint8> b;
    do {
        b = mgetsrl();
    } while (b && *b != ESC);
    QByteArray data;
    for (int i = 0; b && i < n; ++i) {
        b = mgetsrl();
        if (b) data.append(char(*b));
    }
    if (b) b = mgetsrl(); // trailing byte
    if (!endReply(b.has_value())) return std::nullopt;
    return data;
}

bool PanelLine::answer() {
    if (m_end != PanelEnd::Done) return false;
    beginReply();
    return endReply(mgetsrl().has_value());
}

bool PanelLine::ack() {
    if (m_end != PanelEnd::Done) return false;
    beginReply();
    std::optional<quint8> b;
    do {
        b = mgetsrl();
    } while (b && *b != ACK);
    return endReply(b.has_value());
}

PanelSample readPanel(PanelLine &line) {
    PanelSample s;
    const auto byte = [&line](Cmd code, std::optional<quint8> &out) {
        if (!line.send(code)) return false;
        const auto f = line.frame(1);
        if (f) out = quint8(f->at(0));
        return f.has_value();
    };
    bool ok = true;
    for (int i = 0; ok && i < kPanelChannels; ++i) {
        ok = line.send(panelChannels()[size_t(i)].command);
        const auto f = ok ? line.frame(2) : std::nullopt;
        if (f) s.raw[size_t(i)] = 256 * quint8(f->at(0)) + quint8(f->at(1));
        ok = f.has_value();
    }
    ok = ok && byte(CMD_READ_OUTPUTS, s.outputs) && byte(CMD_READ_PORT, s.port);
    if (ok && line.send(CMD_READ_CLOCK)) {
        const auto f = line.frame(3);
        if (f) s.clock = ClockTime{quint8(f->at(0)), quint8(f->at(1)), quint8(f->at(2))};
        ok = f.has_value();
    }
    ok = ok && byte(CMD_READ_PORT, s.buttons) && byte(CMD_READ_SW6, s.sw6);
    s.end = line.end();
    return s;
}

bool panelInit(PanelLine &line) {
    return line.send(CMD_PANEL_INIT) && line.ack();
}

bool panelSet(PanelLine &line, Cmd code, const QByteArray &args) {
    return line.send(code, args) && line.answer();
}

} // namespace diag
