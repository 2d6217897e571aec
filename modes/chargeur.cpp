#include "chargeur.h"

#include "link/messages.h"
#include "link/numtext.h"
#include "runchart.h"
#include "runframes.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace modes {

using namespace chlink;

namespace {
const QString kSetpointPrefix = QStringLiteral("COURANT DE CHARGE =");

// "DV/DT Mode": a lamp before the caption that shows the DV/DT watch and takes no input
// (no focus, no click, no key). Empty: nothing seen (0); half filled: a steep rise under
// watch (2, grayed); full: DV/DT seen (1, ticked). It stays a check box for the three
// values it holds, which the log writes as DVFLAG.
class DvdtIndicator : public QCheckBox {
  public:
    DvdtIndicator(const QString &text, QWidget *parent) : QCheckBox(text, parent) {
        setTristate(true);
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setToolTip(QStringLiteral("Indicateur (lecture seule) : vide = rien, à moitié = montée "
                                  "rapide surveillée, plein = DV/DT détecté"));
    }
    QSize sizeHint() const override {
        const QFontMetrics fm = fontMetrics();
        return {lamp() + fm.horizontalAdvance(QLatin1Char(' ')) + fm.horizontalAdvance(text()) + 4,
                qMax(lamp(), fm.height()) + 4};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    bool hitButton(const QPoint &) const override { return false; }
    void nextCheckState() override {} // only the window sets the state
    void paintEvent(QPaintEvent *) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const int d = lamp();
        const QRectF r(1.5, (height() - d) / 2.0 + 0.5, d - 1, d - 1);
        const Qt::CheckState st = checkState();
        // A light, not a box: grey when off, its lower half amber while a rise is watched,
        // green when DV/DT is seen.
        p.setPen(Qt::NoPen);
        p.setBrush(st == Qt::Checked ? QColor(0x20, 0xa0, 0x40) : QColor(0xb4, 0xb4, 0xb4));
        p.drawEllipse(r);
        if (st == Qt::PartiallyChecked) {
            p.setBrush(QColor(0xe0, 0x90, 0x20));
            p.drawChord(r, 180 * 16, 180 * 16);
        }
        p.setPen(QPen(QColor(0x50, 0x50, 0x50), 1.2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(r);
        p.setPen(palette().color(QPalette::WindowText));
        const int x = d + fontMetrics().horizontalAdvance(QLatin1Char(' ')) + 2;
        p.drawText(QRect(x, 0, width() - x, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    }

  private:
    int lamp() const { return fontMetrics().height(); }
};
} // namespace

Chargeur::Chargeur(const winkit::Host &host, QWidget *parent) : ModeWindow(host, parent) {
    setObjectName(QStringLiteral("Chargeur"));
    setWindowTitle(QStringLiteral("Mode chargeur rapide"));
    m_run = std::make_unique<ChargeRun>(session().tableA(), session().tableB());
    m_run->setDecimalPoint(localeDecimalPoint());
    m_charge = static_cast<ChargeRun *>(m_run.get());

    QWidget *left = buildCommon();
    auto *leftCol = static_cast<QVBoxLayout *>(left->layout());
    auto *modeRow = new QHBoxLayout;
    QLabel *modeCaption = make<QLabel>("Label31", QStringLiteral("&MODE"));
    modeRow->addWidget(modeCaption);
    m_modeText = make<QLineEdit>("Text1", QStringLiteral("0"));
    modeCaption->setBuddy(m_modeText);
    m_modeText->setMaximumWidth(60);
    modeRow->addWidget(m_modeText);
    modeRow->addStretch();
    leftCol->insertLayout(2, modeRow);
    m_check = make<DvdtIndicator>("Check1", QStringLiteral("DV/DT Mode"));
    leftCol->addWidget(m_check);
    leftCol->addStretch();

    // Supplies and charge channels.
    auto *supplies = make<QGroupBox>("Frame4", QStringLiteral("PARAMETRES ALIMENTATIONS"));
    buildSupplies(supplies);
    auto *charge = make<QGroupBox>("Frame3", QStringLiteral("PARAMETRES CHARGE"));
    buildReadings(
        charge,
        {
            {"Label19", "I Charge", "Label10", "Label11", "0", &m_ichrgCount, &m_ichrgValue},
            {"Label20", "V Batterie", "Label16", "Label17", "0", &m_vbatCount, &m_vbatValue},
            {"Label23", "V Delta", "Label21", "Label22", "0", &m_vdeltaCount, &m_peakValue},
            {"Label30", "Chrg Totale", "Label29", nullptr, "0mAh", &m_total, nullptr},
            {"Label32", "DV/DT", "Label33", "Label34", "", &m_rise, &m_average},
        },
        64);

    // Potentiometers.
    auto *pots = new QGroupBox(this);
    auto *pg = new QGridLayout(pots);
    pg->addWidget(make<QLabel>("Label28", QStringLiteral("Poten.")), 0, 0, 1, 3);
    m_setpoint = make<QLabel>("Label12", QStringLiteral("COURANT DE CHARGE = 0.00 A"));
    pg->addWidget(m_setpoint, 1, 0, 1, 3);
    const auto slider = [this](const char *name) {
        auto *s = make<QSlider>(name, Qt::Horizontal);
        s->setRange(0, 255);
        return s;
    };
    m_slider1 = slider("Slider1");
    m_slider2 = slider("Slider2");
    m_slider3 = slider("Slider3");
    pg->addWidget(m_slider1, 2, 0, 1, 3);
    QLabel *gainCaption = make<QLabel>("Label24", QStringLiteral("&GAIN DELTA"));
    gainCaption->setBuddy(m_slider2);
    pg->addWidget(gainCaption, 3, 0);
    pg->addWidget(m_slider2, 3, 1);
    m_gain = make<QLabel>("Label26", QStringLiteral("0"));
    pg->addWidget(m_gain, 3, 2);
    QLabel *offsetCaption = make<QLabel>("Label25", QStringLiteral("D&ECALAGE DELTA"));
    offsetCaption->setBuddy(m_slider3);
    pg->addWidget(offsetCaption, 4, 0);
    pg->addWidget(m_slider3, 4, 1);
    m_offset = make<QLabel>("Label27", QStringLiteral("0"));
    pg->addWidget(m_offset, 4, 2);
    pg->setColumnMinimumWidth(2, 32);
    // Label12 shows the setpoint as it moves: the slider's name is said apart.
    m_slider1->setAccessibleName(QStringLiteral("Courant de charge"));
    connect(m_slider1, &QSlider::valueChanged, this, &Chargeur::onSlider1);
    connect(m_slider2, &QSlider::valueChanged, this, &Chargeur::onSlider2);
    connect(m_slider3, &QSlider::valueChanged, this, &Chargeur::onSlider3);

    auto *middle = new QVBoxLayout;
    middle->addWidget(supplies);
    middle->addWidget(charge);
    middle->addWidget(pots);
    middle->addStretch();

    // Live charts of the run.
    m_chart = make<RunChart>("ChartBatterie", QStringLiteral("Batterie"), QStringLiteral("V"),
                             QStringLiteral("A"));
    m_curveVbat =
        m_chart->addCurve(QStringLiteral("V Batterie"), RunChart::Left, QColor(0x1f, 0x5f, 0xbf));
    m_curveI =
        m_chart->addCurve(QStringLiteral("I Charge"), RunChart::Right, QColor(0xc0, 0x30, 0x30));
    m_deltaChart = make<RunChart>("ChartDelta", QStringLiteral("Delta et température"),
                                  QStringLiteral("points"), QStringLiteral("°C"));
    m_curveDelta =
        m_deltaChart->addCurve(QStringLiteral("V Delta"), RunChart::Left, QColor(0x20, 0x90, 0x40));
    m_curvePeak =
        m_deltaChart->addCurve(QStringLiteral("Pic"), RunChart::Left, QColor(0x90, 0x90, 0x90));
    m_curveTemp = m_deltaChart->addCurve(QStringLiteral("Température"), RunChart::Right,
                                         QColor(0xd0, 0x80, 0x10));
    auto *charts = new QVBoxLayout;
    charts->addWidget(m_chart, 1);
    charts->addWidget(m_deltaChart, 1);

    auto *top = new QHBoxLayout;
    top->addWidget(left);
    top->addLayout(middle);
    top->addLayout(charts, 1);
    auto *outer = new QVBoxLayout(this);
    outer->addLayout(top, 1);
    outer->addWidget(m_logLabel);
    resize(1100, 640);
    // Tab as the window reads: the mode above the buttons, then the sliders and charts.
    setTabChain({m_modeText, m_start, m_stop, m_quit, m_slider1, m_slider2, m_slider3, m_chart,
                 m_deltaChart});

    // Window load.
    setCheck(DvdtBox::Clear);
    m_runActive = false; // idle flag set
    setState(QStringLiteral("Prêt"));
}

void Chargeur::setCheck(DvdtBox b) {
    m_check->setCheckState(b == DvdtBox::Ticked   ? Qt::Checked
                           : b == DvdtBox::Grayed ? Qt::PartiallyChecked
                                                  : Qt::Unchecked);
}

// ---------------------------------------------------------------- sliders

void Chargeur::onSlider1(int v) {
    m_setpoint->setText(setpointText(
        kSetpointPrefix, v, charger::value(session().tableB(), charger::slave::kPotCharge)));
    m_charge->resetPeak(); // a new current moves the delta voltage: its peak starts again
    gate().request(KeySlider1, [this, v] { setOut(CMD_POT_ICHRG, quint8(v)); });
}

void Chargeur::onSlider2(int v) {
    if (!isIdle()) return;
    gate().request(KeySlider2, [this, v] {
        if (!isIdle() || !setOut(CMD_POT_VDELTA, quint8(v))) return;
        m_gain->setText(numText(v));
        idlePoll();
    });
}

void Chargeur::onSlider3(int v) {
    if (!isIdle()) return;
    gate().request(KeySlider3, [this, v] {
        if (!isIdle() || !setOut(CMD_POT_OFFSET, quint8(v))) return;
        m_offset->setText(numText(v));
        idlePoll();
    });
}

// ---------------------------------------------------------------- start and stop

void Chargeur::start() {
    if (m_runActive || isClosing()) return;
    const auto mode = parseModeText(m_modeText->text());
    if (!mode) {
        errorBox(this, QStringLiteral("MODE doit être un nombre de 0 à 255"));
        return;
    }
    gate().request(KeyStart, [this, m = *mode] {
        if (m_runActive) return;
        m_charge->reset();
        m_charge->setMode(m);
        // The current the slider shows is the one that flows, whatever was set before.
        m_charge->setSetting(m_slider1->value());
        m_chart->clear();
        m_deltaChart->clear();
        startRun(QStringLiteral("CHARGE"));
    });
}

// ---------------------------------------------------------------- polls

bool Chargeur::pollStep() {
    if (isIdle())
        idlePoll();
    else if (m_polling)
        poll();
    else
        return false;
    return true;
}

RunInfo Chargeur::runInfo() const {
    RunInfo info = ModeWindow::runInfo();
    info.setpoint = setpointShown(m_slider1->value(),
                                  charger::value(session().tableB(), charger::slave::kPotCharge));
    return info;
}

void Chargeur::idlePoll() {
    serialio::ExchangeGate::Exchange x(gate());
    PollSteps st = steps();
    const RunSample s = idleDeltaPoll(st);
    if (s.vdelta) {
        m_charge->takeIdleDelta(*s.vdelta);
        m_vdeltaCount->setText(numText(*s.vdelta));
    }
    finished(s.end);
}

void Chargeur::poll() {
    serialio::ExchangeGate::Exchange x(gate());
    PollSteps st = steps();
    if (showSample(m_charge->poll(st))) plot();
}

bool Chargeur::showSample(const PollOutcome &o) {
    const RunSample &s = o.sample;
    showHead(s);
    if (s.current) showCurrent(m_ichrgCount, m_ichrgValue);
    if (s.vbat) {
        m_vbatCount->setText(numText(m_charge->vbatCount()));
        if (o.block) showBlock();
    }
    if (s.vdelta) {
        m_vdeltaCount->setText(numText(m_charge->vdeltaCount()));
        m_peakValue->setText(numText(m_charge->deltaPeak().peak()));
    }
    return pollDone(o);
}

void Chargeur::showBlock() {
    const ChargeDetector &d = m_charge->detector();
    setValueLabel(m_vbatValue, m_charge->vbat().value, QStringLiteral("V"));
    m_rise->setText(numText(d.rise()));
    m_average->setText(QStringLiteral("Avrg") + numText(d.average().value_or(0)));
    setCheck(d.box());
}

void Chargeur::plot() {
    const double t = double(m_charge->duree());
    m_chart->append(m_curveVbat, t, m_charge->vbat().value);
    m_chart->append(m_curveI, t, m_charge->current().value);
    m_deltaChart->append(m_curveDelta, t, double(m_charge->vdeltaCount()));
    m_deltaChart->append(m_curvePeak, t, double(m_charge->deltaPeak().peak()));
    m_deltaChart->append(m_curveTemp, t, m_charge->supplyValue(2).value);
}

} // namespace modes
