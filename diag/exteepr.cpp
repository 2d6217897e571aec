#include "exteepr.h"

#include "link/messages.h"
#include "link/numtext.h"
#include "link/session.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSaveFile>
#include <QScrollBar>
#include <QVBoxLayout>
#include <optional>

using namespace diag::exteepr;

namespace diag {

namespace {

const QColor kGrey(0x80, 0x80, 0x80);
const QString kFilter = QStringLiteral("EEpromSave (*.ESV *.esv);;All (*)");

QString fileTitle(int selection) {
    return QStringLiteral("Fichier Save Eprom") + chlink::numText(selection);
}

// Where the file dialogs start: the system drive's root where there is one, else the home
// folder.
QString initialFolder() {
#ifdef Q_OS_WIN
    return QStringLiteral("c:\\");
#else
    return QDir::homePath();
#endif
}

QLineEdit *field(QWidget *parent, const char *name, int width, const QString &pattern = QString()) {
    auto *e = winkit::makeNamed<QLineEdit>(parent, name);
    e->setFixedWidth(width);
    if (!pattern.isEmpty())
        e->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), e));
    return e;
}

// A field's caption; its Alt key leads to the field.
QLabel *caption(QWidget *parent, const char *name, const QString &text, QWidget *field = nullptr) {
    auto *l = winkit::makeNamed<QLabel>(parent, name, text);
    l->setBuddy(field);
    return l;
}

} // namespace

Exteepr::Exteepr(const winkit::Host &host)
    : ChargerWindow(host), m_texts(initialTexts()), m_library(initialLibrary()) {
    setObjectName(QStringLiteral("Exteepr"));
    setWindowTitle(QStringLiteral("EEproms Externes"));
    buildUi();
    m_frameColour = m_frame1->palette().color(QPalette::Window);
    paintFrames(false, false);
    connect(&gate(), &serialio::ExchangeGate::busyChanged, this, [this] { updateControls(); });
    updateControls();
}

Exteepr::~Exteepr() = default;

