#include "micro.h"

#include "flashtransfer.h"
#include "heximage.h"
#include "link/messages.h"
#include "link/numtext.h"
#include "link/session.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

using namespace firmware;

namespace {
// 8000 x 7000 twips at 15 twips a pixel.
constexpr int kWidth = 8000 / 15;
constexpr int kHeight = 7000 / 15;

QString settingsFolder() {
    QSettings s(QStringLiteral("pelmora"), QStringLiteral("pelmora"));
    const QString dir = s.value(QLatin1String(Micro::kFolderKey)).toString();
    return !dir.isEmpty() && QDir(dir).exists() ? dir : QDir::homePath();
}

void rememberFolder(const QString &file) {
    QSettings s(QStringLiteral("pelmora"), QStringLiteral("pelmora"));
    s.setValue(QLatin1String(Micro::kFolderKey), QFileInfo(file).absolutePath());
}
} // namespace

Micro::Micro(const winkit::Host &host)
    : ChargerWindow(host), m_slave(kSlaveWords + 1, 0), m_readBack(kSlaveWords + 1, 0),
      m_changed(kSlaveWords + 1, false) {
    setObjectName(QStringLiteral("Micro"));
    setWindowTitle(QStringLiteral("Accès Microrpocesseur / debugging"));
    // A transfer must end before the main window comes back and reopens the port.
    setOpenerBackWhenIdle(true);
    // Closed during a transfer, it says that it is stopping and then where it stopped.
    setShownUntilIdle(true);
    buildUi();
    resize(kWidth, kHeight);
    // During a transfer nothing that would end it or start another exchange is clickable.
    connect(&gate(), &serialio::ExchangeGate::busyChanged, this, [this](bool busy) {
        for (QPushButton *b : std::as_const(m_actions))
            b->setEnabled(!busy);
        m_quit->setEnabled(!busy);
    });
}

Micro::~Micro() = default;

void Micro::buildUi() {
    auto *top = new QVBoxLayout(this);

    auto *frame2 = make<QGroupBox>("Frame2", QStringLiteral("Mise A Jour"));
    auto *grid = new QGridLayout(frame2);
    const auto button = [](QWidget *in, const char *name, const QString &text) {
        auto *b = winkit::makeNamed<QPushButton>(in, name, text);
        b->setMinimumHeight(36);
        return b;
    };
    QPushButton *mic1 = button(frame2, "CBMIC1", QStringLiteral("PGM Flash &Master"));
    QPushButton *pgmSl = button(frame2, "CbPgmSlave", QStringLiteral("PGM Flash &Slave"));
    QPushButton *epr = button(frame2, "CBepr", QStringLiteral("&EEprom Master"));
    QPushButton *eprSl = button(frame2, "CbEEprSalave", QStringLiteral("EEprom S&lave"));
    QPushButton *ext = button(frame2, "CbextEEPROM", QStringLiteral("E&xternal EEprom"));
    QPushButton *etat = button(frame2, "CBEtat", QStringLiteral("&Tableau de bord"));
    grid->addWidget(mic1, 0, 0);
    grid->addWidget(pgmSl, 0, 1);
    grid->addWidget(epr, 1, 0);
    grid->addWidget(eprSl, 1, 1);
    grid->addWidget(ext, 2, 0);
    grid->addWidget(etat, 2, 1);
    m_actions = {mic1, pgmSl, epr, eprSl, ext, etat};

    auto *frame1 = make<QGroupBox>("Frame1", QStringLiteral("ETAT"));
    auto *state = new QVBoxLayout(frame1);
    const auto label = [frame1](const char *name) {
        auto *l = winkit::makeNamed<QLabel>(frame1, name);
        l->setFrameShape(QFrame::Panel);
        l->setFrameShadow(QFrame::Sunken);
        l->setMinimumHeight(28);
        l->setWordWrap(true);
        return l;
    };
    m_typest = label("LBtypest");
    m_infos = label("LBinfos");
    state->addWidget(m_typest);
    state->addWidget(m_infos);

    m_bar = make<QProgressBar>("ProgBar1");
    m_bar->hide(); // shown during a transfer

    auto *quit = m_quit = make<QPushButton>("MQuitter", QStringLiteral("&Retour"));
    quit->setMinimumHeight(32);
    auto *bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(quit);

    top->addWidget(frame2);
    top->addWidget(frame1);
    top->addWidget(m_bar);
    top->addStretch();
    top->addLayout(bottom);

    connect(mic1, &QPushButton::clicked, this, &Micro::pgmMaster);
    connect(pgmSl, &QPushButton::clicked, this, &Micro::pgmSlave);
    connect(epr, &QPushButton::clicked, this, &Micro::eepromMaster);
    connect(eprSl, &QPushButton::clicked, this, &Micro::eepromSlave);
    connect(ext, &QPushButton::clicked, this, &Micro::externalEeprom);
    connect(etat, &QPushButton::clicked, this, &Micro::statePanel);
    connect(quit, &QPushButton::clicked, this, &Micro::leave);
}

