#include "ptyserver.h"

#include "virtualcharger.h"

#include <QSocketNotifier>
#include <QTimer>

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
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyServer::onReadable);
    return true;
}

void PtyServer::onReadable() {
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n > 0) {
            m_charger->receive(QByteArray(buf, int(n)));
            if (m_fd < 0) return;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        // EIO: no slave open at the moment. Keep serving; the keep-open fd prevents a loop.
        return;
    }
}

void PtyServer::onTransmit(const QByteArray &bytes) {
    if (m_fd < 0) return;
    m_out.append(bytes);
    if (!m_paceTimer->isActive()) pump();
}

void PtyServer::pump() {
    if (m_fd < 0 || m_out.isEmpty()) return;
    const qsizetype n = m_pacedBaud > 0 ? 1 : m_out.size();
    const ssize_t w = ::write(m_fd, m_out.constData(), size_t(n));
    if (w > 0) m_out.remove(0, w);
    if (m_out.isEmpty()) return;
    if (m_pacedBaud > 0) {
        // 10 bits a byte; timers have millisecond grain, so send what the elapsed time owes.
        const int usPerByte = 10'000'000 / m_pacedBaud;
        m_paceTimer->start(std::max(1, usPerByte / 1000));
    } else {
        m_paceTimer->start(1); // the pseudo-terminal's buffer was full
    }
}

void PtyServer::vanish() {
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_keepOpen >= 0) ::close(m_keepOpen);
    m_keepOpen = -1;
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
        emit vanished();
    }
}

} // namespace sim