void Exteepr::buildUi() {
    auto *left = new QVBoxLayout(this);
    // The scroll bar runs beside the two memories' frames.
    auto *memories = new QHBoxLayout;
    auto *frames = new QVBoxLayout;
    memories->addLayout(frames, 1);

    m_esell = make<QGroupBox>("Esell", QStringLiteral("Selection EEprom"));
    auto *sel = new QHBoxLayout(m_esell);
    m_option1 = winkit::makeNamed<QRadioButton>(m_esell, "Option1", QStringLiteral("EEprom&1"));
    m_option2 = winkit::makeNamed<QRadioButton>(m_esell, "Option2", QStringLiteral("EEprom&2"));
    sel->addWidget(m_option1);
    sel->addWidget(m_option2);
    sel->addStretch();
    m_label4 = winkit::makeNamed<QLabel>(m_esell, "Label4", chlink::numText(1));
    m_label4->setFrameShape(QFrame::Panel);
    m_label4->setFrameShadow(QFrame::Sunken);
    m_label4->setMinimumWidth(48);
    m_label4->setAlignment(Qt::AlignCenter);
    sel->addWidget(caption(m_esell, "LbPosition", QStringLiteral("Position")));
    sel->addWidget(m_label4);
    left->addWidget(m_esell);

    m_frame1 = make<QGroupBox>("Frame1", QStringLiteral("EEprom1 : messages"));
    auto *f1 = new QVBoxLayout(m_frame1);
    m_label1 = winkit::makeNamed<QLabel>(m_frame1, "Label1");
    m_text1 = winkit::makeNamed<QLineEdit>(m_frame1, "Text1");
    m_text1->setMaxLength(kTextChars);
    m_text1->setAccessibleName(QStringLiteral("Message"));
    m_label2 = winkit::makeNamed<QLabel>(m_frame1, "Label2");
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    for (QWidget *w : {static_cast<QWidget *>(m_label1), static_cast<QWidget *>(m_text1),
                       static_cast<QWidget *>(m_label2)}) {
        w->setFont(mono);
        w->setMinimumHeight(24);
    }
    f1->addWidget(m_label1);
    f1->addWidget(m_text1);
    f1->addWidget(m_label2);
    frames->addWidget(m_frame1);

    m_frame2 = buildProgramFrame();
    frames->addWidget(m_frame2);
    left->addLayout(memories);

    m_bar = make<QProgressBar>("Bar1");
    m_bar->setRange(0, kMemoryBytes);
    m_bar->hide(); // shown during a transfer
    m_infos = make<QLabel>("LbInfos");
    m_infos->setWordWrap(true);
    m_label5 = make<QLabel>("Label5", QStringLiteral("Lecture du fichier en cours"));
    m_label5->hide(); // shown while a file is read
    left->addWidget(m_bar);
    left->addWidget(m_infos);
    left->addWidget(m_label5);

    auto *buttons = new QHBoxLayout;
    m_save = make<QPushButton>("CbSave", QStringLiteral("&Dowload EEprom"));
    m_write = make<QPushButton>("CbEcrit", QStringLiteral("&Ecr. Fichier"));
    m_readFile = make<QPushButton>("CBLit", QStringLiteral("&Lit Fichier"));
    m_quit = make<QPushButton>("CbQuit", QStringLiteral("&Quitte"));
    for (QPushButton *b : {m_save, m_write, m_readFile, m_quit}) {
        b->setMinimumHeight(32);
        buttons->addWidget(b);
        if (b == m_readFile) buttons->addStretch();
    }
    left->addLayout(buttons);

    m_slider = make<QScrollBar>("Slider1", Qt::Vertical);
    m_slider->setRange(0, kTextRecords - 1);
    m_slider->setPageStep(8);
    // The records are chosen from the keyboard too (arrows, page keys).
    m_slider->setFocusPolicy(Qt::StrongFocus);
    m_slider->setAccessibleName(QStringLiteral("Position dans l'EEPROM"));
    memories->addWidget(m_slider);

    connect(m_option1, &QRadioButton::clicked, this, &Exteepr::option1);
    connect(m_option2, &QRadioButton::clicked, this, &Exteepr::option2);
    connect(m_slider, &QScrollBar::valueChanged, this, &Exteepr::slider1);
    connect(m_text6, &QLineEdit::textChanged, this, &Exteepr::text6Changed);
    connect(m_text4, &QLineEdit::textEdited, this,
            [this](const QString &t) { m_library.header = t; });
    connect(m_save, &QPushButton::clicked, this, &Exteepr::download);
    connect(m_write, &QPushButton::clicked, this, &Exteepr::writeFile);
    connect(m_readFile, &QPushButton::clicked, this, &Exteepr::readFile);
    connect(m_quit, &QPushButton::clicked, this, &Exteepr::leave);
}

