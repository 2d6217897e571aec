#include "mainwindow.h"

#include "assocport.h"
#include "desktop/version.h"
#include "link/chargerlink.h"
#include "link/handshake.h"
#include "link/messages.h"
#include "modes/runlog.h"
#include "serial/commap.h"
#include "serial/devices.h"
#include "winkit/chargerwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>
#include <iterator>
#include <memory>

using chlink::ChargerLink;

namespace {
// Draws the device behind each "COM n" entry in grey at the right of the entry.
class PortItemDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *p, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override {
        QStyledItemDelegate::paint(p, option, index);
        const QString dev = index.data(Qt::UserRole).toString();
        p->save();
        p->setPen(option.palette.color(QPalette::Disabled, QPalette::Text));
        p->drawText(option.rect.adjusted(0, 0, -6, 0), Qt::AlignRight | Qt::AlignVCenter,
                    dev.isEmpty() ? QStringLiteral("(aucun port)") : dev);
        p->restore();
    }
};
} // namespace

Main::Main(ChargerLink &link, serialio::ComMap &ports, QWidget *parent)
    : QMainWindow(parent), m_link(link), m_ports(ports), m_session(link), m_registry(&m_session) {
    setObjectName(QStringLiteral("Main"));
    setWindowTitle(QStringLiteral("Controleur de Chargeur Rapide "));
    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(200);
    m_timer2 = new QTimer(this);
    m_timer2->setObjectName(QStringLiteral("Timer2"));
    m_timer2->setInterval(20);
    connect(m_timer1, &QTimer::timeout, this, [this] { m_link.setAbortFlag(1); });
    connect(m_timer2, &QTimer::timeout, this, [this] { m_link.setProbeTimeoutFlag(1); });
    m_timer2->start();

    m_handshake = new chlink::Handshake(m_link, m_timer1, m_timer2, this);
    connect(m_handshake, &chlink::Handshake::display, this, &Main::setDisplay);
    connect(m_handshake, &chlink::Handshake::loadVisible, this, [this](bool v) {
        m_frTemp->setVisible(v);
        m_prbar->setVisible(v);
        if (v) m_lbInfo->setText(QStringLiteral(" Chargement partiel EEproms"));
    });
    connect(m_handshake, &chlink::Handshake::loadProgress, this, [this](int value, int maximum) {
        m_prbar->setMaximum(maximum);
        m_prbar->setValue(value);
    });
    connect(m_handshake, &chlink::Handshake::portError, this, &Main::portError);
    connect(m_handshake, &chlink::Handshake::timedOut, this,
            [this](const QString &context) { chlink::timeoutBox(this, context); });
    connect(&m_link, &ChargerLink::portLost, this, &Main::onPortLost);

    m_registry.setMainTimersStopper([this] {
        m_timer1->stop();
        m_timer2->stop();
        m_link.setAbortFlag(0);
    });

    buildUi();
    load();
}

Main::~Main() = default;

