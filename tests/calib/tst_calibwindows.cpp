// The calibration selector and the scale and current windows against the scripted charger:
// the selector's closing rules, the bytes each window sends at opening, at SET and as it
// goes, what it refuses to store, its time-out, and the measurement timer held off while
// another exchange waits.
#include "../modes/bench.h"
#include "calib/caliblogic.h"
#include "calib/calibwindow.h"
#include "calib/cellwindows.h"
#include "calib/currentwindows.h"
#include "calib/paramwindows.h"
#include "calib/register.h"
#include "calib/reglage.h"
#include "calib/scalewindows.h"
#include "link/numtext.h"
#include "serial/polltimer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QtTest>

using calib::CalibWindow;

namespace {
// A bench with the calibration windows registered, the selector open from the main window.
struct CalibBench : Bench {
    QPointer<calib::Reglage> selector;
    QList<QPointer<QWidget>> windows;
    CalibBench() {
        calib::registerWindows(*registry);
        QObject::connect(registry.get(), &winkit::WindowRegistry::opened,
                         [this](const QString &, winkit::ChargerWindow *w) { windows << w; });
        selector = qobject_cast<calib::Reglage *>(registry->open("Reglage", &main));
    }
    // No window outlives the link it talks through.
    ~CalibBench() {
        registry->closeAll();
        for (const QPointer<QWidget> &w : windows)
            delete w.data();
    }
    // Opens a calibration window from the selector and waits for its opening exchange.
    template <class W = CalibWindow> W *open(const QString &id) {
        const int index = int(calib::Reglage::entryWindows().indexOf(id));
        selector->choose(index);
        auto *w = qobject_cast<W *>(registry->openWindow(id));
        if (w && !QTest::qWaitFor([w] { return w->isOpened(); }, 3000)) return nullptr;
        return w;
    }
    QStringList sentWith(const QString &prefix) const {
        QStringList out;
        for (const QString &c : fake->commands)
            if (c.startsWith(prefix)) out << c;
        return out;
    }
};

void type(QWidget *w, const char *name, const QString &text) {
    w->findChild<QLineEdit *>(QLatin1String(name))->setText(text);
}
QString boxText(QWidget *w, const char *name) {
    return w->findChild<QLineEdit *>(QLatin1String(name))->text();
}
} // namespace

class TestCalibWindows : public QObject {
    Q_OBJECT
  private slots:
    void selectorClosesManagedWindows_data();
    void selectorClosesManagedWindows();
    void selectorLeaving_data();
    void selectorLeaving();
    void openingAndLeavingOutputs_data();
    void openingAndLeavingOutputs();
    void voutSet_data();
    void voutSet();
    void vfiltrageSet_data();
    void vfiltrageSet();
    void currentSet_data();
    void currentSet();
    void currentSlider();
    void measurementTimeoutSaidOnce();
    void timerHeldDuringSet();
    void leavingDuringSet();
    void temper_data();
    void temper();
    void reglageauto_data();
    void reglageauto();
    void cellCapture_data();
    void cellCapture();
    void lithiumCoefficients();
    void cellPots();
    void pictures();
};

void TestCalibWindows::selectorClosesManagedWindows_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("firstStays");
    QTest::addColumn<bool>("secondOpens");
    QTest::newRow("battery, then charge current") << "Vout"
                                                  << "Rcourant" << true << false << true;
    QTest::newRow("supplies, then battery") << "Vfiltrage"
                                            << "Vout" << true << false << true;
    QTest::newRow("discharge current stays") << "RglDech"
                                             << "Vout" << true << true << true;
    QTest::newRow("no connection: closed all the same") << "Rcourant"
                                                        << "Vout" << false << false << false;
    QTest::newRow("no connection: discharge current stays")
        << "RglDech"
        << "Vfiltrage" << false << true << false;
}

