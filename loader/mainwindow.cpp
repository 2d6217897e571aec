#include "mainwindow.h"

#include "bootlink.h"
#include "dialogs.h"
#include "numtext.h"
#include "serial/devices.h"
#include "serial/exchangegate.h"
#include "settingsfile.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace loader {

namespace {
const QString kPortError = QStringLiteral("Erreur port com");

QString hex4(int v) {
    return QStringLiteral("0x") +
           QString::number(v, 16).rightJustified(4, QLatin1Char('0')).toUpper();
}

// What a failed block's last answer means.
QString answerText(int answer) {
    if (answer == Upload::kNack) return QStringLiteral("NACK, bloc mal reçu");
    if (answer == Upload::kErFlash) return QStringLiteral("ERFLASH, écriture de la flash en échec");
    return QStringLiteral("réponse inattendue 0x") +
           QStringLiteral("%1").arg(answer, 2, 16, QLatin1Char('0')).toUpper();
}
} // namespace

Main::Main(BootLink &link, const ComMap &ports, const QString &settingsPath, QWidget *parent)
    : QMainWindow(parent), m_link(link), m_ports(ports), m_settingsPath(settingsPath),
      m_gate(new serialio::ExchangeGate(this)) {
    setObjectName(QStringLiteral("Main"));
    setWindowTitle(QStringLiteral("Bootloader"));
    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(200);
    connect(&m_link, &BootLink::portLost, this, &Main::onPortLost);
    buildUi();
    load();
}

Main::~Main() = default;

