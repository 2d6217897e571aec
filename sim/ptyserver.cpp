#include "ptyserver.h"

#include "virtualcharger.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

PtyServer::PtyServer(VirtualCharger *charger, QObject *parent)
    : QObject(parent), m_charger(charger) {
    connect(charger, &VirtualCharger::transmit, this, &PtyServer::onTransmit);
    m_paceTimer = new QTimer(this);
    m_paceTimer->setSingleShot(true);
    m_paceTimer->setTimerType(Qt::PreciseTimer);
    connect(m_paceTimer, &QTimer::timeout, this, &PtyServer::pump);
    m_deliverTimer = new QTimer(this);
    m_deliverTimer->setSingleShot(true);
    m_deliverTimer->setTimerType(Qt::PreciseTimer);
    connect(m_deliverTimer, &QTimer::timeout, this, &PtyServer::deliver);
    connect(charger, &VirtualCharger::vanishRequested, this, &PtyServer::vanish);
    m_paceClock.start();
}

void PtyServer::setPacing(int baud) {
    m_pacedBaud = baud;
    m_followCharger = false;
}

void PtyServer::setPacingFollowsCharger(bool follow) {
    m_followCharger = follow;
    if (follow) m_pacedBaud = 0;
}

int PtyServer::pacing() const {
    if (m_followCharger) return m_charger ? m_charger->baudRate() : 0;
    return m_pacedBaud;
}

int PtyServer::lineBaud() const {
    termios t{};
    if (m_keepOpen < 0 || ::tcgetattr(m_keepOpen, &t) != 0) return 0;
    switch (::cfgetospeed(&t)) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    default:
        return 0;
    }
}

bool PtyServer::speedsDiffer() const {
    return m_strictBaud && m_charger && lineBaud() != m_charger->baudRate();
}

PtyServer::~PtyServer() {
    vanish();
}

bool PtyServer::start(QString *reason) {
    m_fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0 || ::grantpt(m_fd) != 0 || ::unlockpt(m_fd) != 0) {
        if (reason) *reason = QString::fromLocal8Bit(std::strerror(errno));
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
        return false;
    }
    char name[128] = {};
    ::ptsname_r(m_fd, name, sizeof name);
    m_slavePath = QString::fromLocal8Bit(name);
    // Raw line on the slave side, whatever the PC sets later.
    m_keepOpen = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_keepOpen >= 0) {
        termios t{};
        ::tcgetattr(m_keepOpen, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(m_keepOpen, TCSANOW, &t);
    }
    m_writeNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] {
        m_writeNotifier->setEnabled(false);
        pump();
    });
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyServer::onReadable);
    return true;
}

void PtyServer::onReadable() {
    char buf[512];
    while (m_inBytes < kMaxInbound) {
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n <= 0) break; // EAGAIN; or EIO: no slave open now (the keep-open fd prevents a loop)
        // Framing errors when the speeds differ: nothing the charger can use.
        m_in.push_back({QByteArray(buf, int(n)), m_paceClock.nsecsElapsed(), speedsDiffer()});
        m_inBytes += n;
    }
    if (m_inBytes >= kMaxInbound) m_notifier->setEnabled(false);
    if (!m_deliverTimer->isActive()) deliver();
}

