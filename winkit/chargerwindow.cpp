#include "chargerwindow.h"

#include "link/session.h"
#include "windowregistry.h"

#include <QCloseEvent>
#include <QScreen>

namespace winkit {

ChargerWindow::ChargerWindow(const Host &host, QWidget *parent)
    : QWidget(parent), m_host(host), m_gate(new serialio::ExchangeGate(this)) {
    // A stop or a close wakes the wait in progress, which then sees interrupted().
    connect(m_gate, &serialio::ExchangeGate::wakeRequested, this, [this] {
        if (m_host.session) m_host.session->wake();
    });
}

ChargerWindow::~ChargerWindow() = default;

void centreOnScreen(QWidget *w, QSize size) {
    const QScreen *s = w->screen();
    if (!s) {
        w->resize(size);
        return;
    }
    const QRect r = s->availableGeometry();
    size = size.boundedTo(r.size());
    w->resize(size);
    w->move(r.left() + (r.width() - size.width()) / 2, r.top() + (r.height() - size.height()) / 2);
}

void ChargerWindow::load() {
    centreOnScreen(this, size().expandedTo(sizeHint()));
    show();
    if (m_host.stopMainTimers) m_host.stopMainTimers();
    if (m_host.hidesOpener && m_host.opener) m_host.opener->hide();
}

void ChargerWindow::leave() {
    if (isClosing()) return;
    if (m_host.session) m_host.session->setReconnectOnActivate(0);
    close();
}

ChargerWindow *ChargerWindow::openWindow(const QString &id) {
    return m_host.registry ? m_host.registry->open(id, this) : nullptr;
}

void ChargerWindow::showOpener() {
    if (m_host.hidesOpener && m_host.opener) m_host.opener->show();
}

bool ChargerWindow::programEnding() const {
    return m_host.session && m_host.session->isShuttingDown();
}

void ChargerWindow::closeEvent(QCloseEvent *e) {
    if (!isClosing() && !mayClose()) {
        e->ignore();
        return;
    }
    // (A second close may have come in while mayClose() asked.)
    if (!isClosing()) {
        aboutToLeave();
        const bool busy = m_gate->busy();
        const bool openerWhenIdle = busy && m_openerBackWhenIdle;
        m_gate->close([this, busy, openerWhenIdle] {
            leaveWhenIdle();
            if (!busy) return; // closed while idle: the accepted close event does the rest
            hide();
            if (openerWhenIdle && !programEnding()) showOpener();
            if (testAttribute(Qt::WA_DeleteOnClose)) deleteLater();
        });
        if (!openerWhenIdle) showOpener();
    }
    if (m_gate->busy()) {
        // A handler is inside a wait: delete once it has returned; hide now unless the
        // window stays until then.
        e->ignore();
        if (!m_shownUntilIdle || programEnding()) hide();
        return;
    }
    QWidget::closeEvent(e);
}

} // namespace winkit
