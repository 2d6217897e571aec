#include "paramwindows.h"

#include "caliblogic.h"
#include "charger/eeprommap.h"
#include "link/numtext.h"
#include "link/session.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <cmath>

namespace calib {

using namespace charger;

namespace {
QString readFailure(int address) {
    return QStringLiteral("Lecture EEPROM adresse %1 : ").arg(address);
}
QString writeFailure(int address) {
    return QStringLiteral("Écriture EEPROM adresse %1 : ").arg(address);
}
} // namespace

// ---------------------------------------------------------------- Temper

Temper::Temper(const winkit::Host &host, QWidget *parent) : CalibWindow(host, parent) {
    setObjectName(QStringLiteral("Temper"));
    setWindowTitle(QStringLiteral("Reglages temperature"));
    const struct {
        const char *box, *label, *caption;
        const Param *param;
    } rows[6] = {
        {"RegtText1", "Label1", "DECALLAGE 0", &master::kTempOffset},
        {"Text1", "Label2", "FACTEUR", &master::kTempSlope},
        {"Text2", "Label3", "DECALLAGE FINAL", &master::kBatCutoffTemp},
        {"Text3", "Label4", "ALLUMAGE VENTILLO", &master::kFanTemp},
        {"Text4", "Label5", "GEL OPERATIONS", &master::kStopTemp},
        {"Text5", "Label6", "PUISSANCE MAXIMUM", &master::kMaxPower},
    };
    auto *g = new QGridLayout(this);
    g->setContentsMargins(20, 16, 20, 16);
    g->setHorizontalSpacing(30);
    for (int i = 0; i < 6; ++i) {
        const int col = i / 3, row = 2 * (i % 3);
        QLabel *caption = make<QLabel>(rows[i].label, QLatin1String(rows[i].caption));
        g->addWidget(caption, row, col);
        QLineEdit *box = make<QLineEdit>(rows[i].box);
        caption->setBuddy(box);
        box->setMaximumWidth(120);
        g->addWidget(box, row + 1, col);
        m_fields[i] = {box, rows[i].param, rows[i].caption};
    }
    auto *set = make<QPushButton>("Command2", QStringLiteral("&SET"));
    auto *quit = make<QPushButton>("Command1", QStringLiteral("&Retour"));
    for (QPushButton *b : {set, quit})
        b->setMinimumSize(100, 28);
    g->setRowMinimumHeight(6, 10);
    g->addWidget(set, 7, 0);
    g->addWidget(quit, 7, 1, Qt::AlignRight);
    resize(sizeHint());
    connect(set, &QPushButton::clicked, this, &Temper::set);
    connect(quit, &QPushButton::clicked, this, &Temper::close);
}

bool Temper::opening() {
    for (const Field &f : m_fields) {
        int v = 0;
        for (int i = 0; i < f.param->size(); ++i) {
            const auto b = readEeprom(1, f.param->address + i);
            if (!b) {
                reportFailure(readFailure(f.param->address + i));
                return false;
            }
            v = 256 * v + *b; // a word is shown whole, 0..65 535
        }
        f.box->setText(chlink::numText(v));
    }
    return true;
}

void Temper::set() {
    if (isClosing()) return;
    // Every value is checked before anything is written.
    std::vector<std::pair<int, quint8>> writes;
    for (const Field &f : m_fields) {
        const double v = std::floor(typedNumber(f.box->text()));
        const QString name = QLatin1String(f.caption);
        if (f.param->width == Width::Word) {
            const auto w = splitWord(v);
            if (!w) {
                refuse(doesNotFit(name, v, 65535));
                return;
            }
            writes.emplace_back(f.param->address, w->high);
            writes.emplace_back(f.param->address + 1, w->low);
        } else {
            const auto b = byteValue(v);
            if (!b) {
                refuse(doesNotFit(name, v, 255));
                return;
            }
            writes.emplace_back(f.param->address, *b);
        }
    }
    gate().request(KeySet, [this, writes] {
        for (const auto &[address, value] : writes) {
            if (!writeEeprom(1, address, value, Reply::AnswerByte, true)) {
                reportFailure(writeFailure(address));
                return;
            }
        }
    });
}

// ---------------------------------------------------------------- Reglageauto

Reglageauto::Reglageauto(const winkit::Host &host, QWidget *parent) : CalibWindow(host, parent) {
    setObjectName(QStringLiteral("Reglageauto"));
    setWindowTitle(QStringLiteral("Réglage Courant Mode Automatique"));
    auto *g = new QVBoxLayout(this);
    g->setContentsMargins(20, 16, 20, 16);
    const char *sliders[2] = {"RgAutoSliderChg", "RgAutoSliderDch"};
    const char *labels[2] = {"RgAutoLabel1", "RgAutoLabel2"};
    const char *captions[2] = {"Ajustage du courant de charge", "Ajustage du courant de décharge"};
    for (int i = 0; i < 2; ++i) {
        m_labels[i] = make<QLabel>(labels[i], QString::fromUtf8(captions[i]));
        m_labels[i]->setMinimumWidth(340);
        g->addWidget(m_labels[i]);
        m_sliders[i] = make<QSlider>(sliders[i], Qt::Horizontal);
        m_sliders[i]->setRange(0, 0); // until the stored value is read
        m_labels[i]->setBuddy(m_sliders[i]);
        g->addWidget(m_sliders[i]);
        g->addSpacing(10);
        connect(m_sliders[i], &QSlider::valueChanged, this, [this, i](int v) { onSlider(i, v); });
    }
    auto *row = new QHBoxLayout;
    auto *set = make<QPushButton>("RgAutoSet", QStringLiteral("&SET"));
    auto *quit = make<QPushButton>("RgAutoQuit", QStringLiteral("&RETOUR"));
    for (QPushButton *b : {set, quit})
        b->setMinimumSize(100, 28);
    row->addWidget(set);
    row->addStretch();
    row->addWidget(quit);
    g->addLayout(row);
    resize(sizeHint());
    connect(set, &QPushButton::clicked, this, &Reglageauto::set);
    connect(quit, &QPushButton::clicked, this, &Reglageauto::close);
}

bool Reglageauto::opening() {
    const Param *params[2] = {&master::kAutoCharge, &master::kAutoDischarge};
    for (int i = 0; i < 2; ++i) {
        const auto b = readEeprom(1, params[i]->address);
        if (!b) {
            reportFailure(readFailure(params[i]->address));
            return false;
        }
        const AutoRange r = autoRange(*b);
        m_stored[i] = r.stored;
        QSignalBlocker block(m_sliders[i]); // the label keeps its caption until moved
        m_sliders[i]->setRange(r.minimum, r.maximum);
        m_sliders[i]->setValue(r.stored);
    }
    return true;
}

void Reglageauto::onSlider(int i, int value) {
    const QString prefix = i == 0 ? QStringLiteral("Variation du courant de charge = ")
                                  : QStringLiteral("Variation du courant de décharge = ");
    const auto r = autoRatio(value, m_stored[i]);
    m_labels[i]->setText(prefix + (r ? chlink::numText(*r) : QStringLiteral(" indéfinie")));
}

void Reglageauto::set() {
    if (isClosing() || !isOpened()) return;
    if (m_stored[0] == 0 || m_stored[1] == 0) {
        refuse(QStringLiteral("Une valeur enregistrée est nulle : la variation n'est pas "
                              "définie.\nRien n'est enregistré."));
        return;
    }
    const std::pair<int, quint8> writes[2] = {
        {master::kAutoCharge.address, quint8(m_sliders[0]->value())},
        {master::kAutoDischarge.address, quint8(m_sliders[1]->value())}};
    gate().request(KeySet, [this, writes] {
        for (const auto &[address, value] : writes) {
            if (!writeEeprom(1, address, value, Reply::Ack, true)) {
                reportFailure(writeFailure(address));
                return;
            }
        }
    });
}

} // namespace calib