void TestCalibWindows::selectorClosesManagedWindows() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, connected);
    QFETCH(bool, firstStays);
    QFETCH(bool, secondOpens);
    CalibBench b;
    QVERIFY(b.selector);
    QVERIFY(!b.main.isVisible());
    QVERIFY(b.open(first));
    b.link->connectionFlag = connected ? 1 : 0;
    b.boxes.clear();
    b.selector->choose(int(calib::Reglage::entryWindows().indexOf(second)));
    QCOMPARE(b.registry->openWindow(first) != nullptr, firstStays);
    QCOMPARE(b.registry->openWindow(second) != nullptr, secondOpens);
    QCOMPARE(b.boxes, connected ? QStringList() : QStringList{"Pas de connection avec chargeur"});
    QVERIFY(b.selector->isVisible());
}

void TestCalibWindows::selectorLeaving_data() {
    QTest::addColumn<bool>("viaRetour");
    QTest::newRow("Retour") << true;
    QTest::newRow("frame") << false;
}

// Retour clears the reconnect flag, the frame leaves it; both bring the main window back
// and close the managed windows, the discharge-current window excepted, whose outputs go off
// only when it goes itself.
void TestCalibWindows::selectorLeaving() {
    QFETCH(bool, viaRetour);
    CalibBench b;
    QPointer<CalibWindow> dech = b.open("RglDech");
    QPointer<CalibWindow> vout = b.open("Vout");
    QVERIFY(vout && dech);
    b.fake->take();
    if (viaRetour)
        b.selector->findChild<QPushButton *>("Rquitter")->click();
    else
        b.selector->close();
    QVERIFY(b.main.isVisible());
    QCOMPARE(b.link->reconnectOnActivate, viaRetour ? 0 : 1);
    QTRY_VERIFY(!b.selector);
    QTRY_VERIFY(!vout);
    QVERIFY(dech && dech->isVisible());
    b.fake->outputs[chlink::CMD_CUT_DISCHARGE] = 1;
    dech->close();
    QCOMPARE(b.fake->outputs.value(chlink::CMD_CUT_DISCHARGE), 0);
}

void TestCalibWindows::openingAndLeavingOutputs_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<QStringList>("opening");
    QTest::addColumn<QStringList>("leaving");
    QTest::addColumn<QString>("quit");
    QTest::newRow("battery") << "Vout" << QStringList{"17,0", "16,1", "15,1", "18,1"}
                             << QStringList{"17,0", "16,0", "15,0", "18,0"} << "CBQvout";
    QTest::newRow("charge current")
        << "Rcourant" << QStringList{"15,1", "17,1"} << QStringList{"15,0", "17,0"} << "Courquit";
    QTest::newRow("discharge current")
        << "RglDech" << QStringList{"17,0", "16,1", "18,1"} << QStringList{"16,0"} << "Btquit";
    QTest::newRow("supplies") << "Vfiltrage" << QStringList{} << QStringList{} << "CBQuit";
    for (const char *id : {"RegLIPO", "RegPB"})
        QTest::newRow(id) << id << QStringList{"17,0", "16,1", "15,0", "18,1"}
                          << QStringList{"17,0", "16,0", "15,0", "18,0"} << "BtnRetour";
}

// The opening puts the outputs in the measuring state before the first measurement; the
// return button and the frame both switch every path that was switched on off again.
void TestCalibWindows::openingAndLeavingOutputs() {
    QFETCH(QString, id);
    QFETCH(QStringList, opening);
    QFETCH(QStringList, leaving);
    QFETCH(QString, quit);
    for (bool byFrame : {false, true}) {
        CalibBench b;
        b.fake->take();
        QPointer<CalibWindow> w = b.open(id);
        QVERIFY(w);
        QCOMPARE(b.fake->commands.mid(0, opening.size()), opening);
        QTRY_VERIFY(b.fake->commands.size() > opening.size()); // measuring
        QVERIFY(w->measureTimer());
        w->measureTimer()->stop();
        b.fake->take();
        if (byFrame)
            w->close();
        else
            w->findChild<QPushButton *>(quit)->click();
        QCOMPARE(b.fake->take(), leaving);
        QVERIFY(b.fake->outputs.value(chlink::CMD_CUT_CHARGE) == 0);
        QVERIFY(b.fake->outputs.value(chlink::CMD_CUT_DISCHARGE) == 0);
        QVERIFY(b.fake->outputs.value(chlink::CMD_CUT_POWER) == 0);
        QTRY_VERIFY(!w);
        QVERIFY(b.selector && b.selector->isVisible());
    }
}