void Main::buildUi() {
    auto *central = new QWidget(this);
    auto *grid = new QGridLayout(central);

    auto *info3 = new QLabel(QStringLiteral("Séléction d'une action "), central);
    info3->setObjectName(QStringLiteral("Info3"));
    m_info2 = new QLabel(QStringLiteral("Info / Display"), central);
    m_info2->setObjectName(QStringLiteral("Info2"));

    const auto button = [central](const char *name, const QString &text) {
        auto *b = new QPushButton(text, central);
        b->setObjectName(QLatin1String(name));
        b->setMinimumHeight(32);
        return b;
    };
    QPushButton *open = button("Cb_Open", QStringLiteral("Ouvrir HEX"));
    QPushButton *load = button("Cb_Load", QStringLiteral("Demarrer Chargement"));
    QPushButton *reconnect = button("Cb_Reconnect", QStringLiteral("Reconnection"));
    QPushButton *deconnect = button("CD_DECONNECT", QStringLiteral("Deconnection"));
    QPushButton *quitter = button("Cb_quitter", QStringLiteral("Quitter"));

    m_display = new QPlainTextEdit(central);
    m_display->setObjectName(QStringLiteral("TXT_Display"));
    m_display->setReadOnly(true);
    m_display->setMinimumSize(240, 90);
    setDisplay(QStringLiteral("Pas de connection\r\n ..Attente..\r\n"));

    m_list = new QComboBox(central);
    m_list->setObjectName(QStringLiteral("ListComSel"));
    m_list->setPlaceholderText(QStringLiteral("Com Port Sel"));

    m_frTemp = new QGroupBox(QStringLiteral("LOADING"), central);
    m_frTemp->setObjectName(QStringLiteral("FRtemp"));
    auto *frLayout = new QVBoxLayout(m_frTemp);
    auto *lbInfo = new QLabel(QStringLiteral("PROGRESS"), m_frTemp);
    lbInfo->setObjectName(QStringLiteral("Lbinfo"));
    m_prBar = new QProgressBar(m_frTemp);
    m_prBar->setObjectName(QStringLiteral("PrBar"));
    frLayout->addWidget(lbInfo);
    frLayout->addWidget(m_prBar);
    frLayout->addStretch();

    auto *actions = new QVBoxLayout;
    actions->addWidget(info3);
    for (QPushButton *b : {open, load, reconnect, deconnect})
        actions->addWidget(b);
    actions->addWidget(m_list);
    actions->addStretch();
    actions->addWidget(quitter);

    auto *right = new QVBoxLayout;
    right->addWidget(m_info2);
    right->addWidget(m_display, 1);
    right->addWidget(m_frTemp, 1);

    grid->addLayout(actions, 0, 0);
    grid->addLayout(right, 0, 1);
    grid->setColumnStretch(1, 1);
    setCentralWidget(central);

    QStatusBar *status = statusBar();
    status->setObjectName(QStringLiteral("Status"));
    status->setSizeGripEnabled(false);
    const int stretch[4] = {3, 2, 2, 3};
    for (int i = 0; i < 4; ++i) {
        m_panels[i] = new QLabel(status);
        m_panels[i]->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        m_panels[i]->setFrameShape(QFrame::Panel);
        m_panels[i]->setFrameShadow(QFrame::Sunken);
        m_panels[i]->setMinimumWidth(60);
        status->addPermanentWidget(m_panels[i], stretch[i]);
    }

    QMenu *file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("Mnufile"));
    const auto entry = [file](const char *name, const QString &text) {
        QAction *a = file->addAction(text);
        a->setObjectName(QLatin1String(name));
        return a;
    };
    QAction *mnuOpen = entry("MnuHex_open", QStringLiteral("Ouvrir fichier Hex"));
    // "Chargement", "Deconnection" and "Reconnection" in the menu have no action; the
    // buttons of the same captions act.
    entry("MnuChrg", QStringLiteral("Chargement"));
    entry("MnuDeconnect", QStringLiteral("Deconnection"));
    entry("MnuConnect", QStringLiteral("Reconnection"));
    QAction *mnuSelCom = entry("MnuSelCom", QStringLiteral("Selection du port com"));
    QAction *mnuQuitter = entry("Mnuquitter", QStringLiteral("Quitter"));

    connect(open, &QPushButton::clicked, this, &Main::openFile);
    connect(load, &QPushButton::clicked, this, &Main::startUpload);
    connect(reconnect, &QPushButton::clicked, this, &Main::reconnect);
    connect(deconnect, &QPushButton::clicked, this, &Main::disconnect_);
    connect(quitter, &QPushButton::clicked, this, &Main::quit);
    connect(mnuOpen, &QAction::triggered, this, &Main::openFile);
    connect(mnuSelCom, &QAction::triggered, this, [this] {
        refreshPortList();
        m_list->show();
    });
    connect(mnuQuitter, &QAction::triggered, this, &Main::quit);
    connect(m_list, &QComboBox::activated, this, &Main::chooseComPort);
}

void Main::refreshPortList() {
    for (int i = 0; i < m_list->count(); ++i) {
        const QString dev = m_ports.device(i + 1);
        m_list->setItemData(i, dev.isEmpty() ? QStringLiteral("aucun port série associé") : dev,
                            Qt::ToolTipRole);
    }
}

QString Main::panelText(int panel) const {
    return panel >= 1 && panel <= 4 ? m_panels[panel - 1]->text() : QString();
}

void Main::setPanel(int panel, const QString &text) {
    if (panel >= 1 && panel <= 4) m_panels[panel - 1]->setText(text);
}

QString Main::displayText() const {
    return m_display->toPlainText();
}

void Main::setDisplay(const QString &text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_display->setPlainText(shown);
}

