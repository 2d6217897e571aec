#include "chargerlink.h"

#include <QDeadlineTimer>

namespace chlink {

ChargerLink::ChargerLink(PortFactory factory, PortResolver resolver, QObject *parent)
    : QObject(parent), m_maker(std::move(factory), std::move(resolver)) {
    connect(&m_waiter, &serialio::ByteWaiter::portLost, this, &ChargerLink::onPortFailed);
}

ChargerLink::~ChargerLink() {
    serialio::PortMaker::dispose(m_port);
}

void ChargerLink::renewPort() {
    if (m_maker.renew(m_port, portNumber, this)) m_waiter.setPort(m_port);
}

void ChargerLink::portSetup() {
    renewPort();
    if (m_port) m_port->setBaudRate(kBaud);
    connectionFlag = 1;
    portFault = false;
}

bool ChargerLink::openPort(QString *reason) {
    if (!m_port) { // the number had no device when it was set up: it may have one now
        renewPort();
        if (m_port) m_port->setBaudRate(kBaud);
    }
    if (!m_port) {
        if (reason) *reason = QStringLiteral("COM %1 : aucun port série associé").arg(portNumber);
        return false;
    }
    if (m_port->isOpen()) return true;
    QString why;
    if (!m_port->open(&why)) {
        if (reason) *reason = why;
        return false;
    }
    m_waiter.clearFailure();
    return true;
}

void ChargerLink::closePort() {
    if (m_port && m_port->isOpen()) {
        m_port->flush();
        m_port->close();
    }
}

bool ChargerLink::isOpen() const {
    return m_port && m_port->isOpen();
}

void ChargerLink::setBaudRate(int baud) {
    if (m_port) m_port->setBaudRate(baud);
}

QString ChargerLink::deviceName() const {
    return m_port ? m_port->deviceName() : m_maker.device();
}

void ChargerLink::setAbortFlag(quint8 v) {
    m_abort = v;
    if (v) wake();
}

void ChargerLink::setProbeTimeoutFlag(quint8 v) {
    m_probeTimeout = v;
    if (v) wake();
}

void ChargerLink::wake() {
    m_waiter.wake();
}

void ChargerLink::shutdown() {
    m_waiter.stop();
}

void ChargerLink::sendByte(quint8 b) {
    send(QByteArray(1, char(b)));
}

void ChargerLink::send(const QByteArray &bytes) {
    if (m_port && m_port->isOpen()) m_port->write(bytes);
}

void ChargerLink::command(Cmd code, std::initializer_list<quint8> args) {
    QByteArray bytes;
    bytes.reserve(2 + int(args.size()));
    bytes.append(char(ESC));
    bytes.append(char(code));
    for (quint8 a : args)
        bytes.append(char(a));
    send(bytes);
}

void ChargerLink::command(Cmd code, const QByteArray &args) {
    send(QByteArray(1, char(ESC)) + char(code) + args);
}

qint64 ChargerLink::pending() const {
    return (m_port && m_port->isOpen()) ? m_port->bytesAvailable() : 0;
}

int ChargerLink::readPending() {
    return (m_port && m_port->isOpen()) ? m_port->readByte() : -1;
}

void ChargerLink::drain() {
    while (readPending() >= 0) {
    }
}

bool ChargerLink::waitUntil(const std::function<bool()> &cond, int timeoutMs) {
    m_waiter.waitUntil(cond, timeoutMs);
    return cond();
}

bool ChargerLink::waitByte(int timeoutMs) {
    if (timeoutMs < 0) timeoutMs = m_replyTimeoutMs;
    lastByte = 0;
    m_error = LinkError::None;
    if (!isOpen()) {
        m_error = m_waiter.portFailed() ? LinkError::PortFailed : LinkError::NotOpen;
        return false;
    }
    quint8 byte = 0;
    const serialio::WaitResult r =
        m_waiter.waitByte(timeoutMs, &byte, [this] { return m_abort != 0; });
    if (m_waiter.portFailed()) {
        m_error = LinkError::PortFailed;
        return false;
    }
    if (m_abort || m_waiter.stopped()) {
        m_error = LinkError::Aborted;
        return false;
    }
    if (r != serialio::WaitResult::Byte) {
        m_error = isOpen() ? LinkError::Timeout : LinkError::NotOpen;
        if (m_error == LinkError::Timeout) ++m_timeouts;
        return false;
    }
    lastByte = byte;
    return true;
}

// Each reply as a whole gets one reply time-out, so a charger that chatters (noise, never
// the ESC or the 6) cannot hold a wait for ever.
bool ChargerLink::waitByteBefore(const QDeadlineTimer &deadline) {
    const qint64 left = deadline.remainingTime();
    if (left == 0) {
        lastByte = 0;
        m_error = LinkError::Timeout;
        ++m_timeouts;
        return false;
    }
    return waitByte(int(left));
}

std::optional<QByteArray> ChargerLink::readFrame(int n) {
    lastByte = 0;
    const QDeadlineTimer deadline(m_replyTimeoutMs);
    // Bytes before the ESC are stale answers and noise.
    do {
        if (!waitByteBefore(deadline)) return std::nullopt;
    } while (lastByte != ESC);
    QByteArray data;
    data.reserve(n);
    for (int i = 0; i < n; ++i) {
        if (!waitByteBefore(deadline)) return std::nullopt;
        data.append(char(lastByte));
    }
    if (!waitByteBefore(deadline)) // trailing byte
        return std::nullopt;
    return data;
}

std::optional<quint8> ChargerLink::answerByte() {
    if (!waitByte()) return std::nullopt;
    return lastByte;
}

bool ChargerLink::waitAck() {
    const QDeadlineTimer deadline(m_replyTimeoutMs);
    do {
        if (!waitByteBefore(deadline)) return false;
    } while (lastByte != ACK);
    return true;
}

void ChargerLink::onPortFailed(const QString &reason) {
    // The waiter has marked the port failed and woken every wait.
    connectionFlag = 0;
    m_error = LinkError::PortFailed;
    emit portLost(reason);
}

QString linkErrorText(LinkError e) {
    switch (e) {
    case LinkError::Timeout:
    case LinkError::NotOpen:
        return QStringLiteral("Time out sur interface Serie");
    default:
        return QString();
    }
}

} // namespace chlink