void TestCalibWindows::voutSet_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QString>("box");
    QTest::newRow("600 at 12 V") << 600 << "1200"
                                 << " 512" << QStringList{"40,6,2", "40,7,0"} << "";
    QTest::newRow("no reading") << 0 << "1200"
                                << " 0" << QStringList{} << "data 0";
    QTest::newRow("no entry") << 600 << "0000"
                              << "" << QStringList{} << "Entrez";
    QTest::newRow("scale above 65535") << 1000 << "10"
                                       << " 102400" << QStringList{} << "Valeur EEprom = 102400";
}

void TestCalibWindows::voutSet() {
    QFETCH(int, count);
    QFETCH(QString, entry);
    QFETCH(QString, shown);
    QFETCH(QStringList, writes);
    QFETCH(QString, box);
    CalibBench b;
    b.fake->counts[chlink::CMD_READ_VBAT] = {count};
    charger::setWord(b.link->tableB, 6, 777);
    auto *w = b.open<calib::Vout>("Vout");
    QVERIFY(w);
    w->measureTick();
    QCOMPARE(w->reading(), count);
    QCOMPARE(boxText(w, "RegvText1"), QStringLiteral("Valeur mesuree : ") + chlink::numText(count));
    type(w, "RegVText2", entry);
    if (count) QCOMPARE(boxText(w, "voutepr"), shown);
    b.boxes.clear();
    w->set();
    QTRY_COMPARE(b.sentWith("40,"), writes);
    if (box.isEmpty()) {
        QVERIFY(b.boxes.isEmpty());
        QCOMPARE(charger::word(b.link->tableB, 6), 512);
    } else {
        QCOMPARE(b.boxes.size(), 1);
        QVERIFY2(b.boxes.first().startsWith(box), qPrintable(b.boxes.first()));
        QCOMPARE(charger::word(b.link->tableB, 6), 777); // table B as it was
    }
}

void TestCalibWindows::vfiltrageSet_data() {
    QTest::addColumn<QString>("valim");
    QTest::addColumn<QString>("vdbl");
    QTest::addColumn<QString>("alimBox"); // after typing; set before SET when "=..."
    QTest::addColumn<QString>("dblBox");
    QTest::addColumn<QStringList>("writes");
    QTest::newRow("supply 15 V") << "1500"
                                 << ""
                                 << " 477"
                                 << "0" << QStringList{"39,9,1", "39,10,221"};
    QTest::newRow("doubler typed only") << ""
                                        << ""
                                        << "=0"
                                        << "=300" << QStringList{"39,11,1", "39,12,44"};
    QTest::newRow("both") << "1500"
                          << "2800"
                          << " 477"
                          << " 512" << QStringList{"39,9,1", "39,10,221", "39,11,2", "39,12,0"};
    QTest::newRow("one does not fit: nothing written") << "1500"
                                                       << ""
                                                       << " 477"
                                                       << "=70000" << QStringList{};
}

