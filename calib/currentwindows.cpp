#include "currentwindows.h"

#include "caliblogic.h"
#include "charger/eeprommap.h"
#include "link/exchanges.h"
#include "link/numtext.h"
#include "link/session.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

namespace calib {

using namespace chlink;
using charger::slave::kChargeDivisor;
using charger::slave::kDischargeDivisor;
using charger::slave::kPotCharge;
using charger::slave::kPotDischarge;

CurrentWindow::CurrentWindow(Kind kind, const winkit::Host &host, const Arithmetic &arithmetic,
                             QWidget *parent)
    : CalibWindow(host, parent), m_kind(kind), m_arithmetic(arithmetic) {
    const bool charge = kind == Kind::Charge;
    setObjectName(charge ? QStringLiteral("Rcourant") : QStringLiteral("RglDech"));
    setWindowTitle(charge ? QStringLiteral("Reglage Mesure de courant de charge")
                          : QStringLiteral("Form1"));
    if (charge) {
        setOpeningOutputs({{CMD_CUT_CHARGE, 1}, {CMD_CUT_POWER, 1}});
        setLeavingOutputs({{CMD_CUT_CHARGE, 0}, {CMD_CUT_POWER, 0}});
    } else {
        setOpeningOutputs({{CMD_CUT_POWER, 0}, {CMD_CUT_DISCHARGE, 1}, {CMD_GROUND_BAT, 1}});
        setLeavingOutputs({{CMD_CUT_DISCHARGE, 0}});
    }
    setMeasurement(charge ? 300 : 500, "Timercourant");

    auto *g = new QGridLayout(this);
    g->setContentsMargins(20, 16, 20, 16);
    g->setVerticalSpacing(8);
    m_slider = make<QSlider>(charge ? "Slcour" : "SlDech", Qt::Horizontal);
    m_slider->setRange(0, 255);
    m_slider->setMinimumWidth(300);
    g->addWidget(m_slider, 0, 0, 1, 3);
    m_display = make<QLineEdit>("RegcText1");
    m_display->setReadOnly(true);
    m_display->setAccessibleName(QStringLiteral("Mesure"));
    m_slider->setAccessibleName(QStringLiteral("Potentiomètre de courant"));
    g->addWidget(m_display, 1, 0, 1, 3);
    const auto entry = [this](const char *name) {
        auto *e = make<QLineEdit>(name);
        e->setMaximumWidth(90);
        return e;
    };
    const auto label = [this](const char *name, const char *text) {
        auto *l = make<QLabel>(name, QString::fromUtf8(text));
        l->setWordWrap(true);
        return l;
    };
    QLabel *potCaption = label("Label1", "Entrer valeur &Pot");
    g->addWidget(potCaption, 2, 0);
    m_pot = entry(charge ? "courtext3" : "Valpot");
    potCaption->setBuddy(m_pot);
    g->addWidget(m_pot, 2, 1);
    QLabel *cadCaption = label("Label2", "Entrer Valeur c&ad");
    g->addWidget(cadCaption, 3, 0);
    m_cad = entry(charge ? "RegcText2" : "Vaclcad");
    cadCaption->setBuddy(m_cad);
    g->addWidget(m_cad, 3, 1);
    QLabel *currentCaption = label("Label3", "Entrer Valeur &mesuree (en dizaine mA)");
    g->addWidget(currentCaption, 4, 0);
    m_current = entry(charge ? "courText4" : "courmes");
    currentCaption->setBuddy(m_current);
    g->addWidget(m_current, 4, 1);

    // The results beside the entries, in a frame of their own.
    auto *frame = make<QGroupBox>("Frame1", charge ? QStringLiteral("Valeur EEprom")
                                                   : QStringLiteral("Infos"));
    auto *results = new QGridLayout(frame);
    if (!charge) results->addWidget(label("Label6", "Valeur EEprom"), 0, 0, 1, 2);
    results->addWidget(label("Label4", charge ? "MULT." : "Coef Diviseur"), 1, 0);
    m_multiplier = entry(charge ? "courtxt3" : "Coef1");
    m_multiplier->setReadOnly(true);
    results->addWidget(m_multiplier, 1, 1);
    results->addWidget(label("Label5", "Coef  POTENT"), 2, 0);
    m_potCoefficient = entry(charge ? "Text1" : "Coef2");
    m_potCoefficient->setReadOnly(true);
    results->addWidget(m_potCoefficient, 2, 1);
    g->addWidget(frame, 2, 2, 3, 1);

    auto *calc = make<QPushButton>("Btcalcul", QStringLiteral("&Calcul"));
    auto *set = make<QPushButton>(charge ? "Courset" : "Dechset", QStringLiteral("&SET"));
    auto *quit = make<QPushButton>(charge ? "Courquit" : "Btquit", QStringLiteral("&RETOUR"));
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    for (QPushButton *b : {calc, set, quit}) {
        b->setMinimumSize(100, 28);
        buttons->addWidget(b);
    }
    buttons->insertStretch(2);
    g->addLayout(buttons, 5, 0, 1, 3);
    g->setColumnMinimumWidth(2, 200);
    resize(sizeHint());

    connect(m_slider, &QSlider::valueChanged, this, &CurrentWindow::onSlider);
    if (charge) connect(m_pot, &QLineEdit::returnPressed, this, &CurrentWindow::sendTyped);
    connect(calc, &QPushButton::clicked, this, &CurrentWindow::calcul);
    connect(set, &QPushButton::clicked, this, &CurrentWindow::set);
    connect(quit, &QPushButton::clicked, this, &CurrentWindow::close);
}

bool CurrentWindow::measure() {
    const bool charge = m_kind == Kind::Charge;
    const auto r = readAverage(charge ? CMD_READ_ICHRG : CMD_READ_IDECH, 8);
    if (!r) return false;
    m_reading = *r;
    m_display->setText(
        (charge ? QStringLiteral("Valeur mesurée = ") : QStringLiteral("Valeur CAD Mesurée : ")) +
        numText(m_reading));
    return true;
}

void CurrentWindow::onSlider(int v) {
    m_pot->setText(numText(v));
    const Cmd code = m_kind == Kind::Charge ? CMD_POT_ICHRG : CMD_POT_IDECH;
    // The latest value goes out once no other exchange is in progress.
    gate().request(KeySlider1, [this, code, v] {
        if (!setOutput(session(), code, quint8(v)))
            reportFailure(QStringLiteral("Réglage du courant : "));
    });
}

void CurrentWindow::sendTyped() {
    if (isClosing()) return;
    const double v = typedNumber(m_pot->text());
    const auto b = byteValue(v);
    if (!b) {
        refuse(doesNotFit(QStringLiteral("Valeur Pot"), v, 255));
        return;
    }
    gate().request(KeySlider1, [this, b = *b] {
        if (!setOutput(session(), CMD_POT_ICHRG, b))
            reportFailure(QStringLiteral("Réglage du courant : "));
    });
}

std::optional<CurrentWindow::Coefficients> CurrentWindow::compute(bool forStoring) {
    const double pot = typedNumber(m_pot->text());
    const double cad = typedNumber(m_cad->text());
    const double current = typedNumber(m_current->text());
    if (m_kind == Kind::Charge ? (cad == 0 || current == 0) : (current == 0 || pot == 0)) {
        refuse(m_kind == Kind::Charge ? QStringLiteral("Valeurs à entrer à 0 ")
                                      : QStringLiteral("Valeurs manquantes (à 0)"));
        return std::nullopt;
    }
    const auto mult = m_arithmetic.multiplier(cad, current);
    const auto coef = m_arithmetic.potCoefficient(pot, current);
    if (!mult || !coef) return std::nullopt; // (a zero current was refused above)
    m_multiplier->setText(numText(*mult));
    m_potCoefficient->setText(numText(*coef));
    if (!forStoring) return Coefficients{*mult, *coef};
    if (!splitWord(*mult)) {
        refuse(doesNotFit(m_kind == Kind::Charge ? QStringLiteral("MULT.")
                                                 : QStringLiteral("Coef Diviseur"),
                          *mult, 65535));
        return std::nullopt;
    }
    if (!byteValue(*coef)) {
        refuse(doesNotFit(QStringLiteral("Coef POTENT"), *coef, 255));
        return std::nullopt;
    }
    return Coefficients{*mult, *coef};
}

void CurrentWindow::calcul() {
    if (isClosing()) return;
    compute(false);
}

void CurrentWindow::set() {
    if (isClosing()) return;
    const auto c = compute(true);
    if (!c) return;
    const WordBytes w = *splitWord(c->multiplier);
    const bool charge = m_kind == Kind::Charge;
    const int at = (charge ? kChargeDivisor : kDischargeDivisor).address;
    const int potAt = (charge ? kPotCharge : kPotDischarge).address;
    const std::pair<int, quint8> writes[] = {
        {at, w.high}, {at + 1, w.low}, {potAt, quint8(c->pot)}};
    gate().request(KeySet, [this, writes] {
        for (const auto &[address, value] : writes) {
            // Table B follows each byte the charger acknowledged: the other windows convert
            // with the new constants at once.
            if (!writeEeprom(2, address, value, Reply::Ack, true)) {
                reportFailure(QStringLiteral("Écriture EEPROM esclave adresse %1 : ").arg(address));
                return;
            }
        }
        // Nothing more is due: whatever still waits is stale.
        session().drain();
    });
}

} // namespace calib