void Main::load() {
    m_link.portFault = false;
    setPanel(1, QStringLiteral("No Hex Loaded"));
    // A missing or unreadable file starts with no file, no folder and port 1, silently.
    const auto settings = readSettingsFile(m_settingsPath);
    m_fileName = settings ? settings->file : QString();
    m_folder = settings ? settings->folder : QString();
    m_link.portNumber = settings ? settings->port : 1;
    m_link.closePort();
    if (QScreen *s = screen()) {
        const QRect r = s->availableGeometry();
        const QSize sz = sizeHint().expandedTo(QSize(560, 340));
        resize(sz);
        move(r.left() + (r.width() - sz.width()) / 2, r.top() + (r.height() - sz.height()) / 2);
    }
    m_frTemp->hide();
    m_link.portSetup();
    m_link.userDisconnected = false;
    m_link.reconnectOnActivate = 1;
    m_list->hide();
    m_list->clear();
    for (int i = 1; i <= 12; ++i)
        m_list->addItem(QStringLiteral("COM %1").arg(i));
    m_list->setCurrentIndex(-1);
    refreshPortList();
    m_skipActivation = false;
}

bool Main::event(QEvent *e) {
    // The window is the program's only one: it is activated once, when it first appears.
    // Later activations (a dialog closing, another program left) change nothing.
    if (e->type() == QEvent::WindowActivate && !m_activatedOnce && !m_activationQueued &&
        !m_quitting) {
        m_activationQueued = true;
        // Run after the activation event has been delivered: the handshake waits inside.
        QTimer::singleShot(0, this, [this] {
            m_activationQueued = false;
            if (isVisible() && !m_quitting && !m_activatedOnce) {
                m_activatedOnce = true;
                activate();
            }
        });
    }
    return QMainWindow::event(e);
}

void Main::activate() {
    if (busy() || m_quitting) return;
    if (!m_skipActivation) {
        m_link.closePort();
        if (m_link.reconnectOnActivate == 1) runHandshake();
        if (m_quitting) return;
        if (!m_link.isOpen() && !m_link.portFault) {
            m_link.portSetup();
            m_link.userDisconnected = false;
            QString reason;
            if (!m_link.openPort(&reason)) {
                errorBox(this, kPortError + QLatin1Char('\n') + serialio::withFoundDevices(reason));
                m_link.userDisconnected = true;
            }
        }
    }
    m_skipActivation = false;
}

bool Main::busy() const {
    return m_gate->busy();
}

void Main::runHandshake() {
    HandshakeResult r;
    {
        const serialio::ExchangeGate::Exchange probing(*m_gate);
        m_answered = false;
        m_portLost = false;
        setPanel(3, QStringLiteral("No connection"));
        setWindowTitle(m_fileName.isEmpty() || !m_image.loaded
                           ? QStringLiteral("BOOTLOADER")
                           : QStringLiteral("BOOTLOADER Using : ") + m_fileName);
        m_timer1->stop();
        const QString where = portText();
        r = m_link.handshake([this, where](int n) {
            setDisplay(QStringLiteral("Essais de Connection\r\n") + numberText(n) +
                       QStringLiteral("\r\n") + where);
        });
    }
    switch (r) {
    case HandshakeResult::Connected:
        m_answered = true;
        m_link.portFault = false; // the port works again
        setDisplay(QStringLiteral("Connecté"));
        setPanel(3, QStringLiteral("Connected"));
        break;
    case HandshakeResult::PortError:
        // A port that broke while probing has been reported already (onPortLost).
        if (!m_portLost)
            errorBox(this, kPortError + QLatin1Char('\n') +
                               serialio::withFoundDevices(m_link.failReason()));
        m_link.portFault = true;
        break;
    case HandshakeResult::Disconnected:
    case HandshakeResult::GaveUp:
    case HandshakeResult::Stopped:
        break;
    }
}

void Main::openFile() {
    if (m_uploading) return; // a file may be chosen while probing
    const QString path = openFileName(this, QStringLiteral("Fichier Source Hex"), m_folder,
                                      QStringLiteral("HEX|*.HEX|HEX8|*.HEX8|All|*.*"));
    // A cancelled dialog changes nothing.
    if (path.isEmpty() || m_quitting) return;
    firmware::LoadError error;
    if (!loadBootImage(path, m_image, &error)) {
        errorBox(this, QStringLiteral("Mauvais nom de fichier\n") + error.text());
        return;
    }
    const QFileInfo info(path);
    m_folder = QDir::toNativeSeparators(info.absolutePath());
    m_fullPath = path;
    m_fileName = info.fileName();
    setWindowTitle(QStringLiteral("BOOTLOADER Using : ") + m_fileName);
    setPanel(1, QStringLiteral("Loaded"));
    setPanel(2, numberText(m_image.endAddress));
}

