#pragma once

#include "host.h"
#include "serial/exchangegate.h"

#include <QLatin1String>
#include <QWidget>
#include <utility>

namespace chlink {
class Session;
}

namespace winkit {

// Makes a child widget (or timer) carrying the system's name as its objectName, and returns
// it typed, for the member pointer that the window then uses: a mistyped name cannot turn
// into a failed lookup in the middle of a poll. The arguments come before the parent, as
// in Qt's own constructors: makeNamed<QLabel>(box, "Label18", text).
template <class W, class... Args>
W *makeNamed(QWidget *parent, const char *objectName, Args &&...args) {
    auto *w = new W(std::forward<Args>(args)..., parent);
    w->setObjectName(QLatin1String(objectName));
    return w;
}

// Resizes w to `size`, no larger than the free area of its screen, and centres it there.
void centreOnScreen(QWidget *w, QSize size);

// The base of pelmora's windows that talk to the charger.
//
// A constructor builds the window and nothing more; the registry calls load() to show it.
// "Retour" (leave()), the window frame and "Quitter" all go through one closing path: the
// window's own aboutToLeave() (timers, logs, outputs off), then the gate closes (nothing
// queued runs, the exchange in progress stops at its next wait), leaveWhenIdle() runs once
// no handler is inside a wait, the opener comes back, and the window is deleted.
class ChargerWindow : public QWidget {
    Q_OBJECT
  public:
    explicit ChargerWindow(const Host &host, QWidget *parent = nullptr);
    ~ChargerWindow() override;

    // Shows the window centred on its screen (no larger than the screen), stops the main
    // window's timers and hides the opener when the window's registration asks for it.
    void load();
    // "Retour": the main window will come back without a new handshake; then the window
    // closes as by its frame.
    void leave();
    // Opens another registered window from this one (this window is its opener).
    ChargerWindow *openWindow(const QString &id);

    const Host &host() const { return m_host; }
    chlink::Session &session() const { return *m_host.session; }
    serialio::ExchangeGate &gate() const { return *m_gate; }
    bool isClosing() const { return m_gate->closing(); }

  protected:
    // Asked first, whichever way the window closes, until it is closing: false keeps it
    // open (a window that asks before stopping a transfer).
    virtual bool mayClose() { return true; }
    // What closing adds in a window: stop its timers, close its logs, switch its outputs
    // off. Runs once, before the gate closes, whichever way the window closes.
    virtual void aboutToLeave() {}
    // What closing adds once no exchange of the window is in progress any more (at once when
    // it closed idle, else when the last wait has had its reply): the last bytes a window
    // owes the charger (a run's outputs off) go out here, never in the middle of another
    // exchange. With setOpenerBackWhenIdle(true) it runs before the opener comes back.
    virtual void leaveWhenIdle() {}
    // Shows the opener again if this window hid it (closing does it; a message on the way
    // out may want the opener under it first).
    void showOpener();
    // By default the opener comes back at once, even while an exchange of this window ends
    // its current wait. A window whose exchange must end before the opener may touch the
    // port again (a flash transfer: the main window reopens the port as it comes back) asks
    // for the opener to come back only once no exchange is in progress, and not at all when
    // the program is ending by then.
    void setOpenerBackWhenIdle(bool whenIdle) { m_openerBackWhenIdle = whenIdle; }
    // By default a window closed during an exchange hides at once. One that says it is
    // stopping and reports where its exchange stopped stays shown until the exchange has
    // ended (it still hides at once when the program is ending).
    void setShownUntilIdle(bool shown) { m_shownUntilIdle = shown; }

    void closeEvent(QCloseEvent *e) override;

    // make<QLabel>("Label18", text): a child of this window named as the system names it.
    template <class W, class... Args> W *make(const char *objectName, Args &&...args) {
        return makeNamed<W>(this, objectName, std::forward<Args>(args)...);
    }

  private:
    // The program is ending ("Quitter" of the main window has shut the link down).
    bool programEnding() const;

    Host m_host;
    serialio::ExchangeGate *m_gate;
    bool m_openerBackWhenIdle = false;
    bool m_shownUntilIdle = false;
};

} // namespace winkit
