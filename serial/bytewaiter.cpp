#include "bytewaiter.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <optional>

namespace serialio {

ByteWaiter::ByteWaiter(QObject *parent) : QObject(parent) {}

void ByteWaiter::setPort(BytePort *port) {
    if (m_port == port) return;
    if (m_port) disconnect(m_port, nullptr, this, nullptr);
    m_port = port;
    if (m_port) connect(m_port, &BytePort::failed, this, &ByteWaiter::onPortFailed);
}

void ByteWaiter::wake() {
    emit woken();
}

void ByteWaiter::stop() {
    m_stopped = true;
    emit woken();
}

void ByteWaiter::onPortFailed(const QString &reason) {
    if (m_failed) return;
    m_failed = true;
    emit woken();
    emit portLost(reason);
}

WaitResult ByteWaiter::sleepUntil(const std::function<std::optional<WaitResult>()> &ready,
                                  int timeoutMs) {
    if (const auto r = ready()) return *r;
    const QDeadlineTimer deadline =
        timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &ByteWaiter::woken, &loop, &QEventLoop::quit);
    QPointer<BytePort> port = m_port;
    QMetaObject::Connection bytes;
    if (port) bytes = connect(port, &BytePort::readyRead, &loop, &QEventLoop::quit);
    for (;;) {
        if (!deadline.isForever()) {
            const qint64 left = deadline.remainingTime();
            if (left <= 0) return WaitResult::Timeout;
            timer.start(int(left));
        }
        const auto flags =
            m_holdUserInput ? QEventLoop::ExcludeUserInputEvents : QEventLoop::AllEvents;
        if (loop.exec(flags) == -1) // the application is quitting: no event loop runs any more
            m_stopped = true;
        if (port != m_port) { // the port was replaced while we slept
            disconnect(bytes);
            port = m_port;
            if (port) bytes = connect(port, &BytePort::readyRead, &loop, &QEventLoop::quit);
        }
        if (const auto r = ready()) return *r;
    }
}

WaitResult ByteWaiter::waitByte(int timeoutMs, quint8 *byte, const std::function<bool()> &halt) {
    return sleepUntil(
        [&]() -> std::optional<WaitResult> {
            if (m_stopped) return WaitResult::Stopped;
            if (m_failed) return WaitResult::PortFailed;
            if (!m_port || !m_port->isOpen()) return WaitResult::NotOpen;
            if (halt && halt()) return WaitResult::Stopped;
            if (m_port->bytesAvailable() > 0) {
                const int b = m_port->readByte();
                if (b >= 0) {
                    *byte = quint8(b);
                    return WaitResult::Byte;
                }
            }
            return std::nullopt;
        },
        timeoutMs);
}

WaitResult ByteWaiter::waitUntil(const std::function<bool()> &cond, int timeoutMs) {
    return sleepUntil(
        [&]() -> std::optional<WaitResult> {
            if (cond()) return WaitResult::Byte;
            if (m_stopped) return WaitResult::Stopped;
            if (m_failed) return WaitResult::PortFailed;
            if (!m_port || !m_port->isOpen()) return WaitResult::NotOpen;
            return std::nullopt;
        },
        timeoutMs);
}

void ByteWaiter::sleep(int ms) {
    if (m_stopped || ms <= 0) return;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &ByteWaiter::woken, &loop, &QEventLoop::quit);
    timer.start(ms);
    if (loop.exec() == -1) m_stopped = true; // the application is quitting
}

} // namespace serialio