void TestCalibWindows::vfiltrageSet() {
    QFETCH(QString, valim);
    QFETCH(QString, vdbl);
    QFETCH(QString, alimBox);
    QFETCH(QString, dblBox);
    QFETCH(QStringList, writes);
    CalibBench b;
    b.fake->counts[chlink::CMD_READ_VALIM] = {700};
    b.fake->counts[chlink::CMD_READ_VDBL] = {1400};
    auto *w = b.open<calib::Vfiltrage>("Vfiltrage");
    QVERIFY(w);
    w->measureTick();
    QCOMPARE(boxText(w, "TxCad"), QStringLiteral("CAD ALIM =  700 - CAD DOUBLEUR =  1400"));
    type(w, "TxValim", valim);
    type(w, "TxVdbl", vdbl);
    for (auto [name, want] : {std::pair{"TxEEpAlim", alimBox}, std::pair{"TxEEpDblr", dblBox}}) {
        if (want.startsWith('='))
            type(w, name, want.mid(1));
        else
            QCOMPARE(boxText(w, name), want);
    }
    // Clearing an entry leaves its computed value.
    type(w, "TxVdbl", "");
    QCOMPARE(boxText(w, "TxEEpDblr"), dblBox.startsWith('=') ? dblBox.mid(1) : dblBox);
    b.boxes.clear();
    w->set();
    QTRY_COMPARE(b.sentWith("39,"), writes);
    QCOMPARE(b.boxes.isEmpty(), !writes.isEmpty());
    for (const QString &c : writes) { // table A follows what was written
        const QStringList f = c.split(',');
        QCOMPARE(quint8(b.link->tableA[f[1].toInt()]), quint8(f[2].toInt()));
    }
}

void TestCalibWindows::currentSet_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("pot");
    QTest::addColumn<QString>("cad");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QString>("box");
    QTest::newRow("charge 1 A") << "Rcourant"
                                << "50"
                                << "512"
                                << "100" << QStringList{"40,0,20", "40,1,122", "40,4,50"} << "";
    QTest::newRow("charge 3 A") << "Rcourant"
                                << "200"
                                << "512"
                                << "300" << QStringList{"40,0,6", "40,1,211", "40,4,66"} << "";
    QTest::newRow("discharge 1 A") << "RglDech"
                                   << "50"
                                   << "512"
                                   << "100" << QStringList{"40,2,20", "40,3,122", "40,5,50"} << "";
    QTest::newRow("charge without current") << "Rcourant"
                                            << "50"
                                            << "512"
                                            << "" << QStringList{} << "Valeurs à entrer à 0 ";
    QTest::newRow("discharge without pot") << "RglDech"
                                           << ""
                                           << "512"
                                           << "100" << QStringList{} << "Valeurs manquantes (à 0)";
    QTest::newRow("multiplier above 65535") << "Rcourant"
                                            << "50"
                                            << "1000"
                                            << "10" << QStringList{} << "MULT. = 102400";
    QTest::newRow("pot coefficient above 255") << "RglDech"
                                               << "200"
                                               << "512"
                                               << "50" << QStringList{} << "Coef POTENT = 400";
}

void TestCalibWindows::currentSet() {
    QFETCH(QString, id);
    QFETCH(QString, pot);
    QFETCH(QString, cad);
    QFETCH(QString, current);
    QFETCH(QStringList, writes);
    QFETCH(QString, box);
    CalibBench b;
    const QByteArray before = b.link->tableB;
    auto *w = b.open<calib::CurrentWindow>(id);
    QVERIFY(w);
    const bool charge = id == "Rcourant";
    type(w, charge ? "courtext3" : "Valpot", pot);
    type(w, charge ? "RegcText2" : "Vaclcad", cad);
    type(w, charge ? "courText4" : "courmes", current);
    b.boxes.clear();
    b.fake->deliver(QByteArray(1, 'x'), 1); // a stray byte, read before the first write
    w->set();
    QTRY_COMPARE(b.sentWith("40,"), writes);
    if (box.isEmpty()) {
        QVERIFY(b.boxes.isEmpty());
        // Table B follows what was written.
        for (const QString &c : writes) {
            const QStringList f = c.split(',');
            QCOMPARE(quint8(b.link->tableB[f[1].toInt()]), quint8(f[2].toInt()));
        }
        QTRY_COMPARE(b.link->pending(), 0);
    } else {
        QCOMPARE(b.boxes.size(), 1);
        QVERIFY2(b.boxes.first().startsWith(box), qPrintable(b.boxes.first()));
        QCOMPARE(b.link->tableB, before);
    }
}

