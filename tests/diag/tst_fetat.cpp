// The state panel: its conversions and captions, the refresh against the in-process virtual
// charger, the output buttons' arguments and colours, the booster's bytes, the serial
// time-out, and leaving with the paths it switched on.
#include "diag/fetat.h"
#include "diag/register.h"
#include "modes/bench.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QtTest>

using namespace diag;
using chlink::Cmd;

namespace {
QString text(QWidget *w, const char *name) {
    return w->findChild<QLabel *>(QLatin1String(name))->text();
}
QColor colour(QWidget *w, const char *name) {
    return w->findChild<QLabel *>(QLatin1String(name))->palette().color(QPalette::Window);
}
const QColor kGreen(0, 255, 0), kRed(255, 0, 0);

// Runs action once, on the event loop, when the charger has received `command`.
void when(ScriptedCharger *fake, QObject *ctx, const QString &command,
          std::function<void()> action) {
    fake->onCommand = [=, done = false](const QString &cmd) mutable {
        if (done || cmd != command) return;
        done = true;
        QTimer::singleShot(0, ctx, action);
    };
}
const QStringList kRefresh = {"5",  "6",  "7",  "8",  "9",  "10", "11",
                              "12", "13", "28", "31", "41", "31", "26"};
} // namespace

class TestFEtat : public QObject {
    Q_OBJECT
  private slots:
    void conversions_data();
    void conversions();
    void captions_data();
    void captions();
    void openingAndRefresh();
    void outputButtons_data();
    void outputButtons();
    void doublerAndPwm_data();
    void doublerAndPwm();
    void potentiometers();
    void clickDuringRefreshWaitsItsTurn();
    void autoRefresh();
    void timeoutClosesThePanel_data();
    void timeoutClosesThePanel();
    void leavingSwitchesOffWhatItLeftOn_data();
    void leavingSwitchesOffWhatItLeftOn();
};

// ---------------------------------------------------------------- logic

void TestFEtat::conversions_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("raw");
    QTest::addColumn<int>("word"); // the channel's calibration word (temperature: the slope)
    QTest::addColumn<QString>("expected"); // empty: no conversion, the label keeps its caption
    QTest::newRow("supply 512 / 800") << 6 << 512 << 800 << " 6.55V";
    QTest::newRow("doubler") << 7 << 1000 << 1024 << " 10V";
    QTest::newRow("supply uncalibrated") << 6 << 512 << 0 << "";
    QTest::newRow("charge current") << 10 << 150 << 1024 << " 1.5A";
    QTest::newRow("discharge current below one") << 11 << 56 << 1024 << " .56A";
    QTest::newRow("battery, high byte above 127") << 13 << 40000 << 1024 << " 400V";
    QTest::newRow("battery uncalibrated") << 13 << 700 << 0 << "";
    QTest::newRow("temperature at the offset is the base") << 5 << 600 << 1024 << " 20";
    QTest::newRow("temperature below the base rounds down") << 5 << 605 << 2048 << " 17";
    QTest::newRow("temperature uncalibrated") << 5 << 605 << 0 << "";
    QTest::newRow("polarity 99 reversed") << 8 << 99 << 0 << "inv";
    QTest::newRow("polarity 100 normal") << 8 << 100 << 0 << "norm";
    QTest::newRow("pack temperature has none") << 9 << 300 << 1024 << "";
    QTest::newRow("delta has none") << 12 << 300 << 1024 << "";
}

void TestFEtat::conversions() {
    QFETCH(int, command);
    QFETCH(int, raw);
    QFETCH(int, word);
    QFETCH(QString, expected);
    using namespace charger;
    QByteArray a(257, 0), b(257, 0);
    setValue(a, master::kTempOffset, 600);
    setValue(a, master::kBatCutoffTemp, 20);
    for (const Param &p : {master::kTempSlope, master::kSupplyDivisor, master::kDoublerDivisor})
        setValue(a, p, word);
    for (const Param &p : {slave::kChargeDivisor, slave::kDischargeDivisor, slave::kBatteryDivisor})
        setValue(b, p, word);
    const auto v = convertedText(Cmd(command), raw, a, b);
    QCOMPARE(v.value_or(QString()), expected);
    QCOMPARE(v.has_value(), !expected.isEmpty());
}

