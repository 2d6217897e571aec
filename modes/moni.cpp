#include "moni.h"

#include "desktop/version.h"
#include "link/messages.h"
#include "link/session.h"
#include "runchart.h"
#include "runframes.h"
#include "runlog.h"
#include "serial/devices.h"

#include <QCheckBox>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

namespace modes {

using namespace chlink;

namespace {
// After command 3, before the port changes speed.
constexpr int kSettleMs = 100;
const QColor kColours[4] = {QColor(0x1f, 0x5f, 0xbf), QColor(0xc0, 0x30, 0x30),
                            QColor(0x20, 0x90, 0x40), QColor(0x80, 0x40, 0xa0)};

QString captionStyle(const QColor &c) {
    return QStringLiteral("QLabel { color: %1; font-weight: bold; }").arg(c.name());
}

// The monitor's log folder: "C:\temp" on Windows, elsewhere "temp" in the program's data
// folder; made when missing, and made the program's current directory (later logs of
// other windows follow it). False, with the reason, when it cannot be made.
bool enterLogFolder(QString *folder, QString *why) {
#ifdef Q_OS_WIN
    *folder = QStringLiteral("C:/temp");
#else
    const QString base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    *folder = (base.isEmpty() ? QDir::homePath() : base) + QStringLiteral("/temp");
#endif
    if (!QDir().mkpath(*folder) || !QDir::setCurrent(*folder)) {
        *why = QStringLiteral("Dossier impossible à créer ou à ouvrir");
        return false;
    }
    keepCurrentFolder();
    *folder = QDir::currentPath();
    return true;
}
} // namespace

Moni::Moni(const winkit::Host &host, QWidget *parent) : ChargerWindow(host, parent) {
    setObjectName(QStringLiteral("Moni"));
    setWindowTitle(QStringLiteral("Moniteur"));
    // The port is given back at 9600 baud before the main window comes back.
    setOpenerBackWhenIdle(true);

    m_chart = make<RunChart>("MSChart1", QString(), QStringLiteral("V Batterie (points)"),
                             QStringLiteral("Courant, température (points)"));
    m_curves[CurveVbat] =
        m_chart->addCurve(QStringLiteral("V Batterie"), RunChart::Left, kColours[0]);
    m_curves[CurveCour] =
        m_chart->addCurve(QStringLiteral("Courant"), RunChart::Right, kColours[1]);
    m_curves[CurveTemper] =
        m_chart->addCurve(QStringLiteral("Temperature Systeme"), RunChart::Right, kColours[2]);
    m_curves[CurveCapacite] =
        m_chart->addCurve(QStringLiteral("Capacité / 10"), RunChart::Right, kColours[3]);

    m_label1 = make<QLabel>("MonLabel1", QStringLiteral("V Batterie"));
    m_label2 = make<QLabel>("MonLabel2", QStringLiteral("Courant"));
    m_label3 = make<QLabel>("MonLabel3", QStringLiteral("Temperature Systeme"));
    m_label1->setStyleSheet(captionStyle(kColours[0]));
    m_label2->setStyleSheet(captionStyle(kColours[1]));
    m_label3->setStyleSheet(captionStyle(kColours[2]));

    m_depart = make<QPushButton>("CbDepart", QStringLiteral("&Depart"));
    m_arret = make<QPushButton>("CbArret", QStringLiteral("&Arret"));
    m_print = make<QPushButton>("CbPrint", QStringLiteral("&Impression"));
    m_quit = make<QPushButton>("CbQuit", QStringLiteral("&QUITTER"));
    m_chkFich = make<QCheckBox>("Chk_Fich", QStringLiteral("&Fichier"));
    m_chkFich->setChecked(true);
    m_arret->setEnabled(false);
    m_state = make<QLabel>("LbEtat", QStringLiteral("Prêt"));
    m_logLabel = make<QLabel>("LbFichier", QStringLiteral("Journal : aucun"));
    m_logLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // The screen less a twentieth of its width and a tenth of its height; the chart about
    // nine tenths of the width and four fifths of the height, the controls under it.
    if (const QScreen *s = screen()) {
        const QSize screenSize = s->availableGeometry().size();
        resize(screenSize.width() - screenSize.width() / 20,
               screenSize.height() - screenSize.height() / 10);
    }
    auto *layout = new QVBoxLayout(this);
    const int side = qMax(8, width() / 20);
    layout->setContentsMargins(side, 8, side, 12);
    layout->addWidget(m_chart, 1);
    auto *captions = new QHBoxLayout;
    captions->addStretch();
    for (QLabel *l : {m_label1, m_label2, m_label3}) {
        captions->addWidget(l);
        captions->addSpacing(40);
    }
    captions->addStretch();
    layout->addLayout(captions);
    auto *controls = new QHBoxLayout;
    for (QPushButton *b : {m_depart, m_arret, m_print, m_quit}) {
        b->setMinimumWidth(110);
        controls->addWidget(b);
    }
    controls->addSpacing(20);
    controls->addWidget(m_chkFich);
    controls->addSpacing(20);
    controls->addWidget(m_state, 1);
    layout->addLayout(controls);
    auto *foot = new QHBoxLayout;
    foot->addWidget(m_logLabel, 1);
    QLabel *note = sleepNote(this, m_awake);
    note->setWordWrap(false);
    foot->addWidget(note);
    layout->addLayout(foot);

    m_chart->setAccessibleName(QStringLiteral("Graphique du moniteur"));
    // The chart comes first in the window but last under Tab: the buttons are what one uses.
    setTabChain({m_depart, m_arret, m_print, m_quit, m_chkFich, m_chart});

    connect(m_depart, &QPushButton::clicked, this, &Moni::depart);
    connect(m_arret, &QPushButton::clicked, this, &Moni::arret);
    connect(m_print, &QPushButton::clicked, this, &Moni::print);
    connect(m_quit, &QPushButton::clicked, this, &Moni::quitter);
    connect(m_chkFich, &QCheckBox::toggled, this, [this](bool on) { m_fileFlag = on; });
}

Moni::~Moni() {
    closeLog();
}

void Moni::showEvent(QShowEvent *e) {
    ChargerWindow::showEvent(e);
    // Once the window has loaded (the main window hidden), not inside the show.
    if (!m_activated)
        QTimer::singleShot(0, this, [this] {
            if (!m_activated) activate();
        });
}

bool Moni::activate() {
    if (m_running || isClosing()) return false;
    m_activated = true;
    QString why;
    if (!session().isOpen() && !session().openPort(&why)) {
        portErrorBox(this, serialio::withFoundDevices(why));
        return false;
    }
    // The charger goes on to its own run and streams its records at 19200 baud. Its two
    // bytes leave at 9600 before the port changes speed.
    serialio::ExchangeGate::Exchange x(gate());
    session().command(CMD_DISCONNECT);
    session().flush();
    session().waitUntil([this] { return gate().interrupted(); }, kSettleMs);
    if (isClosing()) return false; // left meanwhile: the port is set up again at 9600
    if (!session().reopenAt(moni::kStreamBaud, &why)) {
        setState(QStringLiteral("Port fermé"));
        portErrorBox(this, why);
        return false;
    }
    m_chart->clear();
    m_chkFich->setChecked(true); // the file flag, as the box shows it
    m_fileFlag = true;
    setState(QStringLiteral("Prêt"));
    return true;
}

bool Moni::streamOpen() const {
    return session().isOpen() && session().baudRate() == moni::kStreamBaud;
}

void Moni::depart() {
    if (m_running || isClosing()) return;
    if (!m_activated && !activate()) return; // clicked before the window had switched over
    gate().request(KeyListen, [this] { listen(); });
}

void Moni::listen() {
    if (!session().isOpen()) {
        portErrorBox(this, QStringLiteral("Le port série est fermé."));
        return;
    }
    m_sync = {};
    m_tally.reset();
    m_chart->clear();
    m_label2->setText(QStringLiteral("Courant"));
    m_label3->setText(QStringLiteral("Temperature Systeme"));
    m_label3->setStyleSheet(captionStyle(kColours[2]));
    m_logPath.clear();
    m_logLabel->setText(QStringLiteral("Journal : aucun"));
    if (m_fileFlag && !openLog()) return;
    m_running = true;
    m_depart->setEnabled(false);
    m_arret->setEnabled(true);
    m_awake.acquire(QStringLiteral("Moniteur : écoute du chargeur"));
    setState(QStringLiteral("Ecoute"));

    bool lost = false;
    const auto stopped = [this] { return !m_running || gate().interrupted(); };
    while (!stopped()) {
        // As long as the charger takes, asleep; Arret, QUITTER or a lost port wake it.
        const bool ready =
            session().waitUntil([&] { return stopped() || session().pending() > 0; }, -1);
        if (stopped()) break;
        if (!ready || !session().isOpen()) {
            lost = !session().isShuttingDown();
            break;
        }
        takeReceived(stopped);
    }
    if (!isClosing()) takeReceived([] { return false; }); // Arret: the whole records received
    endListening(lost ? QStringLiteral("Liaison perdue : écoute arrêtée")
                      : QStringLiteral("Arret"));
}

void Moni::takeReceived(const std::function<bool()> &stop) {
    for (int b; !stop() && (b = session().readPending()) >= 0;)
        if (const auto r = m_sync.feed(quint8(b))) take(*r);
}

void Moni::take(const moni::Record &r) {
    if (m_fileFlag && m_log.isOpen()) {
        const QByteArray line = moni::logLine(r).toUtf8() + "\r\n";
        if (m_log.write(line) != line.size() || !m_log.flush()) {
            // Disk full or removed: said once, the listening goes on without the log.
            m_log.close();
            errorBox(this, QStringLiteral("Erreur d'écriture du fichier journal\n") +
                               QDir::toNativeSeparators(m_logPath));
        }
    }
    if (const auto p = m_tally.add(r)) {
        m_chart->append(m_curves[CurveVbat], p->seconds, p->vbat);
        m_chart->append(m_curves[CurveCour], p->seconds, p->cour);
        m_chart->append(m_curves[p->thirdIsCapacity ? CurveCapacite : CurveTemper], p->seconds,
                        p->third);
    }
    if (m_tally.captionChangedNow()) {
        m_label2->setText(QStringLiteral("Courant"));
        m_label3->setText(QStringLiteral("Capacité"));
        m_label3->setStyleSheet(captionStyle(kColours[3]));
    }
    if (m_running) setState(QStringLiteral("Ecoute : %1 enregistrements").arg(m_tally.total()));
}

bool Moni::openLog() {
    QString why, folder;
    const bool entered = enterLogFolder(&folder, &why);
    const QString wanted =
        folder + QLatin1Char('/') + moni::logFileName(QDateTime::currentDateTime());
    if (entered && createNewFile(m_log, wanted, &why)) {
        const QByteArray header = moni::logHeader().toUtf8() + "\r\n";
        if (m_log.write(header) == header.size() && m_log.flush()) {
            m_logPath = m_log.fileName();
            m_logLabel->setText(QStringLiteral("Journal : ") + QDir::toNativeSeparators(m_logPath));
            m_info = RunInfo{};
            m_info.start = QDateTime::currentDateTime();
            m_info.version = desktop::version();
            m_info.window = objectName();
            m_info.port = session().deviceName();
            // The sidecar only adds to the log: when it cannot be written the listening and
            // its log go on, and the log label says so.
            QString infoWhy;
            m_infoOpen = writeRunInfo(m_logPath, m_info, &infoWhy);
            if (!m_infoOpen)
                m_logLabel->setText(m_logLabel->text() +
                                    QStringLiteral(" (fiche de mesure non écrite : ") + infoWhy +
                                    QLatin1Char(')'));
            return true;
        }
        why = m_log.errorString();
        m_log.close();
    }
    m_logLabel->setText(QStringLiteral("Journal : aucun"));
    errorBox(this, QStringLiteral("Impossible de créer le fichier journal\n") +
                       QDir::toNativeSeparators(entered ? m_log.fileName() : wanted) +
                       QLatin1Char('\n') + why);
    return false;
}

void Moni::closeLog() {
    if (m_log.isOpen()) m_log.close();
}

void Moni::endRunInfo(const QString &reason) {
    if (!m_infoOpen) return;
    m_infoOpen = false;
    m_info.endReason = reason;
    writeRunInfo(m_logPath, m_info); // written at the start already: a failure now only loses
                                     // the reason
}

void Moni::endListening(const QString &state) {
    m_running = false;
    closeLog();
    endRunInfo(state);
    m_awake.release();
    if (isClosing()) return;
    m_depart->setEnabled(true);
    m_arret->setEnabled(false);
    setState(state);
}

void Moni::arret() {
    if (!m_running) return;
    m_running = false;
    gate().requestStop(); // wakes the wait
}

void Moni::quitter() {
    m_running = false;
    closeLog();
    endRunInfo(QStringLiteral("Fenêtre fermée"));
    close();
}

void Moni::aboutToLeave() {
    // The whole records already received go to the log before it closes.
    if (m_running) takeReceived([] { return false; });
    m_running = false;
    closeLog();
    endRunInfo(QStringLiteral("Fenêtre fermée"));
    m_awake.release();
}

void Moni::leaveWhenIdle() {
    // Back to the command dialogue on the port the user chose. A port already lost has
    // been reported by the main window.
    const bool connected = session().connected();
    QString why;
    if (!session().restorePort(&why) && connected && !session().isShuttingDown())
        portErrorBox(host().opener, why);
}

QPrinter &Moni::printer() {
    if (!m_printer) {
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        m_printer->setPageOrientation(QPageLayout::Landscape);
        m_printer->setDocName(windowTitle());
    }
    return *m_printer;
}

void Moni::print() {
    // The window stays until the dialog is gone, whatever closes it meanwhile.
    serialio::ExchangeGate::Exchange x(gate());
    QPrintDialog dialog(&printer(), this);
    dialog.setObjectName(QStringLiteral("CDialMon"));
    if (dialog.exec() != QDialog::Accepted || isClosing()) return;
    if (!printTo(printer())) errorBox(this, QStringLiteral("Impression impossible."));
}

bool Moni::printTo(QPrinter &p) {
    const QPixmap image = grab();
    QPainter painter;
    if (image.isNull() || !painter.begin(&p)) return false;
    const QRect page = painter.viewport();
    QSize size = image.size();
    size.scale(page.size(), Qt::KeepAspectRatio);
    painter.setViewport(page.x(), page.y(), size.width(), size.height());
    painter.setWindow(image.rect());
    painter.drawPixmap(0, 0, image);
    return painter.end();
}

void Moni::setState(const QString &text) {
    m_state->setText(text);
}

} // namespace modes