void TestCalibWindows::currentSlider() {
    for (const QString id : {"Rcourant", "RglDech"}) {
        CalibBench b;
        auto *w = b.open(id);
        QVERIFY(w);
        b.fake->take();
        w->findChild<QSlider *>(id == "Rcourant" ? "Slcour" : "SlDech")->setValue(200);
        QCOMPARE(boxText(w, id == "Rcourant" ? "courtext3" : "Valpot"), QStringLiteral(" 200"));
        QTRY_VERIFY(b.sentWith(id == "Rcourant" ? "19," : "20,") ==
                    QStringList{id == "Rcourant" ? "19,200" : "20,200"});
    }
}

// A charger that stops answering: each measurement is dropped; one box until a measurement
// succeeds again.
void TestCalibWindows::measurementTimeoutSaidOnce() {
    CalibBench b;
    auto *w = b.open<calib::Vout>("Vout");
    QVERIFY(w);
    w->measureTimer()->stop();
    b.boxes.clear();
    b.fake->mute = true;
    w->measureTick();
    w->measureTick();
    QCOMPARE(b.boxes, QStringList{"Time out sur interface Serie"});
    b.fake->mute = false;
    b.fake->counts[chlink::CMD_READ_VBAT] = {640};
    w->measureTick();
    QCOMPARE(w->reading(), 640);
    b.fake->mute = true;
    w->measureTick();
    QCOMPARE(b.boxes.size(), 2);
}

// While SET waits for its acknowledgements, no measurement starts: none of its reads lands
// between the writes, even when the acknowledgements take longer than the timer's interval.
void TestCalibWindows::timerHeldDuringSet() {
    CalibBench b;
    b.fake->counts[chlink::CMD_READ_ICHRG] = {512};
    auto *w = b.open<calib::CurrentWindow>("Rcourant");
    QVERIFY(w);
    QTRY_VERIFY(w->reading() == 512);
    type(w, "courtext3", "50");
    type(w, "RegcText2", "512");
    type(w, "courText4", "100");
    b.link->setReplyTimeout(3000);
    b.fake->replyDelayMs = 400; // above the 300 ms interval
    bool timerRanDuringWrite = false;
    int inputHeldDuringWrite = 0, inputFreeDuringMeasure = 0;
    b.fake->onCommand = [&](const QString &c) {
        if (c.startsWith("40,") && w->measureTimer()->isActive()) timerRanDuringWrite = true;
        // Clicks wait while a measurement reads, not while SET waits for its answers.
        if (c.startsWith("40,") && b.link->userInputHeld()) ++inputHeldDuringWrite;
        if (c == "10" && !b.link->userInputHeld()) ++inputFreeDuringMeasure;
    };
    b.fake->take();
    w->set();
    QTRY_COMPARE(b.sentWith("40,").size(), 3);
    const QStringList all = b.fake->commands;
    const qsizetype first = all.indexOf("40,0,20");
    QCOMPARE(all.mid(first, 3), (QStringList{"40,0,20", "40,1,122", "40,4,50"}));
    QVERIFY(!timerRanDuringWrite);
    QCOMPARE(inputHeldDuringWrite, 0);
    QCOMPARE(inputFreeDuringMeasure, 0);
    QTRY_VERIFY(w->measureTimer()->isActive()); // back after the writes
}

// Closed while SET waits for an acknowledgement: the window is not deleted inside the wait,
// sends nothing more of SET, and its paths go off once the wait has ended.
void TestCalibWindows::leavingDuringSet() {
    CalibBench b;
    QPointer<calib::CurrentWindow> w = b.open<calib::CurrentWindow>("Rcourant");
    QVERIFY(w);
    type(w, "courtext3", "50");
    type(w, "RegcText2", "512");
    type(w, "courText4", "100");
    b.fake->replyDelayMs = 20;
    b.fake->onCommand = [&, done = false](const QString &c) mutable {
        if (done || c != "40,0,20") return;
        done = true;
        QTimer::singleShot(5, w, [w] { w->close(); });
    };
    b.fake->take();
    w->set();
    QTRY_VERIFY(!w);
    const QStringList sent = b.fake->take();
    QCOMPARE(sent.filter("40,"), QStringList{"40,0,20"});
    QCOMPARE(sent.mid(sent.size() - 2), (QStringList{"15,0", "17,0"}));
    QCOMPARE(b.fake->outputs.value(chlink::CMD_CUT_CHARGE), 0);
    QCOMPARE(b.fake->outputs.value(chlink::CMD_CUT_POWER), 0);
}

