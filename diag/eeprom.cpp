#include "eeprom.h"

#include "eepromlogic.h"
#include "eeprompoll.h"
#include "esvfile.h"
#include "link/messages.h"
#include "link/session.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QStyle>
#include <QVBoxLayout>

namespace diag {

using namespace chlink;
using serialio::ExchangeGate;

namespace {
// 7200 twips at 15 twips a pixel.
constexpr int kWidth = 7200 / 15;

QString defaultFolder() {
#ifdef Q_OS_WIN
    return QStringLiteral("C:/");
#else
    return QDir::homePath();
#endif
}
} // namespace

EEprom::EEprom(const winkit::Host &host) : ChargerWindow(host), m_selected(kNoAddress) {
    setObjectName(QStringLiteral("EEprom"));
    setWindowTitle(QStringLiteral(" Mise a jour EEprom"));
    m_target = session().targetSelector() == 1 ? 1 : 2;
    m_controller = charger::controllerOf(m_target);
    buildUi();
    resize(qMax(kWidth, sizeHint().width()), sizeHint().height());
    drawGeneral();
    drawRow();
    showIdentification();
    if (!session().connected()) {
        QPalette p = m_update->palette();
        p.setColor(QPalette::Button, QColor(0x80, 0x80, 0x80));
        m_update->setPalette(p);
    }
}

EEprom::~EEprom() = default;

QByteArray &EEprom::image() {
    return session().table(m_target);
}

void EEprom::buildUi() {
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    auto *top = new QVBoxLayout(this);

    auto *which = make<QLabel>("LbControleur", m_target == 1 ? QStringLiteral("EEPROM du Master")
                                                             : QStringLiteral("EEPROM du Slave"));
    QFont bold = font();
    bold.setBold(true);
    which->setFont(bold);
    top->addWidget(which);

    auto *entries = new QHBoxLayout;
    m_address = make<QLineEdit>("Text2", QStringLiteral("00"));
    m_data = make<QLineEdit>("Text3", QStringLiteral("00"));
    for (QLineEdit *e : {m_address, m_data})
        e->setMaximumWidth(60);
    m_data->setEnabled(false); // no address selected yet
    QLabel *addressCaption = make<QLabel>("Label4", QStringLiteral("&Adresse : "));
    addressCaption->setBuddy(m_address);
    entries->addWidget(addressCaption);
    entries->addWidget(m_address);
    entries->addSpacing(16);
    QLabel *dataCaption = make<QLabel>("Label5", QStringLiteral("&Donnée :"));
    dataCaption->setBuddy(m_data);
    entries->addWidget(dataCaption);
    entries->addWidget(m_data);
    entries->addSpacing(16);
    m_name = make<QLabel>("Label8");
    m_name->setFrameShape(QFrame::Panel);
    m_name->setFrameShadow(QFrame::Sunken);
    m_name->setMinimumWidth(220);
    entries->addWidget(m_name, 1);
    top->addLayout(entries);

    auto *frame = make<QGroupBox>("Frame1", QStringLiteral("Paramètres généraux"));
    auto *fl = new QVBoxLayout(frame);
    auto *header = winkit::makeNamed<QLabel>(frame, "Label1", generalHeader());
    m_general = winkit::makeNamed<QLabel>(frame, "Label3");
    for (QLabel *l : {header, m_general})
        l->setFont(fixed);
    fl->addWidget(header);
    fl->addWidget(m_general);
    top->addWidget(frame);

    auto *rows = new QGridLayout;
    auto *rowHead = make<QLabel>("LBadr2", rowHeader());
    rowHead->setFont(fixed);
    // Over the text of the row view, which starts after the line edit's frame and margin.
    rowHead->setIndent(style()->pixelMetric(QStyle::PM_DefaultFrameWidth) + 2);
    m_row = make<QLineEdit>("Lbdat2");
    m_row->setFont(fixed);
    m_row->setReadOnly(true);
    m_row->setAccessibleName(QStringLiteral("Octets de la ligne"));
    m_row->setMinimumWidth(QFontMetrics(fixed).horizontalAdvance(rowHeader()) + 16);
    m_scroll = make<QScrollBar>("Vscroll1", Qt::Vertical);
    m_scroll->setRange(0, kRows - 1);
    m_scroll->setSingleStep(1);
    m_scroll->setPageStep(3);
    m_scroll->setFixedHeight(44);
    // The rows are chosen from the keyboard too (arrows, page keys).
    m_scroll->setFocusPolicy(Qt::StrongFocus);
    m_scroll->setAccessibleName(QStringLiteral("Ligne affichée"));
    m_rowNumber = make<QLabel>("Label2", QStringLiteral("0"));
    m_rowNumber->setMinimumWidth(24);
    QLabel *rowCaption = make<QLabel>("LbLigne", QStringLiteral("&Ligne"));
    rowCaption->setBuddy(m_scroll);
    rows->addWidget(rowCaption, 0, 0);
    rows->addWidget(rowHead, 0, 1);
    rows->addWidget(m_rowNumber, 1, 0);
    rows->addWidget(m_row, 1, 1);
    rows->addWidget(m_scroll, 0, 2, 2, 1);
    rows->setColumnStretch(3, 1);
    top->addLayout(rows);

    m_ident = make<QLineEdit>("Text4");
    m_ident->setReadOnly(true);
    m_ident->setAccessibleName(QStringLiteral("Identification"));
    top->addWidget(m_ident);

    m_bar = make<QProgressBar>("Bar");
    m_bar->setRange(0, 512);
    m_bar->hide(); // shown during a transfer
    top->addWidget(m_bar);
    top->addStretch();

    auto *buttons = new QHBoxLayout;
    auto *load = make<QPushButton>("CBLoadeprom", QStringLiteral("&Chargement FICHIER"));
    auto *save = make<QPushButton>("CBSaveeprom", QStringLiteral("&Sauvegarde EEPROM"));
    m_update = make<QPushButton>("CBUpdate", QStringLiteral("&Mise à jour PIC"));
    auto *back = make<QPushButton>("CBeepend", QStringLiteral("&Retour"));
    for (QPushButton *b : {load, save, m_update, back}) {
        b->setMinimumHeight(32);
        buttons->addWidget(b);
    }
    top->addLayout(buttons);

    connect(m_address, &QLineEdit::returnPressed, this, &EEprom::enterAddress);
    connect(m_address, &QLineEdit::textEdited, this, &EEprom::drawGeneral);
    connect(m_data, &QLineEdit::returnPressed, this, &EEprom::enterData);
    connect(m_scroll, &QScrollBar::valueChanged, this, &EEprom::drawRow);
    connect(load, &QPushButton::clicked, this, &EEprom::loadFile);
    connect(save, &QPushButton::clicked, this, &EEprom::saveFile);
    connect(m_update, &QPushButton::clicked, this, &EEprom::updatePic);
    connect(back, &QPushButton::clicked, this, &EEprom::leave);
}

// ---------------------------------------------------------------- display

void EEprom::drawGeneral() {
    m_general->setText(generalLine(image()));
}

void EEprom::drawRow() {
    const int row = m_scroll->value();
    m_row->setText(rowLine(image(), row));
    m_rowNumber->setText(QString::number(row));
}

void EEprom::showIdentification() {
    m_ident->setText(charger::identificationText(image()));
}

// ---------------------------------------------------------------- entries

void EEprom::enterAddress() {
    const auto a = byteEntry(m_address->text());
    drawGeneral();
    if (!a) return; // refused: the entry stays as typed, nothing selected
    m_selected = *a;
    m_name->setText(charger::editorName(m_controller, *a));
    m_data->setEnabled(*a != kNoAddress);
}

void EEprom::enterData() {
    if (m_selected == kNoAddress) return;
    const auto v = byteEntry(m_data->text());
    if (!v) return;
    image()[m_selected] = char(*v);
    drawGeneral();
    drawRow();
}

// ---------------------------------------------------------------- activation and transfers

void EEprom::changeEvent(QEvent *e) {
    ChargerWindow::changeEvent(e);
    if (e->type() != QEvent::ActivationChange || isClosing()) return;
    if (!isActiveWindow()) {
        // Left for another program (no window of this one is active): coming back is not
        // an activation from the program's own windows.
        m_leftProgram = QApplication::activeWindow() == nullptr;
        return;
    }
    if (activationFromDialog(this)) return;
    if (std::exchange(m_leftProgram, false)) return;
    activation();
}

void EEprom::activation() {
    if (!session().connected()) return;
    gate().request(KeyRead, [this] { readBoth(); });
}

void EEprom::readBoth() {
    m_bar->setRange(0, 512);
    m_bar->setValue(0);
    m_bar->show();
    EeProgress p;
    p.interrupted = [this] { return gate().interrupted(); };
    for (int t : {1, 2}) {
        const int base = t == 1 ? 0 : charger::kImageBytes;
        p.at = [this, base](int a) { m_bar->setValue(base + a); };
        const EeResult r =
            readEeprom(session(), t, 0, charger::kImageBytes - 1, session().table(t), p);
        if (!r.ok) {
            report(r, false);
            if (!isClosing()) m_bar->hide();
            return;
        }
    }
    m_bar->hide();
    m_selected = kNoAddress;
    m_data->setEnabled(false);
    m_scroll->setValue(0);
    showIdentification();
    drawGeneral();
    drawRow();
}

void EEprom::updatePic() {
    if (!session().connected()) {
        noConnectionBox(this);
        return;
    }
    gate().request(KeyUpdate, [this] { writeImage(); });
}

void EEprom::writeImage() {
    const int last = charger::kEditorWritten - 1;
    // What is written and checked is the image as it is now.
    const QByteArray written = image();
    m_bar->setRange(0, 2 * charger::kEditorWritten);
    m_bar->setValue(0);
    m_bar->show();
    EeProgress p;
    p.interrupted = [this] { return gate().interrupted(); };
    p.at = [this](int a) { m_bar->setValue(a); };
    EeResult r = writeEeprom(session(), m_target, 0, last, written, p);
    const bool writing = !r.ok;
    if (r.ok) {
        p.at = [this](int a) { m_bar->setValue(charger::kEditorWritten + a); };
        r = checkEeprom(session(), m_target, 0, last, written, p);
    }
    if (isClosing()) return;
    m_bar->hide();
    if (!r.ok) {
        report(r, writing);
        return;
    }
    if (!r.mismatches.isEmpty())
        errorBox(this, QStringLiteral("Vérification : %1 octet(s) différent(s) après écriture, "
                                      "le premier à l'adresse %2")
                           .arg(r.mismatches.size())
                           .arg(r.mismatches.first()));
}

void EEprom::report(const EeResult &r, bool write) {
    if (r.interrupted || isClosing() || session().isShuttingDown()) return;
    const QString text = linkErrorText(session().error());
    if (text.isEmpty()) return; // a port failure: the main window has said it
    errorBox(this, eeContext(write, m_target, r.address) + QLatin1Char('\n') + text);
}

// ---------------------------------------------------------------- files

QString EEprom::dialogTitle() const {
    return QStringLiteral("Fichier Save EpromPic") +
           (m_target == 1 ? QStringLiteral(" Master") : QStringLiteral("Slave"));
}

QString EEprom::dialogFolder() const {
    QSettings s(QStringLiteral("pelmora"), QStringLiteral("pelmora"));
    const QString dir = s.value(QLatin1String(kFolderKey)).toString();
    return !dir.isEmpty() && QDir(dir).exists() ? dir : defaultFolder();
}

void EEprom::remember(const QString &file) {
    m_lastFile = QFileInfo(file).fileName();
    QSettings s(QStringLiteral("pelmora"), QStringLiteral("pelmora"));
    s.setValue(QLatin1String(kFolderKey), QFileInfo(file).absolutePath());
}

void EEprom::loadFile() {
    gate().request(KeyLoad, [this] {
        const QString file = openFileName(this, dialogTitle(), dialogFolder(),
                                          QStringLiteral("EEPromSave (*.ESV *.esv);;All (*)"));
        if (file.isEmpty() || isClosing()) return; // cancelled: nothing read
        remember(file);
        const EsvParse r = loadEsv(file);
        if (!r.ok) {
            errorBox(this, QStringLiteral("Mauvais nom de fichier\n") + r.error);
            return;
        }
        image().replace(0, kEsvValues, r.image);
        showIdentification();
        drawGeneral();
        drawRow();
    });
}

void EEprom::saveFile() {
    gate().request(KeySave, [this] {
        const QString start =
            m_lastFile.isEmpty() ? dialogFolder() : dialogFolder() + QLatin1Char('/') + m_lastFile;
        const QString file = saveFileName(this, dialogTitle(), start,
                                          QStringLiteral("EEpromSave (*.ESV *.esv);;All (*)"));
        if (file.isEmpty() || isClosing()) return;
        remember(file);
        QString why;
        if (!saveEsv(file, image(), &why))
            errorBox(this, QStringLiteral("Mauvais nom de fichier\n") + why);
    });
}

} // namespace diag
