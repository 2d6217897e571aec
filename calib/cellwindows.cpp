#include "cellwindows.h"

#include "caliblogic.h"
#include "link/exchanges.h"
#include "link/messages.h"
#include "link/numtext.h"
#include "link/session.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

namespace calib {

using namespace chlink;
using charger::CellBlock;
namespace cellblock = charger::cellblock;

CellWindow::CellWindow(CellBlock kind, const winkit::Host &host, QWidget *parent)
    : CalibWindow(host, parent), m_kind(kind), m_lithium(kind == CellBlock::Lithium) {
    setObjectName(m_lithium ? QStringLiteral("RegLIPO") : QStringLiteral("RegPB"));
    setWindowTitle(m_lithium ? QStringLiteral("Reglage Tensions LIPO")
                             : QStringLiteral("Reglage Tensions PB"));
    setOpeningOutputs(
        {{CMD_CUT_POWER, 0}, {CMD_CUT_DISCHARGE, 1}, {CMD_CUT_CHARGE, 0}, {CMD_GROUND_BAT, 1}});
    // The measuring state's discharge path goes off with the window.
    setLeavingOutputs(
        {{CMD_CUT_POWER, 0}, {CMD_CUT_DISCHARGE, 0}, {CMD_CUT_CHARGE, 0}, {CMD_GROUND_BAT, 0}});
    setMeasurement(500, m_lithium ? "TimerLipo" : "TimerPB");
    const charger::CellBlockLayout &layout = charger::cellBlockLayout(kind);

    auto *g = new QGridLayout(this);
    g->setContentsMargins(16, 14, 16, 14);
    g->setHorizontalSpacing(14);

    // Left: cell count, pots, reading.
    auto *left = new QGridLayout;
    left->setVerticalSpacing(8);
    QLabel *cellsCaption = make<QLabel>("Label4", QStringLiteral("&Nombre d'éléménts"));
    left->addWidget(cellsCaption, 0, 0);
    m_list = make<QComboBox>("List1");
    cellsCaption->setBuddy(m_list);
    for (int n = 1; n <= layout.maxCells; ++n)
        m_list->addItem(m_lithium ? QString::number(n) : QStringLiteral("%1 élém.").arg(n));
    left->addWidget(m_list, 0, 1);
    const char *sliders[2] = {"REGDelta", "REGOfs"};
    const char *captions[2] = {"Reglage &Gain Delta", "Reglage &Decalage Delta"};
    const char *captionNames[2] = {"Label1", "Label2"};
    const char *valueNames[2] = {"Label8", "Label9"};
    for (int i = 0; i < 2; ++i) {
        QLabel *caption = make<QLabel>(captionNames[i], QLatin1String(captions[i]));
        left->addWidget(caption, 1 + 2 * i, 0, 1, 2);
        m_pots[i] = make<QSlider>(sliders[i], Qt::Horizontal);
        caption->setBuddy(m_pots[i]);
        m_pots[i]->setRange(0, 255);
        m_pots[i]->setSingleStep(1);
        m_pots[i]->setPageStep(5);
        m_pots[i]->setMinimumWidth(220);
        left->addWidget(m_pots[i], 2 + 2 * i, 0);
        m_potLabels[i] = make<QLabel>(valueNames[i], numText(0));
        m_potLabels[i]->setMinimumWidth(36);
        left->addWidget(m_potLabels[i], 2 + 2 * i, 1);
        connect(m_pots[i], &QSlider::valueChanged, this, [this, i](int v) { onPot(i, v); });
    }
    left->addWidget(make<QLabel>("Label6", QStringLiteral("Valeur CAD Delta")), 5, 0);
    m_readingLabel = make<QLabel>("Label5", numText(0));
    QFont big = font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    m_readingLabel->setFont(big);
    left->addWidget(m_readingLabel, 5, 1);
    left->setRowStretch(6, 1);
    g->addLayout(left, 0, 0);

    // Right: capture buttons with their check boxes.
    auto *right = make<QGroupBox>("Frame1", QStringLiteral("Valeurs à enregistrer"));
    auto *rg = new QGridLayout(right);
    const char *const lithiumButtons[5] = {"BtnV4_4", "BtnV4_2", "BtnV4_1", "BtnV3_0", "Btn2_7"};
    const char *const leadButtons[3] = {"BtnVchrg", "BtnVDech", "BtnMaintien"};
    // The check box of each point, in the window's own numbering.
    const char *const lithiumChecks[5] = {"Check1", "Check2", "Check3", "Check4", "Check5"};
    const char *const leadChecks[3] = {"Check1", "Check2", "Check4"};
    for (int r = 0; r < layout.points; ++r) {
        auto *b = make<QPushButton>(m_lithium ? lithiumButtons[r] : leadButtons[r]);
        b->setMinimumSize(110, 28);
        auto *c = make<QCheckBox>(m_lithium ? lithiumChecks[r] : leadChecks[r]);
        c->setAttribute(Qt::WA_TransparentForMouseEvents); // the window ticks them
        c->setFocusPolicy(Qt::NoFocus);
        rg->addWidget(b, r, 0);
        rg->addWidget(c, r, 1);
        m_captures << b;
        m_checks << c;
        connect(b, &QPushButton::clicked, this, [this, r] { capture(r); });
    }
    auto *pot = make<QPushButton>("BtnPot", m_lithium ? QStringLiteral("&Potentiomètres")
                                                      : QStringLiteral("&Potentiometres"));
    pot->setMinimumSize(110, 28);
    m_potCheck = make<QCheckBox>(m_lithium ? "Check6" : "Check3");
    rg->addWidget(pot, layout.points, 0);
    rg->addWidget(m_potCheck, layout.points, 1);
    connect(pot, &QPushButton::clicked, this, &CellWindow::storePots);
    if (m_lithium) {
        auto *coef = make<QPushButton>("BtnCoef", QStringLiteral("&Coefficients"));
        coef->setMinimumSize(110, 28);
        m_coefCheck = make<QCheckBox>("Check7");
        rg->addWidget(coef, layout.points + 1, 0);
        rg->addWidget(m_coefCheck, layout.points + 1, 1);
        connect(coef, &QPushButton::clicked, this, &CellWindow::coefficients);
        auto *law = new QGridLayout;
        law->addWidget(make<QLabel>("Label12", QStringLiteral("Coef A")), 0, 0);
        m_a = make<QLabel>("Label10", QStringLiteral("0"));
        law->addWidget(m_a, 0, 1);
        law->addWidget(make<QLabel>("Label13", QStringLiteral("Ofst B")), 1, 0);
        m_b = make<QLabel>("Label11", QStringLiteral("0"));
        law->addWidget(m_b, 1, 1);
        rg->addLayout(law, layout.points + 2, 0, 1, 2);
    }
    for (QCheckBox *c : {m_potCheck, m_coefCheck}) {
        if (!c) continue;
        c->setAttribute(Qt::WA_TransparentForMouseEvents);
        c->setFocusPolicy(Qt::NoFocus);
    }
    g->addWidget(right, 0, 1);

    auto *quit = make<QPushButton>("BtnRetour", QStringLiteral("&RETOUR"));
    quit->setMinimumSize(100, 28);
    g->addWidget(quit, 1, 1, Qt::AlignRight);
    connect(quit, &QPushButton::clicked, this, &CellWindow::close);
    connect(m_list, &QComboBox::activated, this, &CellWindow::chooseCells);

    m_list->setCurrentIndex(0);
    chooseCells(0);
    resize(sizeHint());
}

QCheckBox *CellWindow::pointCheck(int row) const {
    return m_checks.value(row);
}

void CellWindow::chooseCells(int index) {
    const auto points = referencePoints(m_kind, index + 1);
    if (!points) return;
    m_cells = index + 1;
    m_captureRow = -1; // a capture asked for another cell count is dropped
    // Readings of another cell count are not trusted: every point is to capture again.
    for (QCheckBox *c : m_checks)
        c->setChecked(false);
    m_potCheck->setChecked(false);
    if (m_lithium) {
        m_coefCheck->setChecked(false);
        m_a->setText(QStringLiteral("0"));
        m_b->setText(QStringLiteral("0"));
    }
    m_volts = points->volts;
    m_counts.resize(m_volts.size());
    for (int r = 0; r < m_captures.size(); ++r)
        m_captures[r]->setText(points->captions.at(r));
}

bool CellWindow::measure() {
    const auto r = readAverage(CMD_READ_VDELTA, 4);
    if (!r) {
        m_captureRow = -1; // no fresh reading to give: the capture is dropped
        return false;
    }
    m_reading = *r;
    m_readingLabel->setText(numText(m_reading));
    return true;
}

void CellWindow::measured() {
    if (m_captureRow < 0) return;
    const int row = std::exchange(m_captureRow, -1);
    const int value = m_reading;
    gate().request(KeyCapture, [this, row, value] {
        m_counts[row] = value;
        if (!writeWord(cellblock::point(row), value)) return;
        pointCheck(row)->setChecked(true);
        m_captures[row]->setText(numText(value));
    });
}

void CellWindow::capture(int row) {
    if (isClosing() || row < 0 || row >= m_captures.size()) return;
    m_captureRow = row; // answered by the measurement that completes after this click
}

bool CellWindow::writeWord(int offset, int value) {
    const auto w = splitWord(value);
    if (!w) {
        refuse(doesNotFit(QStringLiteral("Valeur"), value, 65535));
        return false;
    }
    const int address = blockBase() + offset;
    for (const auto &[a, b] : {std::pair{address, w->high}, std::pair{address + 1, w->low}}) {
        if (!writeEeprom(1, a, b, Reply::AnswerByte, true)) {
            reportFailure(QStringLiteral("Écriture EEPROM adresse %1 : ").arg(a));
            return false;
        }
    }
    return true;
}

void CellWindow::onPot(int which, int value) {
    m_potLabels[which]->setText(numText(value));
    const Cmd code = which == 0 ? CMD_POT_VDELTA : CMD_POT_OFFSET;
    gate().request(which == 0 ? KeySlider1 : KeySlider2, [this, which, code, value] {
        if (!setOutput(session(), code, quint8(value))) {
            reportFailure(QStringLiteral("Réglage du potentiomètre : "));
            return;
        }
        m_potValues[which] = value;
    });
}

void CellWindow::storePots() {
    if (isClosing()) return;
    gate().request(KeySet, [this] {
        // The offset pot's value in the high byte's place, the gain pot's in the low's.
        const int base = blockBase();
        const std::pair<int, int> writes[2] = {{base + cellblock::kOffsetPot, m_potValues[1]},
                                               {base + cellblock::kGainPot, m_potValues[0]}};
        for (const auto &[address, value] : writes) {
            if (!writeEeprom(1, address, quint8(value), Reply::AnswerByte, true)) {
                reportFailure(QStringLiteral("Écriture EEPROM adresse %1 : ").arg(address));
                return;
            }
        }
        m_potCheck->setChecked(true);
    });
}

void CellWindow::coefficients() {
    if (isClosing() || !m_lithium) return;
    for (QCheckBox *c : m_checks) {
        if (!c->isChecked()) {
            errorBox(this, QStringLiteral("Valeurs manquantes, opération annulée"),
                     QStringLiteral("ERREUR"));
            return;
        }
    }
    std::array<double, 5> v{}, c{};
    for (int r = 0; r < 5; ++r) {
        v[r] = m_volts[r];
        c[r] = m_counts[r];
    }
    const LawResult law = lithiumLaw(v, c);
    if (!law.law) {
        refuse(law.refusal);
        return;
    }
    const double a = law.law->a, b = law.law->b;
    m_a->setText(numText(a));
    m_b->setText(numText(b));
    gate().request(KeySet, [this, a, b] {
        if (writeWord(cellblock::kCoefficientA, int(a)) && writeWord(cellblock::kOffsetB, int(b)))
            m_coefCheck->setChecked(true);
    });
}

} // namespace calib