void TestCalibWindows::temper_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("writes"); // empty: refused
    const QStringList rest = {"39,0,4", "39,1,0", "39,8,20", "39,4,45", "39,5,60", "39,15,3"};
    QTest::newRow("offset 1000") << "RegtText1"
                                 << "1000" << (QStringList{"39,2,3", "39,3,232"} + rest);
    QTest::newRow("fraction floored") << "RegtText1"
                                      << "1000.7" << (QStringList{"39,2,3", "39,3,232"} + rest);
    QTest::newRow("word too large") << "RegtText1"
                                    << "65536" << QStringList{};
    QTest::newRow("byte too large") << "Text3"
                                    << "256" << QStringList{};
    QTest::newRow("negative byte") << "Text5"
                                   << "-1" << QStringList{};
}

// The six parameters as stored, shown at opening, and written back in their order with the
// typed change; a value that does not fit its width writes nothing.
void TestCalibWindows::temper() {
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(QStringList, writes);
    CalibBench b;
    sim::VirtualCharger &m = b.useModel();
    QByteArray &ee = m.eepromMaster;
    charger::setWord(ee, 0, 1024);
    charger::setWord(ee, 2, 40000); // above 32 767: shown whole
    ee[8] = char(20);
    ee[4] = char(45);
    ee[5] = char(60);
    ee[15] = char(3);
    auto *w = b.open<calib::Temper>("Temper");
    QVERIFY(w);
    QCOMPARE(boxText(w, "RegtText1"), QStringLiteral(" 40000"));
    QCOMPARE(boxText(w, "Text1"), QStringLiteral(" 1024"));
    QCOMPARE(boxText(w, "Text5"), QStringLiteral(" 3"));
    type(w, box.toLatin1(), typed);
    b.boxes.clear();
    b.fake->take();
    w->set();
    QTRY_COMPARE(b.sentWith("39,"), writes);
    QCOMPARE(b.boxes.size(), writes.isEmpty() ? 1 : 0);
    if (!writes.isEmpty()) QCOMPARE(charger::word(m.eepromMaster, 2), 1000);
}

void TestCalibWindows::reglageauto_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<int>("moved");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QStringList>("writes"); // empty: refused
    QTest::newRow("40 to 50") << 40 << 20 << 80 << 50 << "Variation du courant de charge =  1.25"
                              << QStringList{"39,13,50", "39,14,30"};
    QTest::newRow("200 clamped") << 200 << 63 << 254 << 254 << "Variation du courant de charge =  2"
                                 << QStringList{"39,13,254", "39,14,30"};
    QTest::newRow("41 down") << 41 << 20 << 82 << 20 << "Variation du courant de charge =  .48"
                             << QStringList{"39,13,20", "39,14,30"};
    QTest::newRow("0 stored") << 0 << 0 << 0 << 0 << "Ajustage du courant de charge"
                              << QStringList{};
}

