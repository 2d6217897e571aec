#include "dechargeur.h"

#include "link/messages.h"
#include "link/numtext.h"
#include "runchart.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace modes {

using namespace chlink;

namespace {
const QString kSetpointPrefix = QStringLiteral("COURANT DE DECHARGE =");
}

Dechargeur::Dechargeur(const winkit::Host &host, QWidget *parent) : ModeWindow(host, parent) {
    setObjectName(QStringLiteral("Dechargeur"));
    setWindowTitle(QStringLiteral("DECHARGEUR"));
    m_run = std::make_unique<DischargeRun>(session().tableA(), session().tableB());
    m_run->setDecimalPoint(localeDecimalPoint());
    m_discharge = static_cast<DischargeRun *>(m_run.get());

    QWidget *left = buildCommon();
    auto *leftCol = static_cast<QVBoxLayout *>(left->layout());
    leftCol->addStretch();

    auto *setting = make<QGroupBox>("Frame5", QString());
    auto *sg = new QGridLayout(setting);
    QLabel *cellsCaption = make<QLabel>("Label21", QStringLiteral("&Nombre Elements"));
    sg->addWidget(cellsCaption, 0, 0);
    m_cellsText = make<QLineEdit>("Text1");
    cellsCaption->setBuddy(m_cellsText);
    m_cellsText->setMaximumWidth(60);
    sg->addWidget(m_cellsText, 0, 1);
    m_setpoint = make<QLabel>("Label12", QStringLiteral("COURANT DE DECHARGE = 0.00 A"));
    sg->addWidget(m_setpoint, 1, 0, 1, 2);
    m_slider1 = make<QSlider>("Slider1", Qt::Horizontal);
    m_slider1->setRange(0, 255);
    // Label12 shows the setpoint as it moves: the slider's name is said apart.
    m_slider1->setAccessibleName(QStringLiteral("Courant de décharge"));
    sg->addWidget(m_slider1, 2, 0, 1, 2);
    connect(m_slider1, &QSlider::valueChanged, this, &Dechargeur::onSlider1);

    auto *supplies = make<QGroupBox>("Frame4", QStringLiteral("PARAMETRES ALIMENTATIONS"));
    buildSupplies(supplies);
    auto *dech = make<QGroupBox>("Frame3", QStringLiteral("PARAMETRES DECHARGE"));
    buildReadings(
        dech,
        {
            {"Label19", "I DeCharge", "Label10", "Label11", "0", &m_idechCount, &m_idechValue},
            {"Label20", "V Batterie", "Label16", "Label17", "0", &m_vbatCount, &m_vbatValue},
            {"Label28", "V unitaire", "Label26", nullptr, "", &m_perCell, nullptr},
            {"Label30", "DeChrg Totale", "Label29", nullptr, "0mAh", &m_total, nullptr},
        },
        64);

    auto *middle = new QVBoxLayout;
    middle->addWidget(setting);
    middle->addWidget(supplies);
    middle->addWidget(dech);
    middle->addStretch();

    m_chart = make<RunChart>("ChartBatterie", QStringLiteral("Batterie"), QStringLiteral("V"),
                             QStringLiteral("A"));
    m_curveVbat =
        m_chart->addCurve(QStringLiteral("V Batterie"), RunChart::Left, QColor(0x1f, 0x5f, 0xbf));
    m_curveI =
        m_chart->addCurve(QStringLiteral("I DeCharge"), RunChart::Right, QColor(0xc0, 0x30, 0x30));
    m_cellChart = make<RunChart>("ChartElement", QStringLiteral("Élément et température"),
                                 QStringLiteral("V"), QStringLiteral("°C"));
    m_curveVpc = m_cellChart->addCurve(QStringLiteral("V unitaire"), RunChart::Left,
                                       QColor(0x20, 0x90, 0x40));
    m_curveTemp = m_cellChart->addCurve(QStringLiteral("Température"), RunChart::Right,
                                        QColor(0xd0, 0x80, 0x10));
    auto *charts = new QVBoxLayout;
    charts->addWidget(m_chart, 1);
    charts->addWidget(m_cellChart, 1);

    auto *top = new QHBoxLayout;
    top->addWidget(left);
    top->addLayout(middle);
    top->addLayout(charts, 1);
    auto *outer = new QVBoxLayout(this);
    outer->addLayout(top, 1);
    outer->addWidget(m_logLabel);
    resize(1060, 600);

    setState(QStringLiteral("Prêt"));
}

void Dechargeur::onSlider1(int v) {
    m_setpoint->setText(setpointText(
        kSetpointPrefix, v, charger::value(session().tableB(), charger::slave::kPotDischarge)));
    gate().request(KeySlider1, [this, v] { setOut(CMD_POT_IDECH, quint8(v)); });
}

void Dechargeur::start() {
    if (m_runActive || isClosing()) return;
    // Without a cell count or a battery-voltage calibration the end-of-discharge test could
    // never fire and the battery would be discharged to nothing.
    const auto cells = parseCellCount(m_cellsText->text());
    if (!cells) {
        errorBox(this, QStringLiteral("Nombre Elements manquant : entrez le nombre d'éléments "
                                      "de la batterie (plus de 0)."));
        return;
    }
    if (charger::value(session().tableB(), channel(Quantity::Vbat).calibration) == 0) {
        errorBox(this, QStringLiteral("Calibration V Batterie manquante (mot 6-7 de l'EEPROM "
                                      "esclave à zéro) : la fin de décharge ne peut pas être "
                                      "détectée."));
        return;
    }
    gate().request(KeyStart, [this, c = *cells] {
        if (m_runActive) return;
        m_discharge->reset();
        m_discharge->setCells(c);
        // The current the slider shows is the one that flows, whatever was set before.
        m_discharge->setSetting(m_slider1->value());
        m_chart->clear();
        m_cellChart->clear();
        startRun(QStringLiteral("DECHARGE"));
    });
}

bool Dechargeur::pollStep() {
    if (!m_polling) return false;
    poll();
    return true;
}

RunInfo Dechargeur::runInfo() const {
    RunInfo info = ModeWindow::runInfo();
    info.setpoint = setpointShown(
        m_slider1->value(), charger::value(session().tableB(), charger::slave::kPotDischarge));
    info.cells = wholeCells(m_discharge->cells());
    return info;
}

void Dechargeur::poll() {
    serialio::ExchangeGate::Exchange x(gate());
    PollSteps st = steps();
    const PollOutcome o = m_discharge->poll(st);
    const RunSample &s = o.sample;
    showHead(s);
    if (s.current) showCurrent(m_idechCount, m_idechValue);
    if (s.vbat) {
        m_vbatCount->setText(numText(m_discharge->vbatCount()));
        setValueLabel(m_vbatValue, m_discharge->vbat().value, QStringLiteral("V"));
        if (const auto vpc = m_discharge->voltsPerCell(); vpc && m_discharge->vbat().value)
            m_perCell->setText(numText(*vpc) + QStringLiteral("V"));
    }
    if (!pollDone(o)) return;
    plot();
}

void Dechargeur::plot() {
    const double t = double(m_discharge->duree());
    m_chart->append(m_curveVbat, t, m_discharge->vbat().value);
    m_chart->append(m_curveI, t, m_discharge->current().value);
    m_cellChart->append(m_curveVpc, t, m_discharge->voltsPerCell());
    m_cellChart->append(m_curveTemp, t, m_discharge->supplyValue(2).value);
}

} // namespace modes