void PtyServer::deliver() {
    const int baud = pacing();
    const qint64 byteNs = baud > 0 ? 10'000'000'000LL / baud : 0;
    const qint64 now = m_paceClock.nsecsElapsed();
    while (!m_in.empty() && m_fd >= 0) {
        Arrival &a = m_in.front();
        // A byte reaches the charger one byte time after the previous one, or after it was
        // written when the line was idle; the times add up, so the average rate is the line's.
        qsizetype n = 0;
        for (qint64 due = std::max(a.atNs, m_lastDeliveredNs) + byteNs;
             n < a.bytes.size() && due <= now; due += byteNs) {
            ++n;
            m_lastDeliveredNs = due;
        }
        if (n == 0) break;
        const QByteArray bytes = a.bytes.left(n);
        const bool garbled = a.garbled;
        a.bytes.remove(0, n);
        if (a.bytes.isEmpty()) m_in.pop_front();
        m_inBytes -= n;
        // The charger may answer, or close the line, from inside.
        if (garbled)
            m_charger->receiveGarbled(int(n));
        else
            m_charger->receive(bytes);
    }
    if (m_fd < 0) return;
    if (m_inBytes < kMaxInbound && m_notifier && !m_notifier->isEnabled())
        m_notifier->setEnabled(true);
    if (m_in.empty()) return;
    // The PC's bytes go to the charger in small bursts at least kPaceGrainMs apart, but the
    // last one waiting goes at its own time: what the charger answers to it is not delayed.
    qint64 last = m_lastDeliveredNs;
    for (const Arrival &a : m_in)
        last = std::max(a.atNs, last) + a.bytes.size() * byteNs;
    const qint64 next = std::max(m_in.front().atNs, m_lastDeliveredNs) + byteNs;
    const qint64 at = std::min(std::max(next, now + kPaceGrainMs * 1'000'000LL), last);
    const qint64 waitNs = std::max<qint64>(0, at - m_paceClock.nsecsElapsed());
    m_deliverTimer->start(int((waitNs + 999'999) / 1'000'000));
}

void PtyServer::onTransmit(const QByteArray &bytes) {
    if (m_fd < 0) return;
    const qint64 now = m_paceClock.nsecsElapsed();
    // On an idle line the first byte has crossed one byte time after it was sent; a busy
    // line keeps its own pace.
    const int baud = pacing();
    const qint64 byteNs = baud > 0 ? 10'000'000'000LL / baud : 0;
    if (m_out.isEmpty() && m_nextByteNs < now + byteNs) m_nextByteNs = now + byteNs;
    m_out.append(speedsDiffer() ? QByteArray(bytes.size(), char(0xF8)) : bytes);
    // Bytes nobody reads are lost on a real line; here the oldest go once a generous
    // backlog has built up, so a stream to a closed port cannot grow without end.
    if (m_out.size() > kMaxBacklog) m_out.remove(0, m_out.size() - kMaxBacklog);
    const bool waitingForRoom = m_writeNotifier && m_writeNotifier->isEnabled();
    if (!m_paceTimer->isActive() && !waitingForRoom) pump();
}

void PtyServer::pump() {
    if (m_fd < 0 || m_out.isEmpty()) return;
    const int baud = pacing();
    qsizetype n = m_out.size();
    const qint64 now = m_paceClock.nsecsElapsed();
    qint64 byteNs = 0;
    if (baud > 0) {
        // 10 bits a byte. Timers have millisecond grain, so each turn sends what the time
        // elapsed since the line went busy owes, and the average rate is the line's.
        byteNs = 10'000'000'000LL / baud;
        n = 0;
        while (n < m_out.size() && m_nextByteNs <= now) {
            ++n;
            m_nextByteNs += byteNs;
        }
    }
    qsizetype written = 0;
    if (n > 0) {
        const ssize_t w = ::write(m_fd, m_out.constData(), size_t(n));
        written = w > 0 ? qsizetype(w) : 0;
        m_out.remove(0, written);
        if (baud > 0) m_nextByteNs -= (n - written) * byteNs; // not sent: still owed
    }
    if (m_out.isEmpty()) return;
    if (written < n) {
        // The pseudo-terminal's buffer is full (the PC does not read): go on when it has
        // room again, without polling.
        if (m_writeNotifier) m_writeNotifier->setEnabled(true);
        return;
    }
    // Bytes go out in small bursts at least kPaceGrainMs apart (as a USB adapter delivers
    // them), always at the average rate of the line; the last one waiting goes at its own
    // time, so a short reply is not held back by the grain.
    const qint64 last = m_nextByteNs + (m_out.size() - 1) * byteNs;
    const qint64 at = std::min(
        std::max(m_nextByteNs, m_paceClock.nsecsElapsed() + kPaceGrainMs * 1'000'000LL), last);
    const qint64 waitNs = std::max<qint64>(0, at - m_paceClock.nsecsElapsed());
    m_paceTimer->start(int((waitNs + 999'999) / 1'000'000));
}

void PtyServer::vanish() {
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_writeNotifier) {
        m_writeNotifier->setEnabled(false);
        m_writeNotifier->deleteLater();
        m_writeNotifier = nullptr;
    }
    if (m_keepOpen >= 0) ::close(m_keepOpen);
    m_keepOpen = -1;
    m_out.clear();
    m_paceTimer->stop();
    m_in.clear();
    m_inBytes = 0;
    m_deliverTimer->stop();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
        emit vanished();
    }
}

} // namespace sim
