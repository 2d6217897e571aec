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
    m_stopOutputs = {{CMD_CUT_DISCHARGE, 0}, {CMD_CUT_POWER, 0}, {CMD_GROUND_BAT, 1}};

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
    m_logging = false;
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
        m_cells = c;
        m_chart->clear();
        m_cellChart->clear();
        // The current the slider shows is the one that flows, whatever was set before.
        startRun(QStringLiteral("DECHARGE"), kDischargePrefix, dischargeColumns(),
                 {{CMD_POT_IDECH, quint8(m_slider1->value())},
                  {CMD_CUT_CHARGE, 0},
                  {CMD_CUT_POWER, 0},
                  {CMD_CUT_DISCHARGE, 1},
                  {CMD_GROUND_BAT, 1}});
    });
}

bool Dechargeur::pollStep() {
    if (!m_polling) return false;
    poll();
    return true;
}

ModeWindow::Settings Dechargeur::endOfRunOutputs() const {
    return {{CMD_CUT_DISCHARGE, 0}, {CMD_CUT_POWER, 0}, {CMD_GROUND_BAT, 1}};
}

void Dechargeur::poll() {
    serialio::ExchangeGate::Exchange x(gate());
    PollSteps st = steps();
    const RunSample s = dischargePoll(st, m_pulse);
    showHead(s);
    if (s.current)
        showCurrent(*s.current, m_idechCad, m_idech, m_idechCount, m_idechValue, Quantity::Idech);
    if (s.vbat) {
        m_vbat.update(showCount(*s.vbat, m_vbatCad, m_vbatCount, Quantity::Vbat));
        setValueLabel(m_vbatValue, m_vbat.value, QStringLiteral("V"));
        if (m_vbat.value && m_cells > 0) {
            m_vpc = modes::voltsPerCell(*m_vbat.value, m_cells);
            m_perCell->setText(numText(*m_vpc) + QStringLiteral("V"));
        }
    }
    if (!finished(s.end)) return;

    if (m_vpc && modes::endOfDischarge(*m_vpc)) {
        m_endFlag = true;
        setState(QStringLiteral("Limite Dech."));
    }
    if (m_logging)
        appendRecord({double(m_logDuree), double(m_valimCad), double(m_vdblCad), double(m_tempCad),
                      m_valim.value, m_vdbl.value, m_temper.value, double(m_idechCad),
                      double(m_vbatCad), m_idech.value, m_vbat.value, double(m_counter.capacity()),
                      double(m_logDuree) / 86400.0});
    plot();
}

void Dechargeur::plot() {
    const double t = double(m_duree);
    m_chart->append(m_curveVbat, t, m_vbat.value);
    m_chart->append(m_curveI, t, m_idech.value);
    m_cellChart->append(m_curveVpc, t, m_vpc);
    m_cellChart->append(m_curveTemp, t, m_temper.value);
}

} // namespace modes
