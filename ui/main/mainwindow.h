#pragma once

#include "link/session.h"
#include "winkit/windowregistry.h"

#include <QColor>
#include <QMainWindow>
#include <QPoint>
#include <QPointer>

class QListWidget;
class QPushButton;
class QPlainTextEdit;
class QGroupBox;
class QLabel;
class QProgressBar;
class QTimer;

namespace serialio {
class ComMap;
}
namespace chlink {
class ChargerLink;
class Handshake;
} // namespace chlink

// The window the controller starts with: link state, port choice, connection, and the
// buttons and menu entries that open every other window.
class Main : public QMainWindow {
    Q_OBJECT
  public:
    Main(chlink::ChargerLink &link, serialio::ComMap &ports, QWidget *parent = nullptr);
    ~Main() override;

    chlink::Handshake &handshake() { return *m_handshake; }
    // The windows the buttons and menu entries open: each subsystem registers its own.
    winkit::WindowRegistry &registry() { return m_registry; }
    bool skipActivation() const { return m_skipActivation; }

    // Handlers, public so that tests can drive them without the event system.
    void load();
    void activate();    // the window became active (not by a dialog of the program closing)
    void reconnect();   // Cb_Reconnect
    void disconnect_(); // CD_DECONNECT
    void chooseComPort(int index); // ListComSel click
    // CbAssocPort: asks which device a COM number stands for, then mapComPort().
    void askComMapping();
    // COM n now stands for `device`, remembered for the next runs as --com is. When n is the
    // port in use, the link leaves the old device (as a port choice does) and the next
    // connection goes to the new one.
    void mapComPort(int n, const QString &device);
    // Opens a registered window (id: "Chargeur", "Micro", ...); the buttons check the
    // connection as the window is registered, the menu entries never do. False when the
    // window was not opened (no connection, not available yet).
    using Check = winkit::WindowRegistry::Check;
    bool open(const QString &id, Check check);
    void quit(); // Mnuquitter

    // The link waits for the user: disconnected by the user, or the port failed. Activations
    // then leave the port alone until "Reconnection" or "Quitter".
    bool waitingForUser() const;

    // The "À propos" box's text: program, version, licence, the data and settings folders.
    static QString aboutText();

  signals:
    // An activation of the window has been dealt with; fromDialog: it came from one of the
    // program's boxes or dialogs closing, and was ignored.
    void activationHandled(bool fromDialog);

  protected:
    bool event(QEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;
    void closeEvent(QCloseEvent *e) override;

  private:
    void showAbout();
    void buildUi();
    void setDisplay(const QString &text);
    void onPortLost(const QString &reason);
    void portError(const QString &reason);
    void refreshPortList();

    chlink::ChargerLink &m_link;
    serialio::ComMap &m_ports;
    chlink::Handshake *m_handshake = nullptr;
    chlink::Session m_session;
    winkit::WindowRegistry m_registry;
    bool m_skipActivation = false;
    bool m_activationQueued = false;
    bool m_quitting = false;
    // Indicator backgrounds, set at each activation.
    QColor m_colourGreen, m_colourRed, m_colourGrey;
    // Where the window stood when it last opened another window.
    QPoint m_position;

    QListWidget *m_list = nullptr;
    QPushButton *m_assocPort = nullptr; // shown with the port list
    QPlainTextEdit *m_display = nullptr;
    QGroupBox *m_frTemp = nullptr;
    QLabel *m_lbInfo = nullptr;
    QProgressBar *m_prbar = nullptr;
    QTimer *m_timer1 = nullptr;
    QTimer *m_timer2 = nullptr;
};