void Main::startUpload() {
    if (m_uploading) return;
    if (!m_image.loaded) {
        errorBox(this, QStringLiteral("Aucun fichier HEX chargé : choisir un fichier avec "
                                      "\"Ouvrir HEX\" avant le chargement."));
        return;
    }
    if (!m_answered || !m_link.isOpen()) {
        errorBox(this, QStringLiteral("Le bootloader n'a pas répondu : pas de chargement.\n"
                                      "Utiliser \"Reconnection\" puis redémarrer le chargeur."));
        return;
    }
    if (!askYesNo(this, uploadQuestion())) return;
    if (!m_link.isOpen()) return; // disconnected while the question was open
    {
        const serialio::ExchangeGate::Exchange uploading(*m_gate);
        m_uploading = true;
        m_uploadPortLost.clear();
        m_uploadDisconnected = false;
        m_lastUpload = Upload::run(m_link, m_image.bytes, m_image.endAddress, *this);
        m_uploading = false;
    }
    // The end sequence sent the boot loader away: a new upload needs a new handshake.
    m_answered = false;
    if (m_lastUpload.outcome == UploadResult::Success)
        setDisplay(QStringLiteral("Chargement terminé\r\n"));
    else
        setDisplay(QStringLiteral("Chargement interrompu\r\n"));
    // The program is ending: the user asked for it, nothing more to say.
    if (m_lastUpload.outcome != UploadResult::Success &&
        m_lastUpload.outcome != UploadResult::Stopped && !m_quitting)
        errorBox(this, failureText(m_lastUpload));
}

QString Main::portText() const {
    const QString dev = m_link.device();
    return QStringLiteral("COM %1").arg(m_link.portNumber) +
           (dev.isEmpty() ? QStringLiteral(" : aucun port série associé")
                          : QStringLiteral(" (") + dev + QLatin1Char(')'));
}

QString Main::uploadQuestion() const {
    const int sent =
        std::min((m_image.endAddress + Upload::kBlock - 1) / Upload::kBlock * Upload::kBlock,
                 Upload::kLimit);
    QString q = QStringLiteral("Charger le fichier ") + m_fileName +
                QStringLiteral(" dans le chargeur sur ") + portText() +
                QStringLiteral(" ?\nLe programme du chargeur sera remplacé de 0x0000 à ") +
                hex4(sent - 1) + QLatin1Char('.');
    if (m_image.endAddress > Upload::kLimit)
        q += QStringLiteral("\nLes données du fichier à partir de ") + hex4(Upload::kLimit) +
             QStringLiteral(" (zone du bootloader) ne sont pas envoyées.");
    return q;
}