void TestFEtat::captions_data() {
    QTest::addColumn<QString>("got");
    QTest::addColumn<QString>("expected");
    QTest::newRow("clock: two blanks after each comma")
        << panelClockText(9, 5, 0) << " 9 ,  5 ,  0";
    QTest::newRow("pot with coefficient") << potText(150, 100) << " 150 <=>  1.5";
    QTest::newRow("pot amperes round down") << potText(100, 30) << " 100 <=>  3.33";
    QTest::newRow("pot without coefficient") << potText(77, 0) << " 77";
    QTest::newRow("max duty at 255") << maxDutyText(255) << "MAX :  1020";
}

void TestFEtat::captions() {
    QFETCH(QString, got);
    QFETCH(QString, expected);
    QCOMPARE(got, expected);
}

// ---------------------------------------------------------------- the window

void TestFEtat::openingAndRefresh() {
    Bench b;
    sim::VirtualCharger &m = b.useModel();
    m.outputs.fan = true;
    m.outputs.charge = true;
    m.pressButton(2, true);
    m.pressButton(6, true);
    FEtat w(b.host);
    w.opening();
    QCOMPARE(b.fake->take(), QStringList{"0"} + kRefresh);
    QCOMPARE(w.windowTitle(), QStringLiteral("Panneaau de contrôle"));
    for (const PanelChannel &c : panelChannels())
        QVERIFY2(text(&w, c.rawLabel).startsWith(' '), c.rawLabel); // every count shown
    QVERIFY(text(&w, "LbVbatin").endsWith('V'));
    QCOMPARE(text(&w, "LBVinv"), QStringLiteral("norm"));
    QCOMPARE(text(&w, "LBtempbat"), QStringLiteral("Futur"));
    QCOMPARE(text(&w, "LbVdelta"), QStringLiteral("Invald"));
    QVERIFY(text(&w, "Label28").contains(" ,  "));
    QCOMPARE(colour(&w, "Label19"), kRed);   // fan on
    QCOMPARE(colour(&w, "Label17"), kGreen); // LED off
    QCOMPARE(colour(&w, "Label18"), kRed);   // doubler cut at power-on
    QCOMPARE(colour(&w, "Label21"), kGreen); // charge path not cut
    QCOMPARE(colour(&w, "Label20"), kRed);   // discharge path cut
    QCOMPARE(colour(&w, "Label23"), kGreen); // SW1 released
    QCOMPARE(colour(&w, "Label25"), kRed);   // SW2 pressed
    QCOMPARE(colour(&w, "Label11"), kRed);   // SW6 pressed
    QCOMPARE(w.outputState(Output::Fan), 1);
    QCOMPARE(w.outputState(Output::CutCharge), 0);
    QVERIFY(!w.refreshTimer()->isActive()); // manual until "Mise à jour continue"
    QCOMPARE(text(&w, "Label1"), QStringLiteral("Auto =  off"));
    QVERIFY(b.boxes.isEmpty());
}

void TestFEtat::outputButtons_data() {
    QTest::addColumn<int>("output");
    QTest::addColumn<bool>("refreshFirst");
    QTest::addColumn<bool>("on"); // the charger's output or path on before the refresh
    QTest::addColumn<QString>("first");
    QTest::addColumn<QColor>("firstColour");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QColor>("secondColour");
    QTest::newRow("charge cut from a fresh panel")
        << int(Output::CutCharge) << false << false << "15,0" << kRed << "15,1" << kGreen;
    QTest::newRow("charge cut reported clear")
        << int(Output::CutCharge) << true << true << "15,0" << kRed << "15,1" << kGreen;
    QTest::newRow("charge cut reported set")
        << int(Output::CutCharge) << true << false << "15,1" << kGreen << "15,0" << kRed;
    QTest::newRow("power cut reported set")
        << int(Output::CutPower) << true << false << "17,1" << kGreen << "17,0" << kRed;
    QTest::newRow("fan reported on")
        << int(Output::Fan) << true << true << "25,0" << kGreen << "25,1" << kRed;
    QTest::newRow("fan from a fresh panel")
        << int(Output::Fan) << false << false << "25,1" << kRed << "25,0" << kGreen;
    QTest::newRow("LED reported on")
        << int(Output::Led) << true << true << "23,0" << kGreen << "23,1" << kRed;
    QTest::newRow("ground is never refreshed")
        << int(Output::Ground) << true << true << "18,0" << kGreen << "18,1" << kRed;
}