void Main::buildUi() {
    auto *central = new QWidget(this);
    auto *grid = new QGridLayout(central);

    auto *info3 = new QLabel(QStringLiteral("Séléction d'une action "), central);
    info3->setObjectName(QStringLiteral("Info3"));
    auto *info2 = new QLabel(QStringLiteral("&Info / Display"), central);
    info2->setObjectName(QStringLiteral("Info2"));

    const auto button = [central](const char *name, const QString &text) {
        auto *b = new QPushButton(text, central);
        b->setObjectName(QLatin1String(name));
        b->setMinimumHeight(32);
        return b;
    };
    QPushButton *chargeur = button("cb_chargeur", QStringLiteral("&Chargeur"));
    QPushButton *dech = button("CbDechargeur", QStringLiteral("&Dechargeur"));
    QPushButton *capa = button("CbCapa", QStringLiteral("Mesure &Bat."));
    QPushButton *moni = button("CbMoni", QStringLiteral("&Monitor"));
    QPushButton *reglage = button("Cb_Reglage", QStringLiteral("&Réglage"));
    QPushButton *debug = button("Cb_Debug", QStringLiteral("&Acces Micro"));
    QPushButton *reconnect = button("Cb_Reconnect", QStringLiteral("Reco&nnection"));
    QPushButton *deconnect = button("CD_DECONNECT", QStringLiteral("D&econnection"));
    QPushButton *quitter = button("Cb_quitter", QStringLiteral("&Quitter"));

    m_display = new QPlainTextEdit(central);
    m_display->setObjectName(QStringLiteral("TXT_Display"));
    m_display->setReadOnly(true);
    m_display->setPlainText(QStringLiteral("Pas de connection\r\n ..Attente..\r\n"));
    m_display->setMinimumSize(300, 90);
    m_display->setMaximumHeight(160);
    m_display->setAccessibleName(QStringLiteral("État de la liaison"));
    info2->setBuddy(m_display);

    m_list = new QListWidget(central);
    m_list->setObjectName(QStringLiteral("ListComSel"));
    m_list->setMaximumHeight(90);
    m_list->setItemDelegate(new PortItemDelegate(m_list));
    m_assocPort = new QPushButton(QStringLiteral("Associer un périphérique au port…"), central);
    m_assocPort->setObjectName(QStringLiteral("CbAssocPort"));
    m_assocPort->setToolTip(
        QStringLiteral("Choisir le port série (adaptateur USB…) derrière un numéro COM"));

    m_frTemp = new QGroupBox(QStringLiteral("INFO"), central);
    m_frTemp->setObjectName(QStringLiteral("FRtemp"));
    auto *frLayout = new QVBoxLayout(m_frTemp);
    m_lbInfo = new QLabel(QStringLiteral("Info"), m_frTemp);
    m_lbInfo->setObjectName(QStringLiteral("Lbinfo"));
    m_prbar = new QProgressBar(m_frTemp);
    m_prbar->setObjectName(QStringLiteral("Prbar"));
    m_prbar->setRange(0, 32);
    frLayout->addWidget(m_lbInfo);
    frLayout->addWidget(m_prbar);

    auto *actions = new QVBoxLayout;
    actions->addWidget(info3);
    for (QPushButton *b : {chargeur, dech, capa, moni, reglage, debug})
        actions->addWidget(b);
    actions->addStretch();

    auto *right = new QVBoxLayout;
    right->addWidget(info2);
    right->addWidget(m_display);
    right->addWidget(m_list);
    right->addWidget(m_assocPort);
    right->addWidget(m_frTemp);
    right->addStretch(1);
    auto *linkRow = new QHBoxLayout;
    linkRow->addWidget(reconnect);
    linkRow->addWidget(deconnect);
    right->addLayout(linkRow);
    right->addWidget(quitter);

    // Tab follows the window's columns: the actions, the link's state, the link's buttons.
    QWidget *order[] = {chargeur,  dech,   capa,      moni,      reglage, debug,
                        m_display, m_list, reconnect, deconnect, quitter};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    m_list->setAccessibleName(QStringLiteral("Port série"));

    grid->addLayout(actions, 0, 0);
    grid->addLayout(right, 0, 1);
    grid->setColumnStretch(1, 1);
    setCentralWidget(central);

    QMenu *file = menuBar()->addMenu(QStringLiteral("&File")); // Alt+F opens it
    file->setObjectName(QStringLiteral("Mnufile"));
    const auto entry = [file](const char *name, const QString &text) {
        QAction *a = file->addAction(text);
        a->setObjectName(QLatin1String(name));
        return a;
    };
    QAction *mdCapa = entry("MdCapa", QStringLiteral("Mode Mesure &Capacite"));
    QAction *mdDech = entry("MDdech", QStringLiteral("Mode &Dechargeur"));
    QAction *mnuChargeur = entry("MnuChargeur", QStringLiteral("Mode C&hargeur"));
    QAction *mnuReglage = entry("MnuReglage", QStringLiteral("Mode &Reglage"));
    QAction *mnuMicro = entry("MnuMicro", QStringLiteral("Debugging &Micro"));
    QAction *mSelCom = entry("MSelCom", QStringLiteral("&Selection du port com"));
    QAction *menuReset = entry("MenuReset", QStringLiteral("Reinitialisation s&erie"));
    QAction *mnuQuitter = entry("Mnuquitter", QStringLiteral("&Quitter"));
    menuReset->setToolTip(QStringLiteral("Sans effet"));
    QMenu *logs = menuBar()->addMenu(QStringLiteral("&Journaux"));
    logs->setObjectName(QStringLiteral("MnuJournaux"));
    QAction *viewerEntry = logs->addAction(QStringLiteral("&Visionneuse de journaux"));
    viewerEntry->setObjectName(QStringLiteral("MnuVisionneuse"));
    connect(viewerEntry, &QAction::triggered, this,
            [this] { open(QStringLiteral("Visionneuse"), Check::NoConnectionCheck); });
    QMenu *help = menuBar()->addMenu(QStringLiteral("&?"));
    help->setObjectName(QStringLiteral("MnuAide"));
    QAction *about = help->addAction(QStringLiteral("À &propos de pelmora"));
    about->setObjectName(QStringLiteral("MnuAPropos"));
    connect(about, &QAction::triggered, this, &Main::showAbout);

    connect(chargeur, &QPushButton::clicked, this,
            [this] { open(QStringLiteral("Chargeur"), Check::AsRegistered); });
    connect(dech, &QPushButton::clicked, this,
            [this] { open(QStringLiteral("Dechargeur"), Check::AsRegistered); });
    connect(capa, &QPushButton::clicked, this,
            [this] { open(QStringLiteral("MesCapa"), Check::AsRegistered); });
    connect(moni, &QPushButton::clicked, this, [this] {
        if (open(QStringLiteral("SelMoni"), Check::AsRegistered)) m_skipActivation = true;
    });
    connect(debug, &QPushButton::clicked, this,
            [this] { open(QStringLiteral("Micro"), Check::AsRegistered); });
    connect(reglage, &QPushButton::clicked, this,
            [this] { open(QStringLiteral("Reglage"), Check::AsRegistered); });
    connect(reconnect, &QPushButton::clicked, this, &Main::reconnect);
    connect(deconnect, &QPushButton::clicked, this, &Main::disconnect_);
    connect(quitter, &QPushButton::clicked, this, &Main::quit);
    connect(mnuChargeur, &QAction::triggered, this,
            [this] { open(QStringLiteral("Chargeur"), Check::NoConnectionCheck); });
    connect(mdDech, &QAction::triggered, this,
            [this] { open(QStringLiteral("Dechargeur"), Check::NoConnectionCheck); });
    connect(mdCapa, &QAction::triggered, this,
            [this] { open(QStringLiteral("MesCapa"), Check::NoConnectionCheck); });
    connect(mnuMicro, &QAction::triggered, this,
            [this] { open(QStringLiteral("Micro"), Check::NoConnectionCheck); });
    connect(mnuReglage, &QAction::triggered, this,
            [this] { open(QStringLiteral("Reglage"), Check::NoConnectionCheck); });
    connect(mSelCom, &QAction::triggered, this, [this] {
        refreshPortList();
        m_list->show();
        m_list->setFocus();
        m_assocPort->show();
    });
    connect(m_assocPort, &QPushButton::clicked, this, &Main::askComMapping);
    // "Reinitialisation serie" has no action.
    connect(mnuQuitter, &QAction::triggered, this, &Main::quit);
    connect(m_list, &QListWidget::itemClicked, this,
            [this](QListWidgetItem *item) { chooseComPort(m_list->row(item)); });
    // From the keyboard: the arrows move along the list, Enter chooses the port as a click
    // does (only the key: a double click must not choose twice).
    m_list->installEventFilter(this);
}