QString Micro::chooseFile() {
    const QString file =
        chlink::openFileName(this, QStringLiteral("Fichier Source Hex"), settingsFolder(),
                             QStringLiteral("Hex8 (*.HEX *.hex);;All (*)"));
    if (!file.isEmpty()) rememberFolder(file);
    return file;
}

FlashProgress Micro::progress() {
    FlashProgress p;
    p.bar = [this](int v) { m_bar->setValue(v); };
    p.info = [this](const QString &s) { m_infos->setText(s); };
    p.stopRequested = [this] { return gate().interrupted(); };
    return p;
}

void Micro::reportStop(const FlashResult &r) {
    m_bar->hide();
    m_infos->setText(r.error);
    if (session().isShuttingDown()) return; // the program is ending: nobody reads a box
    chlink::errorBox(this, stopReport(r));
}

void Micro::pgmMaster() {
    if (isBusy()) return;
    if (!session().connected()) {
        chlink::noConnectionBox(this);
        return;
    }
    m_master = blankMasterImage();
    session().setTargetSelector(1);

    const QString file = chooseFile();
    if (file.isEmpty()) return; // cancelled: nothing sent, nothing to report
    m_typest->setText(QStringLiteral("Chargement fichier"));
    QByteArray text;
    LoadError err;
    ByteImageLoad loaded;
    if (readHexFile(file, &text, &err)) loaded = loadMasterImage(text, m_master);
    if (!loaded.ok) {
        const LoadError &why = loaded.error.message.isEmpty() ? err : loaded.error;
        chlink::errorBox(this, QStringLiteral("Mauvais nom de fichier\n") + why.text());
        return;
    }
    m_master = loaded.image;
    // A file whose data all lie below the written range would only erase it with 0xFF.
    if (masterDataExtent(text, kMasterWriteFirst, kMasterImageSize).count == 0) {
        const DataExtent all = masterDataExtent(text);
        chlink::errorBox(this,
                         QStringLiteral("Mauvais nom de fichier\n"
                                        "aucune donnée entre %1 et %2, la zone écrite dans "
                                        "la Flash Master : les données du fichier vont de "
                                        "%3 à %4")
                             .arg(hexAddress(kMasterWriteFirst), hexAddress(kMasterImageSize - 1),
                                  hexAddress(all.first), hexAddress(all.last)));
        return;
    }

    if (!chlink::askYesNo(this, QStringLiteral("Confirmer chargement Flash Master."))) return;

    const serialio::ExchangeGate::Exchange transfer(gate());
    m_bar->setRange(kMasterWriteFirst, kMasterImageSize + 1);
    m_bar->setValue(kMasterWriteFirst);
    m_bar->show();
    m_writing = true;
    const FlashResult r = writeMasterFlash(session(), m_master, progress());
    m_writing = false;
    if (r.ok) {
        m_bar->hide();
        m_infos->setText(QStringLiteral("Flash Master écrite :") + chlink::numText(r.exchanges) +
                         QStringLiteral(" blocs"));
    } else {
        reportStop(r);
    }
}