void TestFEtat::outputButtons() {
    QFETCH(int, output);
    QFETCH(bool, refreshFirst);
    QFETCH(bool, on);
    QFETCH(QString, first);
    QFETCH(QColor, firstColour);
    QFETCH(QString, second);
    QFETCH(QColor, secondColour);
    Bench b;
    sim::VirtualCharger &m = b.useModel();
    m.outputs.charge = m.outputs.power = m.outputs.fan = m.outputs.led = on;
    FEtat w(b.host);
    if (refreshFirst) w.opening();
    b.fake->take();
    const Output o = Output(output);
    const char *lamp = outputDef(o).indicator;
    w.findChild<QPushButton *>(QLatin1String(outputDef(o).button))->click();
    QCOMPARE(b.fake->take(), QStringList{first});
    QCOMPARE(colour(&w, lamp), firstColour);
    w.clickOutput(o);
    QCOMPARE(b.fake->take(), QStringList{second});
    QCOMPARE(colour(&w, lamp), secondColour);
    QVERIFY(b.boxes.isEmpty());
}

void TestFEtat::doublerAndPwm_data() {
    QTest::addColumn<bool>("booster");
    QTest::addColumn<QStringList>("steps"); // "click", "freq N", "delta N"
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray esc(1, char(27));
    QTest::newRow("twice without booster: 0 then 1")
        << false << QStringList{"click", "click"}
        << esc + QByteArray("\x33\x00", 2) + esc + QByteArray("\x33\x01", 2);
    QTest::newRow("a PWM move between two clicks repeats 0")
        << true << QStringList{"click", "freq 200", "click"}
        << esc + QByteArray("\x33\x00\x00\x00\x00", 5) + esc +
               QByteArray("\x33\x00\xc8\x00\x00", 5) + esc + QByteArray("\x33\x01\xc8\x00\x00", 5);
    QTest::newRow("a PWM move before the first click sends 1")
        << true << QStringList{"delta 300"} << esc + QByteArray("\x33\x01\x00\x01\x2c", 5);
    QTest::newRow("BOOSTER sends frequency and delta")
        << true << QStringList{"freq 100", "delta 1023", "click"}
        << esc + QByteArray("\x33\x01\x64\x00\x00", 5) + esc +
               QByteArray("\x33\x01\x64\x03\xff", 5) + esc + QByteArray("\x33\x00\x64\x03\xff", 5);
}

void TestFEtat::doublerAndPwm() {
    QFETCH(bool, booster);
    QFETCH(QStringList, steps);
    QFETCH(QByteArray, bytes);
    Bench b;
    FEtat w(b.host);
    w.findChild<QCheckBox *>("Check1")->setChecked(booster);
    auto *button = w.findChild<QPushButton *>("CbCutDBl");
    QCOMPARE(button->text(), booster ? QStringLiteral("BOOSTER") : QStringLiteral("CUT VDBL"));
    QCOMPARE(w.findChild<QSlider *>("SliderPWMFreq")->isVisibleTo(&w), booster);
    b.fake->written.clear();
    for (const QString &s : steps) {
        const QStringList p = s.split(' ');
        if (p[0] == "click") button->click();
        if (p[0] == "freq") w.findChild<QSlider *>("SliderPWMFreq")->setValue(p[1].toInt());
        if (p[0] == "delta") w.findChild<QSlider *>("SliderPWMDelta")->setValue(p[1].toInt());
    }
    QCOMPARE(b.fake->written, bytes);
    if (steps.contains("freq 200")) QCOMPARE(text(&w, "Label12"), QStringLiteral("MAX :  800"));
}