QGroupBox *Exteepr::buildProgramFrame() {
    auto *frame = make<QGroupBox>("Frame2", QStringLiteral("EEprom2 : programmes de charge"));
    auto *grid = new QGridLayout(frame);
    const QString digit = QStringLiteral("\\d?");
    const QString count = QStringLiteral("\\d{0,3}");
    const QString amount = QStringLiteral("\\d{0,2}([.,]\\d{0,3})?\\s?[%1]?");

    m_text4 = field(frame, "Text4", 48);
    m_text4->setMaxLength(pr::kHeaderChars);
    grid->addWidget(caption(frame, "Label3", QStringLiteral("N&Br types"), m_text4), 0, 0);
    grid->addWidget(m_text4, 0, 1);

    m_text5 = winkit::makeNamed<QLineEdit>(frame, "Text5");
    m_text5->setMaxLength(pr::kNameChars);
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    m_text5->setFont(mono);
    grid->addWidget(caption(frame, "LbNom", QStringLiteral("&Nom"), m_text5), 1, 0);
    grid->addWidget(m_text5, 1, 1, 1, 3);

    m_text6 = field(frame, "Text6", 32, digit);
    m_label8 = winkit::makeNamed<QLabel>(frame, "Label8");
    m_label8->setMinimumWidth(48);
    grid->addWidget(caption(frame, "LbType", QStringLiteral("&Type"), m_text6), 1, 4);
    auto *type = new QHBoxLayout;
    type->addWidget(m_text6);
    type->addWidget(m_label8);
    grid->addLayout(type, 1, 5);

    m_nbElem = field(frame, "TxNbElem", 48, count);
    m_iCharg = field(frame, "EdICharg", 80, amount.arg(QStringLiteral("Aa")));
    m_iDech = field(frame, "EdIDech", 80, amount.arg(QStringLiteral("Aa")));
    grid->addWidget(caption(frame, "LbNbElem", QStringLiteral("Nbr Ele&m"), m_nbElem), 2, 0);
    grid->addWidget(m_nbElem, 2, 1);
    grid->addWidget(caption(frame, "LbICharg", QStringLiteral("I &Chrg"), m_iCharg), 2, 2);
    grid->addWidget(m_iCharg, 2, 3);
    grid->addWidget(caption(frame, "LbIDech", QStringLiteral("I Dechr&g"), m_iDech), 2, 4);
    grid->addWidget(m_iDech, 2, 5);

    // The duration and the voltage each sit in a shape shown only for the types that use it.
    m_shape6 = winkit::makeNamed<QFrame>(frame, "Shape6");
    m_shape6->setFrameShape(QFrame::Box);
    auto *s6 = new QHBoxLayout(m_shape6);
    s6->setContentsMargins(4, 2, 4, 2);
    m_duree = field(m_shape6, "EdDuree", 64, QStringLiteral("\\d{0,2}[Hh:]?\\d{0,2}"));
    s6->addWidget(caption(m_shape6, "LbDuree", QStringLiteral("D&uree"), m_duree));
    s6->addWidget(m_duree);
    m_cycles = field(frame, "TNbrCycles", 48, count);
    m_label12 = winkit::makeNamed<QLabel>(frame, "Label12", QStringLiteral("V Dech"));
    m_label12->setMinimumWidth(
        m_label12->fontMetrics().horizontalAdvance(QStringLiteral("Ajus. VMax")) + 4);
    m_shape7 = winkit::makeNamed<QFrame>(frame, "Shape7");
    m_shape7->setFrameShape(QFrame::Box);
    auto *s7 = new QHBoxLayout(m_shape7);
    s7->setContentsMargins(4, 2, 4, 2);
    m_vDech = field(m_shape7, "EdVDech", 80, amount.arg(QStringLiteral("Vv")));
    s7->addWidget(m_vDech);
    m_label12->setBuddy(m_vDech); // names the field as the program's type calls it
    grid->addWidget(m_shape6, 3, 0, 1, 2);
    grid->addWidget(caption(frame, "LbNbrCycles", QStringLiteral("Nbr C&ycl"), m_cycles), 3, 2);
    grid->addWidget(m_cycles, 3, 3);
    grid->addWidget(m_label12, 3, 4);
    grid->addWidget(m_shape7, 3, 5);

    auto *frame3 = winkit::makeNamed<QGroupBox>(frame, "Frame3", QStringLiteral("Mode"));
    auto *checks = new QGridLayout(frame3);
    static const char *const names[6] = {"Check1", "Check2", "Check3",
                                         "Check4", "Check5", "Check6"};
    for (int i = 0; i < 6; ++i) {
        m_checks[i] = winkit::makeNamed<QCheckBox>(frame3, names[i]);
        checks->addWidget(m_checks[i], i / 3, i % 3);
    }
    grid->addWidget(frame3, 4, 0, 1, 6);
    grid->setColumnStretch(6, 1);
    text6Changed(); // the captions of type 0 until a program is shown
    return frame;
}

// ---- State ----

void Exteepr::paintFrames(bool firstActive, bool secondActive) {
    for (auto [frame, active] : {std::pair{m_frame1, firstActive}, {m_frame2, secondActive}}) {
        QPalette p = frame->palette();
        p.setColor(QPalette::Window, active ? m_frameColour : kGrey);
        // The records of a memory not selected stay readable on the grey.
        p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x20, 0x20, 0x20));
        p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x30, 0x30, 0x30));
        frame->setAutoFillBackground(true);
        frame->setPalette(p);
    }
}

