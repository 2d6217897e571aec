#include "calibwindow.h"

#include "link/exchanges.h"
#include "link/messages.h"
#include "link/session.h"
#include "serial/polltimer.h"

#include <QTimer>

namespace calib {

using namespace chlink;

CalibWindow::CalibWindow(const winkit::Host &host, QWidget *parent)
    : winkit::ChargerWindow(host, parent) {}

CalibWindow::~CalibWindow() {
    if (m_timer) m_timer->stop();
    // Deleted without having been left (no event loop any more): the paths still go off,
    // without their answers.
    if (m_outputsTouched && !isClosing() && session().isOpen()) {
        for (const auto &[code, value] : m_leavingOutputs)
            session().command(code, {value});
        session().flush();
    }
}

void CalibWindow::setMeasurement(int intervalMs, const char *timerName) {
    m_timer = new serialio::PollTimer(
        gate(), KeyTick, intervalMs, [this] { return m_measuring; }, [this] { measureTick(); },
        QLatin1String(timerName), this);
}

void CalibWindow::showEvent(QShowEvent *e) {
    winkit::ChargerWindow::showEvent(e);
    if (m_openingScheduled) return;
    m_openingScheduled = true;
    // Once the window is on the screen, not inside show().
    QTimer::singleShot(0, this, [this] { gate().request(KeyOpen, [this] { runOpening(); }); });
}

void CalibWindow::runOpening() {
    m_outputsTouched = !m_openingOutputs.empty();
    if (!sendOutputs(m_openingOutputs)) {
        reportFailure(QStringLiteral("Mise en mesure des sorties : "));
        return;
    }
    if (!opening() || gate().interrupted()) return;
    m_opened = true;
    // The timer comes once this exchange has ended.
    m_measuring = m_timer != nullptr;
}

bool CalibWindow::holdInput(bool held) {
    const bool was = session().userInputHeld();
    session().setUserInputHeld(held);
    return was;
}

void CalibWindow::measureTick() {
    if (isClosing() || !m_measuring) return;
    serialio::ExchangeGate::Exchange x(gate());
    const bool was = holdInput(true);
    const bool ok = measure();
    holdInput(was);
    if (gate().interrupted()) return;
    if (ok) {
        m_timeoutShown = false;
        measured();
        return;
    }
    // The measurement is dropped; the next tick tries again, without a second box.
    if (m_timeoutShown || session().isShuttingDown()) return;
    const LinkError e = session().error();
    if (e == LinkError::Timeout || e == LinkError::NotOpen) {
        m_timeoutShown = true;
        timeoutBox(this);
    }
}

std::optional<int> CalibWindow::readAverage(Cmd code, int n) {
    long sum = 0;
    for (int i = 0; i < n; ++i) {
        const auto v = readChannel(session(), code);
        if (!v || gate().interrupted()) return std::nullopt;
        sum += *v;
    }
    return int(sum / n); // counts are never negative: the quotient is the floor
}

bool CalibWindow::sendOutputs(const Settings &settings) {
    for (const auto &[code, value] : settings)
        if (!setOutput(session(), code, value) || gate().interrupted()) return false;
    return true;
}

bool CalibWindow::writeEeprom(int target, int address, quint8 value, Reply reply,
                              bool updateTable) {
    const bool ok = reply == Reply::Ack
                        ? eeWrite(session(), target, quint8(address), value)
                        : eeWriteAnswerByte(session(), target, quint8(address), value);
    if (!ok) return false;
    if (updateTable) session().table(target)[address] = char(value);
    return !gate().interrupted();
}

std::optional<quint8> CalibWindow::readEeprom(int target, int address) {
    const auto v = eeRead(session(), target, quint8(address));
    if (!v || gate().interrupted()) return std::nullopt;
    return v;
}

void CalibWindow::reportFailure(const QString &context) {
    if (isClosing() || session().isShuttingDown() || gate().interrupted()) return;
    const LinkError e = session().error();
    if (e == LinkError::Timeout || e == LinkError::NotOpen) timeoutBox(this, context);
    // A port failure has already been reported by the main window.
}

void CalibWindow::refuse(const QString &text) {
    errorBox(this, text);
}

void CalibWindow::aboutToLeave() {
    m_measuring = false;
    if (m_timer) m_timer->stop();
    hide();
}

void CalibWindow::leaveWhenIdle() {
    if (!m_outputsTouched || m_leavingOutputs.empty()) return;
    m_outputsTouched = false;
    serialio::ExchangeGate::Exchange x(gate());
    // Each answer is waited for until one is missing; the rest then go out unanswered.
    bool answered = true;
    for (const auto &[code, value] : m_leavingOutputs) {
        if (!session().isOpen()) break;
        if (answered)
            answered = setOutput(session(), code, value);
        else
            session().command(code, {value});
    }
    if (answered) return;
    session().flush();
    const LinkError e = session().error();
    if (session().isShuttingDown() || (e != LinkError::Timeout && e != LinkError::NotOpen)) return;
    // The paths may still be on: the user must know, on top of the window underneath.
    showOpener();
    timeoutBox(host().opener, QStringLiteral("Sortie de la fenêtre : le chargeur n'a pas "
                                             "confirmé l'arrêt des sorties"));
}

} // namespace calib