void TestFEtat::potentiometers() {
    Bench b; // coefficients 100 (charge) and 50 (discharge)
    FEtat w(b.host);
    const struct {
        const char *slider, *box;
        int v;
        const char *command, *shown;
    } rows[] = {
        {"Slider1", "TxIch", 150, "19,150", " 150 <=>  1.5"},
        {"Slider2", "TxIdech", 75, "20,75", " 75 <=>  1.5"},
        {"Slider3", "TxVdelta", 40, "21,40", " 40"},
        {"Slider4", "TxVdecal", 0, "22,0", " 0"},
    };
    for (const auto &r : rows) {
        auto *s = w.findChild<QSlider *>(QLatin1String(r.slider));
        QCOMPARE(w.findChild<QLineEdit *>(QLatin1String(r.box))->text(), QStringLiteral("000"));
        s->setValue(r.v == 0 ? 1 : r.v);
        if (r.v == 0) {
            b.fake->take();
            s->setValue(0);
        }
        QCOMPARE(b.fake->take(), QStringList{r.command});
        QCOMPARE(w.findChild<QLineEdit *>(QLatin1String(r.box))->text(), QLatin1String(r.shown));
    }
    w.beep();
    QCOMPARE(b.fake->take(), QStringList{"24,10"});
}

void TestFEtat::clickDuringRefreshWaitsItsTurn() {
    Bench b;
    b.useModel();
    FEtat w(b.host);
    w.opening();
    b.fake->take();
    // "LED" and "Mise à jour" clicked in the middle of a refresh: the LED goes after it, and
    // the refresh asked for meanwhile after that.
    when(b.fake, &w, "10", [&] {
        QVERIFY(w.isBusy());
        w.clickOutput(Output::Led);
        w.manualRefresh();
        QCOMPARE(b.fake->commands.last(), QStringLiteral("10"));
    });
    w.stRefresh();
    QTRY_VERIFY(!w.isBusy() && b.fake->commands.size() >= 2 * kRefresh.size() + 1);
    QCOMPARE(b.fake->take(), kRefresh + QStringList{"23,1"} + kRefresh);
    QCOMPARE(colour(&w, "Label17"), kRed);
    QCOMPARE(b.model->outputs.led, true);
}

void TestFEtat::autoRefresh() {
    Bench b;
    b.useModel();
    FEtat w(b.host);
    w.opening();
    auto *autoButton = w.findChild<QPushButton *>("CBAUTO");
    autoButton->click();
    QCOMPARE(text(&w, "Label1"), QStringLiteral("Auto = on"));
    QVERIFY(w.refreshTimer()->isActive());
    QCOMPARE(w.refreshTimer()->interval(), 1000);
    QCOMPARE(w.refreshTimer()->objectName(), QStringLiteral("TmrEtat"));
    // A button's exchange suspends the timer and re-arms it after.
    w.clickOutput(Output::Fan);
    QVERIFY(w.refreshTimer()->isActive());
    b.fake->take();
    QTRY_VERIFY_WITH_TIMEOUT(b.fake->commands.size() >= kRefresh.size() && !w.isBusy(), 3000);
    QCOMPARE(b.fake->take(), kRefresh);
    autoButton->click();
    QCOMPARE(text(&w, "Label1"), QStringLiteral("Auto = off"));
    QVERIFY(!w.refreshTimer()->isActive());
}

void TestFEtat::timeoutClosesThePanel_data() {
    QTest::addColumn<QString>("silentAfter");
    QTest::addColumn<bool>("atOpening");
    QTest::newRow("silent from command 0") << "0" << true;
    QTest::newRow("silent in the middle of a refresh") << "10" << false;
    QTest::newRow("silent to an output") << "25,1" << false;
}

