#include "scalewindows.h"

#include "caliblogic.h"
#include "charger/eeprommap.h"
#include "link/exchanges.h"
#include "link/messages.h"
#include "link/numtext.h"
#include "link/session.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace calib {

using namespace chlink;

namespace {
QPushButton *button(QPushButton *b) {
    b->setMinimumWidth(100);
    b->setMinimumHeight(28);
    return b;
}

// A word to write: its address (the high byte's) and its bytes.
struct WordWrite {
    int address;
    WordBytes bytes;
};
} // namespace

// ---------------------------------------------------------------- Vout

Vout::Vout(const winkit::Host &host, QWidget *parent)
    : Vout(host, Arithmetic::standard(), parent) {}

Vout::Vout(const winkit::Host &host, const Arithmetic &arithmetic, QWidget *parent)
    : CalibWindow(host, parent), m_arithmetic(arithmetic) {
    setObjectName(QStringLiteral("Vout"));
    setWindowTitle(QStringLiteral("Reglage tension de sortie"));
    setOpeningOutputs(
        {{CMD_CUT_POWER, 0}, {CMD_CUT_DISCHARGE, 1}, {CMD_CUT_CHARGE, 1}, {CMD_GROUND_BAT, 1}});
    // Every path the opening switched on goes off again.
    setLeavingOutputs(
        {{CMD_CUT_POWER, 0}, {CMD_CUT_DISCHARGE, 0}, {CMD_CUT_CHARGE, 0}, {CMD_GROUND_BAT, 0}});
    setMeasurement(300, "Timerrtension");

    auto *g = new QGridLayout(this);
    g->setContentsMargins(20, 16, 20, 16);
    g->setVerticalSpacing(10);
    m_display = make<QLineEdit>("RegvText1");
    m_display->setAccessibleName(QStringLiteral("Mesure"));
    m_display->setReadOnly(true);
    m_display->setMinimumWidth(260);
    g->addWidget(m_display, 0, 0, 1, 3);
    QLabel *entryCaption = make<QLabel>("Label1", QStringLiteral("&Entrer Valeur mesuree"));
    g->addWidget(entryCaption, 1, 0);
    m_entry = make<QLineEdit>("RegVText2", QStringLiteral("0000"));
    entryCaption->setBuddy(m_entry);
    m_entry->setMaximumWidth(90);
    g->addWidget(m_entry, 1, 1);
    g->addWidget(make<QLabel>("Label3", QStringLiteral("1200 Pour 12,00 volts")), 1, 2);
    QLabel *scaleCaption = make<QLabel>("Label2", QStringLiteral("Valeur EEprom"));
    g->addWidget(scaleCaption, 2, 0);
    m_scale = make<QLineEdit>("voutepr");
    scaleCaption->setBuddy(m_scale);
    m_scale->setReadOnly(true);
    m_scale->setMaximumWidth(90);
    g->addWidget(m_scale, 2, 1);
    auto *set = button(make<QPushButton>("CdsetVout", QStringLiteral("&SET")));
    auto *quit = button(make<QPushButton>("CBQvout", QStringLiteral("&RETOUR")));
    g->addWidget(set, 3, 0);
    g->addWidget(quit, 3, 2, Qt::AlignRight);
    g->setColumnStretch(2, 1);
    resize(sizeHint());
    connect(m_entry, &QLineEdit::textChanged, this, [this] { showScale(); });
    connect(set, &QPushButton::clicked, this, &Vout::set);
    connect(quit, &QPushButton::clicked, this, &Vout::close);
}

bool Vout::measure() {
    const auto r = readAverage(CMD_READ_VBAT, 8);
    if (!r) {
        m_display->clear();
        return false;
    }
    m_reading = *r;
    m_display->setText(QStringLiteral("Valeur mesuree : ") + numText(m_reading));
    showScale(); // the box shows what SET would store now
    return true;
}

void Vout::showScale() {
    const double volts = typedNumber(m_entry->text());
    if (volts == 0) return;
    if (const auto s = m_arithmetic.scale(m_reading, volts)) m_scale->setText(numText(*s));
}

void Vout::set() {
    if (isClosing()) return;
    if (m_reading == 0) {
        refuse(QStringLiteral("data 0")); // no reading yet: table B stays as it was
        return;
    }
    const double volts = typedNumber(m_entry->text());
    const auto s = m_arithmetic.scale(m_reading, volts);
    if (!s) {
        refuse(QStringLiteral("Entrez la tension mesurée (1200 pour 12,00 volts) : rien n'est "
                              "enregistré."));
        return;
    }
    const auto w = splitWord(*s);
    if (!w) {
        refuse(doesNotFit(QStringLiteral("Valeur EEprom"), *s, 65535));
        return;
    }
    m_scale->setText(numText(*s));
    const int at = charger::slave::kBatteryDivisor.address;
    gate().request(KeySet, [this, at, w = *w] {
        for (const auto &[address, value] : {std::pair{at, w.high}, std::pair{at + 1, w.low}}) {
            if (!writeEeprom(2, address, value, Reply::Ack, true)) {
                reportFailure(QStringLiteral("Écriture EEPROM esclave adresse %1 : ").arg(address));
                return;
            }
        }
    });
}

// ---------------------------------------------------------------- Vfiltrage

Vfiltrage::Vfiltrage(const winkit::Host &host, QWidget *parent)
    : Vfiltrage(host, Arithmetic::standard(), parent) {}