QString Main::aboutText() {
    const QString data = QDir::toNativeSeparators(modes::runLogFolder());
    const QString config = QDir::toNativeSeparators(
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
    return QStringLiteral("<p><b>pelmora %1</b></p>"
                          "<p>Pilotage du chargeur rapide par la ligne série : charge, "
                          "décharge, mesure de capacité, moniteur, réglages, EEPROM et "
                          "programmation des microcontrôleurs.</p>"
                          "<p>Licence : GNU GPL version 3 ou ultérieure. Ce programme est "
                          "fourni sans aucune garantie.</p>"
                          "<p>Journaux des mesures : %2<br>Réglages : %3</p>")
        .arg(desktop::version(), data.toHtmlEscaped(), config.toHtmlEscaped());
}

void Main::showAbout() {
    QMessageBox box(QMessageBox::Information, QStringLiteral("À propos de pelmora"), aboutText(),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("APropos"));
    box.setTextFormat(Qt::RichText);
    box.setIconPixmap(windowIcon().pixmap(64, 64));
    const chlink::DialogScope scope(this); // its closing is no return to the window
    box.exec();
}

void Main::refreshPortList() {
    const QList<serialio::SerialDevice> found = serialio::serialDevices();
    for (int i = 0; i < m_list->count(); ++i) {
        const QString dev = m_ports.device(i + 1);
        // The entries keep their names; the device behind each is shown beside it, its
        // description and USB ids in the tooltip.
        QString about = dev;
        for (const serialio::SerialDevice &d : found)
            if (d.device == dev) about = serialio::deviceLine(d);
        m_list->item(i)->setText(QStringLiteral("COM %1").arg(i + 1));
        m_list->item(i)->setToolTip(dev.isEmpty() ? QStringLiteral("aucun port série associé")
                                                  : about);
        m_list->item(i)->setData(Qt::UserRole, dev);
    }
}

void Main::setDisplay(const QString &text) {
    m_display->setPlainText(text);
}

void Main::load() {
    m_link.portFault = false;
    m_link.closePort();
    winkit::centreOnScreen(this, sizeHint().expandedTo(QSize(600, 380)));
    m_link.tableA.fill(0, 257);
    m_link.tableB.fill(0, 257);
    m_link.portNumber = 1;
    m_frTemp->hide();
    m_link.portSetup();
    m_link.userDisconnected = false;
    m_link.reconnectOnActivate = 1;
    m_list->hide();
    m_assocPort->hide();
    m_list->clear();
    for (int i = 1; i <= 4; ++i)
        m_list->addItem(QStringLiteral("COM %1").arg(i));
    refreshPortList();
    m_skipActivation = false;
}

bool Main::eventFilter(QObject *watched, QEvent *e) {
    if (watched == m_list && e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(e)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && m_list->currentRow() >= 0) {
            chooseComPort(m_list->currentRow());
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

bool Main::event(QEvent *e) {
    if (e->type() == QEvent::WindowActivate && !m_quitting) {
        // A box or dialog of the program closing hands the activation back to the window:
        // that is no return to the window and starts nothing.
        if (chlink::activationFromDialog(this)) {
            QTimer::singleShot(0, this, [this] { emit activationHandled(true); });
        } else if (!m_activationQueued) {
            // Run after the activation event has been delivered: the handshake waits inside.
            m_activationQueued = true;
            QTimer::singleShot(0, this, [this] {
                m_activationQueued = false;
                if (isVisible() && !m_quitting) activate();
                emit activationHandled(false);
            });
        }
    }
    return QMainWindow::event(e);
}

bool Main::waitingForUser() const {
    return m_link.userDisconnected || m_link.portFault;
}

void Main::activate() {
    if (m_handshake->isRunning())
        return; // coming back to the window while it probes changes nothing
    if (!m_skipActivation) {
        m_colourGreen = QColor(0x00, 0xFF, 0x00);
        m_colourRed = QColor(0xFF, 0x00, 0x00);
        m_colourGrey = QColor(0x80, 0x80, 0x80);
        if (!waitingForUser()) {
            m_link.closePort();
            auto result = chlink::Handshake::Result::Connected;
            if (m_link.reconnectOnActivate == 1) result = m_handshake->run();
            if (m_quitting) return;
            // A handshake ended by the user (disconnection, port choice) or by a port
            // failure leaves the port as they left it.
            if (result != chlink::Handshake::Result::Cancelled && !waitingForUser() &&
                !m_link.isOpen()) {
                m_link.portSetup();
                m_link.userDisconnected = false;
                QString reason;
                if (!m_link.openPort(&reason)) {
                    // Nothing to talk to: the display and the mode buttons say so.
                    setDisplay(QStringLiteral("Déconnecté"));
                    m_link.connectionFlag = 0;
                    m_link.userDisconnected = true;
                    portError(reason);
                }
            }
        }
    }
    m_skipActivation = false;
}

void Main::reconnect() {
    // The user asks for the link: whatever held it is over. A "Deconnection" while this
    // handshake runs sets the flags again, and holds.
    m_link.userDisconnected = false;
    m_link.portFault = false;
    m_link.reconnectOnActivate = 0;
    if (m_handshake->isRunning()) {
        m_handshake->run(); // restarts the running one from a closed port
        return;
    }
    m_link.closePort();
    m_handshake->run();
}

void Main::disconnect_() {
    m_timer1->stop();
    m_link.setAbortFlag(0);
    m_handshake->cancel();
    // With a port fault the port cannot be opened: there is nothing to tell the charger.
    if (!m_link.portFault) {
        if (!m_link.isOpen()) m_link.openPort();
        m_link.command(chlink::CMD_DISCONNECT);
        m_link.closePort();
    }
    setDisplay(QStringLiteral("Déconnecté"));
    m_link.connectionFlag = 0;
    m_link.reconnectOnActivate = 1;
    m_link.userDisconnected = true;
    m_link.portFault = false;
}

void Main::chooseComPort(int index) {
    m_list->hide();
    m_assocPort->hide();
    if (index >= 0 && index <= 3) m_link.portNumber = index + 1;
    disconnect_();
    m_link.portSetup();
    // Set up, not connected: the mode windows wait for "Reconnection".
    m_link.connectionFlag = 0;
}

void Main::askComMapping() {
    // The entry the user stands on, else the port in use.
    const int row = m_list->currentRow();
    AssocPort dialog(m_ports, row >= 0 && row < m_ports.ports() ? row + 1 : m_link.portNumber,
                     this);
    const chlink::DialogScope scope(this); // its closing is no return to the window
    if (dialog.exec() != QDialog::Accepted) return;
    mapComPort(dialog.chosenNumber(), dialog.chosenDevice());
}

void Main::mapComPort(int n, const QString &device) {
    if (n < 1 || n > m_ports.ports() || device.trimmed().isEmpty()) return;
    m_ports.set(n, device.trimmed(), true);
    refreshPortList();
    m_list->setCurrentRow(n - 1);
    if (n != m_link.portNumber) return;
    // The port in use changes device: leave the old one as a port choice does.
    disconnect_();
    m_link.portSetup();
    m_link.connectionFlag = 0;
}

bool Main::open(const QString &id, Check check) {
    const QPoint position = pos();
    if (!m_registry.open(id, this, check)) return false;
    m_position = position;
    return true;
}

void Main::portError(const QString &reason) {
    // Which devices there are, so that the user sees which one to pick.
    chlink::portErrorBox(this, serialio::withFoundDevices(reason) +
                                   QStringLiteral("\nChoix du port : menu File, "
                                                  "« Selection du port com »."));
}

void Main::onPortLost(const QString &reason) {
    setDisplay(QStringLiteral("Déconnecté"));
    m_link.reconnectOnActivate = 1;
    m_link.userDisconnected = true; // held until the user reconnects
    portError(reason);
}

void Main::quit() {
    if (m_quitting) return;
    m_quitting = true;
    m_handshake->cancel();
    m_timer1->stop();
    m_timer2->stop();
    hide();
    // Every other window closes first, while the port is still open: a mode window in a run
    // switches the charger's outputs off and closes its log. One whose exchange is inside a
    // wait refuses for now and goes once its reply and its stop bytes are through (a window
    // already left is hidden until then); the port closes, flushing what was sent, when the
    // last of them has gone, or after a bound.
    const QList<QPointer<QWidget>> staying = m_registry.closeAll();
    auto waiting = std::make_shared<int>(0);
    auto finished = std::make_shared<bool>(false);
    const auto finish = [this, finished] {
        if (*finished) return;
        *finished = true;
        hide(); // a window that has gone showed it again
        m_link.shutdown();
        m_link.closePort();
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    };
    for (const QPointer<QWidget> &w : staying) {
        if (!w) continue;
        ++*waiting;
        connect(w, &QObject::destroyed, this, [waiting, finish] {
            if (--*waiting == 0) finish();
        });
    }
    if (*waiting == 0) {
        finish();
        return;
    }
    QTimer::singleShot(2 * m_link.replyTimeout() + 1000, this, finish);
}

void Main::closeEvent(QCloseEvent *e) {
    // Closing by the frame ends the program as "Quitter" does.
    quit();
    e->accept();
}