void Exteepr::updateControls() {
    const bool idle = !gate().busy();
    const bool selected = m_selection != NoMemory;
    m_option1->setEnabled(idle);
    m_option2->setEnabled(idle);
    m_save->setEnabled(idle && selected && m_known[m_selection]);
    m_write->setEnabled(idle && selected);
    m_readFile->setEnabled(idle && selected);
    m_slider->setEnabled(idle && selected);
    // Only the selected memory's fields can be edited: edits elsewhere would be lost.
    m_frame1->setEnabled(idle && m_selection == TextMemory);
    m_frame2->setEnabled(idle && m_selection == ProgramMemory);
}

void Exteepr::setSlider(int value) {
    m_settingSlider = true;
    m_slider->setValue(value);
    m_settingSlider = false;
}

// ---- Showing and keeping records ----

void Exteepr::showProgram(const Program &p) {
    const FieldTexts f = fieldTexts(p);
    m_text5->setText(f.name);
    m_text6->setText(f.type); // the presentation follows
    m_nbElem->setText(f.cells);
    m_iCharg->setText(f.charge);
    m_iDech->setText(f.discharge);
    m_duree->setText(f.duration);
    m_cycles->setText(f.cycles);
    m_vDech->setText(f.volts);
    for (int i = 0; i < 6; ++i)
        m_checks[i]->setChecked(f.flags & (1 << (pr::kFirstOptionBit + i)));
}

void Exteepr::show(int position) {
    m_position = position;
    m_label4->setText(chlink::numText(position));
    if (m_selection == TextMemory) {
        m_text1->setText(m_texts.value(position));
        m_label1->setText(position > 1 ? m_texts.value(position - 1) : QString());
        m_label2->setText(position < maxPosition(TextMemory) ? m_texts.value(position + 1)
                                                             : QString());
    } else if (m_selection == ProgramMemory) {
        showProgram(m_library.programs.value(position));
    }
    m_shown = position;
}

bool Exteepr::storeShown() {
    if (m_shown < 0) return true;
    if (m_selection == TextMemory) {
        const QString t = m_text1->text();
        if (const auto c = unwritableChar(t)) {
            chlink::errorBox(this, QStringLiteral("Message %1 : le caractère « %2 » ne tient pas "
                                                  "dans un octet de l'EEprom.")
                                       .arg(m_shown)
                                       .arg(*c));
            return false;
        }
        m_texts[m_shown] = t;
        return true;
    }
    if (m_selection != ProgramMemory) return true;
    FieldTexts f;
    f.name = m_text5->text();
    f.type = m_text6->text();
    f.cells = m_nbElem->text();
    f.charge = m_iCharg->text();
    f.discharge = m_iDech->text();
    f.duration = m_duree->text();
    f.cycles = m_cycles->text();
    f.volts = m_vDech->text();
    for (int i = 0; i < 6; ++i)
        if (m_checks[i]->isChecked()) f.flags |= 1 << (pr::kFirstOptionBit + i);
    const Stored s = programFromFields(f);
    if (!s.program) {
        chlink::errorBox(this, QStringLiteral("Programme %1 : ").arg(m_shown) + s.error);
        return false;
    }
    m_library.programs[m_shown] = *s.program;
    return true;
}

void Exteepr::resetView() {
    m_shown = -1; // nothing shown before is kept over what was just read
    setSlider(1);
    m_label1->setText(m_texts.value(0));
    m_text1->setText(m_texts.value(1));
    m_label2->setText(m_texts.value(2));
    m_position = 1;
    m_label4->setText(chlink::numText(1));
    if (m_selection == ProgramMemory) {
        m_text4->setText(m_library.header);
        show(1);
    } else if (m_selection == TextMemory) {
        m_shown = 1; // Text1 holds record 1, Label1 record 0
    }
}

void Exteepr::slider1(int value) {
    if (m_settingSlider || m_selection == NoMemory) return;
    const int position = qBound(1, value, maxPosition(m_selection));
    if (!storeShown()) {
        setSlider(m_shown);
        return;
    }
    show(position);
}