Vfiltrage::Vfiltrage(const winkit::Host &host, const Arithmetic &arithmetic, QWidget *parent)
    : CalibWindow(host, parent), m_arithmetic(arithmetic) {
    setObjectName(QStringLiteral("Vfiltrage"));
    setWindowTitle(QStringLiteral("Reglage Tensions d'Alimentation"));
    setMeasurement(500, "Timeritension");

    auto *g = new QGridLayout(this);
    g->setContentsMargins(20, 16, 20, 16);
    g->setVerticalSpacing(10);
    m_display = make<QLineEdit>("TxCad");
    m_display->setAccessibleName(QStringLiteral("Mesure"));
    m_display->setReadOnly(true);
    g->addWidget(m_display, 0, 0, 1, 4);
    const auto entry = [this](const char *name, const QString &text) {
        auto *e = make<QLineEdit>(name, text);
        e->setMaximumWidth(90);
        return e;
    };
    QLabel *alimCaption = make<QLabel>("Label1", QStringLiteral("Entrer Valeur &Alimentation"));
    g->addWidget(alimCaption, 1, 0);
    m_valim = entry("TxValim", QStringLiteral("0"));
    alimCaption->setBuddy(m_valim);
    g->addWidget(m_valim, 1, 1);
    g->addWidget(make<QLabel>("Label5", QStringLiteral("==>")), 1, 2, Qt::AlignCenter);
    QLabel *dblCaption = make<QLabel>("Label2", QStringLiteral("Entrer Valeur &Doubleur"));
    g->addWidget(dblCaption, 2, 0);
    m_vdbl = entry("TxVdbl", QStringLiteral("0"));
    dblCaption->setBuddy(m_vdbl);
    g->addWidget(m_vdbl, 2, 1);
    g->addWidget(make<QLabel>("Label6", QStringLiteral("==>")), 2, 2, Qt::AlignCenter);
    auto *alimBox = new QVBoxLayout;
    QLabel *scaleAlimCaption = make<QLabel>("Label3", QStringLiteral("Valeur EEprom Alim"));
    alimBox->addWidget(scaleAlimCaption);
    m_scaleAlim = entry("TxEEpAlim", QStringLiteral("0"));
    scaleAlimCaption->setBuddy(m_scaleAlim);
    alimBox->addWidget(m_scaleAlim);
    auto *dblBox = new QVBoxLayout;
    QLabel *scaleDblCaption = make<QLabel>("Label4", QStringLiteral("Valeur EEprom dblr"));
    dblBox->addWidget(scaleDblCaption);
    m_scaleDbl = entry("TxEEpDblr", QStringLiteral("0"));
    scaleDblCaption->setBuddy(m_scaleDbl);
    dblBox->addWidget(m_scaleDbl);
    g->addLayout(alimBox, 1, 3);
    g->addLayout(dblBox, 2, 3);
    g->addWidget(make<QLabel>("Label7", QStringLiteral("1500 pour 15,00 Volts")), 3, 0, 1, 2);
    auto *set = button(make<QPushButton>("Cbset", QStringLiteral("&SET")));
    auto *quit = button(make<QPushButton>("CBQuit", QStringLiteral("&RETOUR")));
    g->addWidget(set, 4, 0);
    g->addWidget(quit, 4, 3, Qt::AlignRight);
    resize(sizeHint());
    connect(m_valim, &QLineEdit::textChanged, this,
            [this] { showScale(m_valimReading, m_valim, m_scaleAlim); });
    connect(m_vdbl, &QLineEdit::textChanged, this,
            [this] { showScale(m_vdblReading, m_vdbl, m_scaleDbl); });
    connect(set, &QPushButton::clicked, this, &Vfiltrage::set);
    connect(quit, &QPushButton::clicked, this, &Vfiltrage::close);
}

bool Vfiltrage::measure() {
    const auto valim = readChannel(session(), CMD_READ_VALIM);
    if (!valim || gate().interrupted()) return false;
    const auto vdbl = readChannel(session(), CMD_READ_VDBL);
    if (!vdbl || gate().interrupted()) return false;
    m_valimReading = *valim;
    m_vdblReading = *vdbl;
    m_display->setText(QStringLiteral("CAD ALIM = ") + numText(*valim) +
                       QStringLiteral(" - CAD DOUBLEUR = ") + numText(*vdbl));
    return true;
}

void Vfiltrage::showScale(int reading, QLineEdit *entry, QLineEdit *scale) {
    const double volts = typedNumber(entry->text());
    if (reading == 0 || volts == 0) return; // an empty entry leaves the box as it was
    if (const auto s = m_arithmetic.scale(reading, volts)) scale->setText(numText(*s));
}

void Vfiltrage::set() {
    if (isClosing()) return;
    // The values written are those of the two boxes (typed or computed). Both are checked
    // before anything is written.
    std::vector<WordWrite> words;
    const struct {
        QLineEdit *box;
        const charger::Param &param;
        const char *name;
    } rows[] = {{m_scaleAlim, charger::master::kSupplyDivisor, "Valeur EEprom Alim"},
                {m_scaleDbl, charger::master::kDoublerDivisor, "Valeur EEprom dblr"}};
    for (const auto &row : rows) {
        const double v = typedNumber(row.box->text());
        if (v == 0) continue;
        const auto w = splitWord(v);
        if (!w) {
            refuse(doesNotFit(QString::fromUtf8(row.name), v, 65535));
            return;
        }
        words.push_back({row.param.address, *w});
    }
    if (words.empty()) return;
    gate().request(KeySet, [this, words] {
        for (const WordWrite &w : words) {
            for (const auto &[address, value] :
                 {std::pair{w.address, w.bytes.high}, std::pair{w.address + 1, w.bytes.low}}) {
                if (!writeEeprom(1, address, value, Reply::Ack, true)) {
                    reportFailure(
                        QStringLiteral("Écriture EEPROM maître adresse %1 : ").arg(address));
                    return;
                }
            }
        }
    });
}

} // namespace calib