void Micro::pgmSlave() {
    if (isBusy()) return;
    if (!session().connected()) {
        chlink::noConnectionBox(this);
        return;
    }
    session().setTargetSelector(2);
    m_slave = blankSlaveImage();
    m_readBack = QVector<quint16>(kSlaveWords, kSlaveErased);
    m_changed = QVector<bool>(kSlaveWords, false);
    m_lastAddress = 0;

    const QString file = chooseFile();
    if (file.isEmpty()) return;
    m_typest->setText(QStringLiteral("Chargegment fichier"));
    QByteArray text;
    LoadError err;
    SlaveImageLoad loaded;
    if (readHexFile(file, &text, &err)) loaded = loadSlaveImage(text, m_slave);
    if (!loaded.ok) {
        const LoadError &why = loaded.error.message.isEmpty() ? err : loaded.error;
        chlink::errorBox(this, QStringLiteral("Mauvais nom de fichier\n") + why.text());
        return;
    }
    m_slave = loaded.words;
    m_lastAddress = loaded.lastAddress;
    m_infos->setText(QStringLiteral("Dernière adresse : ") + chlink::numText(m_lastAddress));

    // The read-back and the comparison cover the words of the file and the one after it,
    // but never beyond the slave's last word.
    const int lastWord = qMin(m_lastAddress, kSlaveWords - 1);
    const serialio::ExchangeGate::Exchange transfer(gate());
    m_typest->setText(QStringLiteral("Lecture Flash"));
    m_bar->setRange(0, lastWord);
    m_bar->setValue(0);
    m_bar->show();
    QVector<quint16> readBack;
    const FlashResult read =
        readFlash(session(), session().targetSelector(), lastWord, &readBack, progress());
    if (!read.ok) {
        reportStop(read);
        return;
    }
    m_bar->hide();
    if (isClosing()) return; // closed during the last word's read: nothing asked or written
    std::copy(readBack.begin(), readBack.end(), m_readBack.begin());

    m_typest->setText(QStringLiteral("Comparaison"));
    const SlaveDiff diff = compareSlave(m_slave, m_readBack, lastWord);
    m_changed = diff.changed;
    m_infos->setText(QStringLiteral("Differences = ") + chlink::numText(diff.count));

    bool answer = true;
    if (diff.protectedCount != 0)
        answer =
            chlink::askYesNoRisky(this,
                                  chlink::numText(diff.protectedCount) +
                                      QStringLiteral(" Changements en Zone Protégée, CONTINUER ??"),
                                  QStringLiteral("ATTENTION !"));
    if (isClosing()) return;
    if (answer && diff.count != 0) {
        if (chlink::askYesNo(this, QStringLiteral("Confirmer chargement de") +
                                       chlink::numText(diff.count) + QStringLiteral(" octets"))) {
            m_typest->setText(QStringLiteral("Chargement de : ") + chlink::numText(diff.count));
            m_writing = true;
            const FlashResult w = writeSlaveFlash(session(), m_slave, m_changed, progress());
            m_writing = false;
            if (!w.ok) {
                reportStop(w);
                return;
            }
            m_typest->setText(QStringLiteral("Vérification"));
            const VerifyResult v = verifySlaveFlash(session(), m_slave, m_changed, progress());
            if (!v.read.ok) {
                reportStop(v.read);
            } else if (v.mismatches != 0) {
                const QString text =
                    QStringLiteral("Vérification :") + chlink::numText(v.mismatches) +
                    QStringLiteral(" mots différents après écriture, le premier à l'adresse ") +
                    hexAddress(v.firstMismatch);
                m_infos->setText(text);
                if (!session().isShuttingDown()) chlink::errorBox(this, text);
            } else {
                m_infos->setText(QStringLiteral("Transfert terminé et vérifié :") +
                                 chlink::numText(diff.count) + QStringLiteral(" mots"));
            }
        }
    } else {
        m_infos->setText(QStringLiteral("Pas de changement détecté"));
    }
}

void Micro::eepromMaster() {
    if (isBusy()) return;
    session().setTargetSelector(1);
    openWindow(QStringLiteral("EEprom"));
}

void Micro::eepromSlave() {
    if (isBusy()) return;
    session().setTargetSelector(2);
    openWindow(QStringLiteral("EEprom"));
}

void Micro::externalEeprom() {
    if (isBusy()) return;
    openWindow(QStringLiteral("Exteepr"));
}

void Micro::statePanel() {
    if (isBusy()) return;
    openWindow(QStringLiteral("FEtat")); // registered as needing a connection
}

bool Micro::mayClose() {
    // Idle, or the program is ending ("Quitter" of the main window): nothing to ask.
    if (!isBusy() || session().isShuttingDown()) return true;
    QString question =
        QStringLiteral("Un transfert Flash est en cours. L'arrêter et fermer la fenêtre ?");
    if (m_writing)
        question += QStringLiteral("\nLa mémoire du microcontrôleur resterait en partie écrite.");
    if (!chlink::askYesNoRisky(this, question)) return false;
    // The window stays until the exchange under way has ended (the transfer stops there).
    if (isBusy()) m_typest->setText(QStringLiteral("Arrêt après l'échange en cours"));
    return true;
}