void TestCalibWindows::reglageauto() {
    QFETCH(int, stored);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(int, moved);
    QFETCH(QString, label);
    QFETCH(QStringList, writes);
    CalibBench b;
    sim::VirtualCharger &m = b.useModel();
    m.eepromMaster[13] = char(stored);
    m.eepromMaster[14] = char(30);
    auto *w = b.open<calib::Reglageauto>("Reglageauto");
    QVERIFY(w);
    auto *slider = w->findChild<QSlider *>("RgAutoSliderChg");
    QCOMPARE(slider->minimum(), minimum);
    QCOMPARE(slider->maximum(), maximum);
    QCOMPARE(slider->value(), qMin(stored, 127));
    slider->setValue(moved);
    QCOMPARE(w->findChild<QLabel *>("RgAutoLabel1")->text(), label);
    b.boxes.clear();
    b.fake->take();
    w->set();
    QTRY_COMPARE(b.sentWith("39,"), writes);
    QCOMPARE(b.boxes.size(), writes.isEmpty() ? 1 : 0);
    if (!writes.isEmpty()) QCOMPARE(int(quint8(m.eepromMaster[13])), moved);
}

namespace {
// A cell-voltage window whose measurements the test runs itself.
calib::CellWindow *openCells(CalibBench &b, const QString &id) {
    auto *w = b.open<calib::CellWindow>(id);
    if (w) w->measureTimer()->setInterval(1000000);
    return w;
}
// Captures point `row` at `count`, the capture answered by the next measurement.
void captureAt(CalibBench &b, calib::CellWindow *w, int row, int count) {
    b.fake->counts[chlink::CMD_READ_VDELTA] = {count};
    w->capture(row);
    w->measureTick();
    QTRY_VERIFY(!b.fake->commands.isEmpty() && b.fake->commands.last().startsWith("39,") &&
                !w->capturePending() && b.fake->commands.filter("39,").size() % 2 == 0);
}
} // namespace

void TestCalibWindows::cellCapture_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<int>("listIndex");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("writes");
    QTest::newRow("lithium 1, 4.4 V") << "RegLIPO" << 0 << 0 << "BtnV4_4"
                                      << "Check1"
                                      << "4,4 V" << QStringList{"39,18,2", "39,19,100"};
    QTest::newRow("lithium 3, 4.1 V") << "RegLIPO" << 2 << 2 << "BtnV4_1"
                                      << "Check3"
                                      << "12,2 V" << QStringList{"39,54,2", "39,55,100"};
    QTest::newRow("lead 6, holding") << "RegPB" << 5 << 2 << "BtnMaintien"
                                     << "Check4"
                                     << "13,74 V" << QStringList{"39,142,2", "39,143,100"};
    QTest::newRow("lead 1, charge") << "RegPB" << 0 << 0 << "BtnVchrg"
                                    << "Check1"
                                    << "2,47 V" << QStringList{"39,98,2", "39,99,100"};
}

// A capture is answered by the measurement that completes after the click, not by the
// reading shown at the click; it is stored at the point's place in the cell count's block.
void TestCalibWindows::cellCapture() {
    QFETCH(QString, id);
    QFETCH(int, listIndex);
    QFETCH(int, row);
    QFETCH(QString, button);
    QFETCH(QString, check);
    QFETCH(QString, caption);
    QFETCH(QStringList, writes);
    CalibBench b;
    auto *w = openCells(b, id);
    QVERIFY(w);
    w->chooseCells(listIndex);
    auto *btn = w->findChild<QPushButton *>(button);
    QCOMPARE(btn->text(), caption);
    b.fake->counts[chlink::CMD_READ_VDELTA] = {600};
    w->measureTick();
    QCOMPARE(w->reading(), 600);
    b.fake->take();
    btn->click();
    QTest::qWait(50);
    QVERIFY(b.sentWith("39,").isEmpty()); // not the reading shown at the click
    b.fake->counts[chlink::CMD_READ_VDELTA] = {612};
    w->measureTick();
    QTRY_COMPARE(b.sentWith("39,"), writes);
    QTRY_COMPARE(btn->text(), QStringLiteral(" 612"));
    QVERIFY(w->findChild<QCheckBox *>(check)->isChecked());
    // A charger that stops answering drops the capture: nothing is written later.
    b.fake->take();
    b.fake->mute = true;
    w->capture(row);
    w->measureTick();
    QVERIFY(!w->capturePending());
    b.fake->mute = false;
    w->measureTick();
    QTest::qWait(50);
    QVERIFY(b.sentWith("39,").isEmpty());
}