void Exteepr::text6Changed() {
    const QString fitted = fitTypeText(m_text6->text());
    if (fitted != m_text6->text()) {
        m_text6->setText(fitted); // comes back here
        return;
    }
    const int type = typeOf(fitted);
    const bool nickel = type == pr::NiCd || type == pr::NiMh;
    m_label8->setText(pr::typeName(type));
    m_label12->setText(nickel ? QStringLiteral("V Dech") : QStringLiteral("Ajus. VMax"));
    m_shape7->setVisible(nickel);
    m_shape6->setVisible(type != pr::LeadAcid);
    for (int i = 0; i < 6; ++i) {
        const QString c = pr::optionCaption(type, pr::kFirstOptionBit + i);
        m_checks[i]->setText(c);
        m_checks[i]->setVisible(!c.isEmpty());
    }
}

// ---- Selecting and reading a memory ----

void Exteepr::option1() {
    select(TextMemory);
}

void Exteepr::option2() {
    select(ProgramMemory);
}

void Exteepr::select(int selection) {
    if (gate().busy() || isClosing()) return;
    if (!storeShown()) { // the record shown stays, and so does the memory
        (m_selection == TextMemory ? m_option1 : m_option2)->setChecked(true);
        return;
    }
    m_selection = selection;
    m_shown = -1;
    (selection == TextMemory ? m_option1 : m_option2)->setChecked(true);
    paintFrames(false, false);
    m_bar->setValue(0);
    m_bar->show();
    if (!session().userDisconnected() && !m_read[selection]) {
        std::optional<serialio::ExchangeGate::Exchange> x;
        x.emplace(gate());
        m_transferClock.start();
        QByteArray memory;
        TransferProgress progress;
        progress.step = [this](int address, int done) {
            progressStep(address, done, kMemoryBytes);
        };
        progress.stopRequested = [this] { return gate().interrupted(); };
        const TransferResult r = readMemory(session(), selection, &memory, progress);
        x.reset();
        if (isClosing()) return;
        if (r.ok) {
            if (selection == TextMemory)
                m_texts = textsFromMemory(memory);
            else
                m_library = libraryFromMemory(memory);
            m_read[selection] = m_known[selection] = true;
            m_infos->setText(memoryName(selection) + QStringLiteral(" lue : ") +
                             QString::number(kMemoryBytes) + QStringLiteral(" octets"));
        } else {
            m_bar->hide();
            reportFailure(r, QStringLiteral("Rien n'a été changé dans la fenêtre."));
        }
    }
    m_bar->hide();
    paintFrames(selection == TextMemory, selection == ProgramMemory);
    m_slider->setMaximum(maxPosition(selection));
    resetView();
    updateControls();
}

void Exteepr::progressStep(int address, int done, int total) {
    m_bar->setValue(address);
    if (done % 32 == 0 || done == total)
        m_infos->setText(progressText(done, total, m_transferClock.elapsed()));
}

void Exteepr::reportFailure(const TransferResult &r, const QString &after) {
    if (r.stopped) return;
    if (r.linkError == chlink::LinkError::PortFailed) {
        // The main window has said that the port failed.
        m_infos->setText(r.context + QStringLiteral("port série perdu. ") + after);
        return;
    }
    m_infos->setText(r.context + QStringLiteral("pas de réponse du chargeur. ") + after);
    if (session().isShuttingDown()) return;
    chlink::timeoutBox(this, r.context + QStringLiteral("pas de réponse du chargeur.\n") + after);
}

// ---- Download ----