void TestFEtat::timeoutClosesThePanel() {
    QFETCH(QString, silentAfter);
    QFETCH(bool, atOpening);
    Bench b;
    b.useModel();
    diag::registerWindows(*b.registry);
    QPointer<FEtat> w = qobject_cast<FEtat *>(b.registry->open(QStringLiteral("FEtat"), &b.main));
    QVERIFY(w);
    QVERIFY(!b.main.isVisible());
    if (!atOpening) QTRY_VERIFY(b.fake->commands.contains("26") && !w->isBusy());
    // The charger goes silent once it has heard `silentAfter`; the AbortTimer's tick then
    // ends the wait (the timer itself would take its 10 s).
    bool ticked = false;
    b.fake->onCommand = [&](const QString &cmd) {
        if (cmd != silentAfter || b.fake->mute) return;
        b.fake->mute = true;
        QTimer::singleShot(50, w, [&] {
            QVERIFY(w->abortTimer()->isActive());
            QCOMPARE(w->abortTimer()->interval(), 10000);
            ticked = true;
            w->abortTimerTick();
        });
    };
    const qsizetype before = b.fake->commands.size();
    if (silentAfter == "10") w->stRefresh();
    if (silentAfter == "25,1") w->clickOutput(Output::Fan);
    QTRY_VERIFY(ticked);
    QTRY_VERIFY(w.isNull());
    QCOMPARE(b.boxes.size(), 1);
    QVERIFY(b.boxes[0].endsWith(QStringLiteral("Time out sur interface Serie")));
    // Nothing more was sent for the exchange after the silence.
    QCOMPARE(b.fake->commands.last(), silentAfter);
    QVERIFY(b.fake->commands.size() > before || atOpening);
    QVERIFY(b.main.isVisible());
}

void TestFEtat::leavingSwitchesOffWhatItLeftOn_data() {
    QTest::addColumn<bool>("midRefresh");
    QTest::newRow("idle") << false;
    QTest::newRow("in the middle of a refresh") << true;
}

void TestFEtat::leavingSwitchesOffWhatItLeftOn() {
    QFETCH(bool, midRefresh);
    Bench b;
    sim::VirtualCharger &m = b.useModel();
    diag::registerWindows(*b.registry);
    QPointer<FEtat> w = qobject_cast<FEtat *>(b.registry->open(QStringLiteral("FEtat"), &b.main));
    QTRY_VERIFY(b.fake->commands.contains("26") && !w->isBusy());
    // Charge and power paths on, the battery ground lifted, the fan on, continuous refresh.
    for (Output o : {Output::CutCharge, Output::CutPower, Output::Ground, Output::Fan})
        w->clickOutput(o);
    QVERIFY(m.outputs.charge && m.outputs.power && !m.outputs.ground && m.outputs.fan);
    w->findChild<QPushButton *>("CBAUTO")->click();
    b.fake->take();
    if (midRefresh) {
        when(b.fake, w, "10", [&] { w->findChild<QPushButton *>("CBfermeretat")->click(); });
        w->stRefresh();
        QVERIFY(w); // not deleted inside its own wait
    } else {
        w->findChild<QPushButton *>("CBfermeretat")->click();
    }
    QTRY_VERIFY(w.isNull());
    const QStringList sent = b.fake->take();
    const QStringList off = {"15,0", "17,0", "18,1"};
    QCOMPARE(sent.mid(sent.size() - 3), off);
    if (midRefresh)
        QCOMPARE(sent.first(sent.size() - 3), (QStringList{"5", "6", "7", "8", "9", "10"}));
    QVERIFY(b.fake->outputsStopped());
    QVERIFY(m.outputs.fan); // not a path: left as the user set it
    QVERIFY(b.main.isVisible());
    QCOMPARE(b.link->reconnectOnActivate, 0);
    // No refresh tick comes after the panel has gone.
    QTest::qWait(1200);
    QVERIFY(b.fake->commands.isEmpty());
    QVERIFY(b.boxes.isEmpty());
}

QTEST_MAIN(TestFEtat)
#include "tst_fetat.moc"