// The five lithium points of two cells give A and B, written after the points at 44..47;
// after another cell count is chosen they are missing again.
void TestCalibWindows::lithiumCoefficients() {
    CalibBench b;
    auto *w = openCells(b, "RegLIPO");
    QVERIFY(w);
    w->chooseCells(1);
    QCOMPARE(w->blockBase(), 32);
    const int counts[5] = {1740, 1660, 1620, 1180, 1060};
    for (int r = 0; r < 5; ++r)
        captureAt(b, w, r, counts[r]);
    b.fake->take();
    b.boxes.clear();
    w->coefficients();
    QTRY_COMPARE(b.sentWith("39,"), (QStringList{"39,44,19", "39,45,135", "39,46,0", "39,47,101"}));
    QCOMPARE(w->findChild<QLabel *>("Label10")->text(), QStringLiteral(" 4999"));
    QCOMPARE(w->findChild<QLabel *>("Label11")->text(), QStringLiteral(" 101"));
    QTRY_VERIFY(w->findChild<QCheckBox *>("Check7")->isChecked());
    QVERIFY(b.boxes.isEmpty());

    w->chooseCells(2);
    b.fake->take();
    w->coefficients();
    QCOMPARE(b.boxes, QStringList{"Valeurs manquantes, opération annulée"});
    QTest::qWait(50);
    QVERIFY(b.sentWith("39,").isEmpty());

    // Two equal neighbours: the slope is undefined, nothing is written.
    for (int r = 0; r < 5; ++r)
        captureAt(b, w, r, r == 1 ? 1740 : counts[r]);
    b.fake->take();
    b.boxes.clear();
    w->coefficients();
    QCOMPARE(b.boxes.size(), 1);
    QVERIFY(b.boxes.first().contains("pente"));
    QTest::qWait(50);
    QVERIFY(b.sentWith("39,").isEmpty());
}

// The pot sliders go to the charger at once; BtnPot stores the offset pot then the gain pot
// at the start of the block.
void TestCalibWindows::cellPots() {
    CalibBench b;
    auto *w = openCells(b, "RegPB");
    QVERIFY(w);
    w->chooseCells(2); // block at 112
    b.fake->take();
    w->findChild<QSlider *>("REGDelta")->setValue(100);
    w->findChild<QSlider *>("REGOfs")->setValue(30);
    QCOMPARE(w->findChild<QLabel *>("Label8")->text(), QStringLiteral(" 100"));
    QTRY_COMPARE(b.fake->commands.filter(QRegularExpression("^2[12],")),
                 (QStringList{"21,100", "22,30"}));
    w->findChild<QPushButton *>("BtnPot")->click();
    QTRY_COMPARE(b.sentWith("39,"), (QStringList{"39,112,30", "39,113,100"}));
    QTRY_VERIFY(w->findChild<QCheckBox *>("Check3")->isChecked());
}

// Every window drawn once with a reading; PELMORA_SHOT_DIR set: saved there as PNG files.
void TestCalibWindows::pictures() {
    const QString dir = qEnvironmentVariable("PELMORA_SHOT_DIR");
    CalibBench b;
    const auto save = [&](QWidget *w, const QString &name) {
        QCoreApplication::processEvents();
        const QPixmap p = w->grab();
        QVERIFY(!p.isNull());
        if (!dir.isEmpty()) QVERIFY(p.save(dir + '/' + name + ".png"));
    };
    save(b.selector, "reglage");
    b.useModel(); // readings and stored values of the virtual charger
    for (const QString &id : calib::Reglage::entryWindows()) {
        if (!b.registry->available(id)) continue;
        auto *w = b.open(id);
        QVERIFY2(w, qPrintable(id));
        w->measureTick();
        save(w, id.toLower());
    }
}

QTEST_MAIN(TestCalibWindows)
#include "tst_calibwindows.moc"