void Exteepr::download() {
    if (gate().busy() || isClosing()) return;
    if (session().userDisconnected()) {
        chlink::errorBox(this, QStringLiteral("Impossible Déconnecté"));
        return;
    }
    if (m_selection == NoMemory || !m_known[m_selection]) {
        // Only what came from the charger or a file goes back: never the blank lists.
        chlink::errorBox(this, QStringLiteral("Lisez d'abord l'EEprom du chargeur ou un "
                                              "fichier : rien n'a été écrit."));
        return;
    }
    if (!storeShown()) return;
    QVector<Write> writes;
    if (m_selection == TextMemory) {
        writes = textWrites(m_texts);
    } else {
        LibraryWrites w = libraryWrites(m_library);
        if (!w.error.isEmpty()) {
            chlink::errorBox(this, w.error + QStringLiteral("\nRien n'a été écrit."));
            return;
        }
        writes = std::move(w.writes);
    }

    const int selection = m_selection;
    std::optional<serialio::ExchangeGate::Exchange> x;
    x.emplace(gate());
    m_downloading = true;
    m_bar->setValue(0);
    m_bar->show();
    m_transferClock.start();
    TransferProgress progress;
    const int total = int(writes.size());
    progress.step = [this, total](int address, int done) { progressStep(address, done, total); };
    progress.stopRequested = [this] { return gate().interrupted(); };
    const TransferResult r = writeMemory(session(), selection, writes, progress);
    m_downloading = false;
    x.reset();
    if (isClosing()) return;
    m_bar->hide();
    if (r.ok) {
        m_infos->setText(memoryName(selection) + QStringLiteral(" écrite : ") +
                         QString::number(r.done) + QStringLiteral(" octets en ") +
                         QString::number((m_transferClock.elapsed() + 500) / 1000) +
                         QStringLiteral(" s"));
        return;
    }
    reportFailure(r, QStringLiteral("L'%1 est en partie écrite : %2 octets écrits sur %3. "
                                    "Refaites le téléchargement.")
                         .arg(memoryName(selection))
                         .arg(r.done)
                         .arg(r.total));
}

bool Exteepr::mayClose() {
    if (!m_downloading || session().isShuttingDown()) return true;
    if (!chlink::askYesNoRisky(this, QStringLiteral("Un téléchargement est en cours. L'arrêter "
                                                    "et fermer la fenêtre ?\nL'EEprom resterait "
                                                    "en partie écrite.")))
        return false;
    return true;
}

// ---- Files ----

void Exteepr::writeFile() {
    if (gate().busy() || m_selection == NoMemory) return;
    if (!storeShown()) return;
    const QString file =
        chlink::saveFileName(this, fileTitle(m_selection), initialFolder(), kFilter);
    if (file.isEmpty()) {
        chlink::errorBox(this, QStringLiteral("Mauvais nom de fichier"));
        return;
    }
    const FileText text = m_selection == TextMemory ? textsFile(m_texts) : libraryFile(m_library);
    if (!text.error.isEmpty()) {
        chlink::errorBox(this, text.error + QStringLiteral("\nLe fichier n'a pas été écrit."));
        return;
    }
    // All or nothing: an existing file stays as it was unless the whole text is written.
    QSaveFile f(file);
    if (!f.open(QIODevice::WriteOnly) || f.write(text.bytes) != text.bytes.size() || !f.commit()) {
        chlink::errorBox(this, QStringLiteral("Mauvais nom de fichier\n") + f.errorString());
        return;
    }
    m_infos->setText(QStringLiteral("Fichier écrit : ") + QFileInfo(file).fileName());
}

void Exteepr::readFile() {
    if (gate().busy() || m_selection == NoMemory) return;
    const QString file =
        chlink::openFileName(this, fileTitle(m_selection), initialFolder(), kFilter);
    if (file.isEmpty()) return; // cancelled: nothing changes
    m_label5->show();
    FileLoad load;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        load.error = QStringLiteral("Mauvais nom de fichier\n") + f.errorString();
    } else if (f.size() > kMaxFileBytes) {
        load.error = QStringLiteral("Ce fichier est trop grand pour être une sauvegarde "
                                    "d'EEprom. Rien n'a été changé.");
    } else {
        const QByteArray bytes = f.readAll();
        load = m_selection == TextMemory ? parseTextsFile(bytes) : parseLibraryFile(bytes);
    }
    m_label5->hide();
    if (!load.error.isEmpty()) {
        chlink::errorBox(this, load.error);
        return;
    }
    if (m_selection == TextMemory)
        m_texts = load.texts;
    else
        m_library = load.library;
    m_known[m_selection] = true;
    resetView();
    updateControls();
    m_infos->setText(QStringLiteral("Fichier lu : ") + QFileInfo(file).fileName());
}

} // namespace diag