QString Main::failureText(const UploadResult &r) const {
    QString what;
    switch (r.outcome) {
    case UploadResult::Abandoned:
        what = QStringLiteral("Erreur de chargement à l'adresse %1 : le bloc a été refusé %2 "
                              "fois de suite (dernière réponse : %3).")
                   .arg(hex4(r.address))
                   .arg(Upload::kMaxFailures)
                   .arg(answerText(r.lastAnswer));
        break;
    case UploadResult::Timeout:
        what = QStringLiteral("Time out sur interface Serie\nLe bootloader n'a pas répondu au "
                              "bloc de l'adresse %1 en %2 s.")
                   .arg(hex4(r.address))
                   .arg(m_link.answerTimeoutMs / 1000.0);
        break;
    case UploadResult::PortFailed:
        what = m_uploadDisconnected
                   ? QStringLiteral("Chargement arrêté par \"Deconnection\" à l'adresse %1.")
                         .arg(hex4(r.address))
                   : kPortError + QLatin1Char('\n') + m_uploadPortLost +
                         QStringLiteral("\nChargement arrêté à l'adresse %1.").arg(hex4(r.address));
        break;
    case UploadResult::Success:
    case UploadResult::Stopped:
        break;
    }
    const QString memory =
        r.address > 0
            ? QStringLiteral("Blocs écrits de 0x0000 à %1 seulement : la mémoire programme du "
                             "chargeur est partiellement écrite. Relancer le chargement.")
                  .arg(hex4(r.address - 1))
            : QStringLiteral("Aucun bloc n'a été écrit. Relancer le chargement.");
    return what + QLatin1Char('\n') + memory;
}

void Main::started(int progressMaximum) {
    m_frTemp->show();
    m_info2->hide();
    m_display->hide();
    m_prBar->setRange(0, std::max(progressMaximum, 1));
    m_prBar->setValue(0);
    m_prBar->show();
}

void Main::progress(int address) {
    m_prBar->setValue(std::min(address, m_prBar->maximum()));
}

void Main::finished() {
    m_frTemp->hide();
    m_prBar->hide();
    m_info2->show();
    m_display->show();
}

void Main::reconnect() {
    if (busy()) return; // already probing or uploading
    m_link.closePort();
    runHandshake();
    m_link.userDisconnected = false;
    m_link.reconnectOnActivate = 0;
}

void Main::disconnect_() {
    if (m_link.portFault) {
        m_link.portFault = false;
        return;
    }
    m_timer1->stop();
    if (m_uploading) m_uploadDisconnected = true;
    m_link.disconnectPort();
    setDisplay(QStringLiteral("Déconnecté"));
    setPanel(3, QStringLiteral("De-Connected"));
    m_link.connectionState = 0;
    m_link.reconnectOnActivate = 1;
    m_link.userDisconnected = true;
    m_link.portFault = false;
    m_answered = false;
}

void Main::chooseComPort(int index) {
    m_list->hide();
    if (index >= 0 && index <= 11) m_link.portNumber = index + 1;
    disconnect_();
    m_link.portSetup();
}

void Main::onPortLost(const QString &reason) {
    m_portLost = true;
    m_answered = false;
    setDisplay(QStringLiteral("Déconnecté"));
    setPanel(3, QStringLiteral("De-Connected"));
    m_link.reconnectOnActivate = 1;
    // During an upload the box at its end says it, with the address reached.
    if (m_uploading)
        m_uploadPortLost = reason;
    else
        errorBox(this, kPortError + QLatin1Char('\n') + serialio::withFoundDevices(reason));
}

void Main::quit() {
    if (m_quitting) return;
    m_quitting = true;
    m_link.stop();
    // A handshake or an upload is waiting below us: it ends at once (an upload still
    // sends its end sequence) and then the program ends, once its handler has returned.
    const bool idle = !busy();
    m_gate->close([this, idle] {
        if (idle)
            finishQuit();
        else
            QTimer::singleShot(0, this, &Main::finishQuit);
    });
}

void Main::finishQuit() {
    if (m_quitDone) return;
    m_quitDone = true;
    m_timer1->stop();
    if (!m_fileName.isEmpty()) {
        QString error;
        if (!writeSettingsFile(m_settingsPath, {m_fileName, m_folder, m_link.portNumber}, &error))
            errorBox(this, QStringLiteral("Enregistrement de ") + m_settingsPath +
                               QStringLiteral(" impossible\n") + error);
    }
    m_link.closePort();
    hide();
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

void Main::closeEvent(QCloseEvent *e) {
    // Closing by the frame ends the program as "Quitter" does.
    quit();
    e->accept();
}

} // namespace loader
