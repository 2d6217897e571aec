// A miscalibrated charger (chargersim --miscalibrate) calibrated through the real serial
// stack: the charge window first reads the battery voltage and the charge current about
// 10 % off; the battery-voltage and charge-current windows are then given the true values (a
// laboratory supply in the battery's place, the current as the charger's console reports
// it), and the charge window reads the truth within one count. The same run with a wrong
// computation in the windows' place must leave it wrong.
#include "calib/caliblogic.h"
#include "calib/calibwindow.h"
#include "calib/currentwindows.h"
#include "calib/register.h"
#include "calib/reglage.h"
#include "calib/scalewindows.h"
#include "charger/channels.h"
#include "charger/eeprommap.h"
#include "link/chargerlink.h"
#include "link/exchanges.h"
#include "link/messages.h"
#include "link/session.h"
#include "modes/chargeur.h"
#include "modes/runlog.h"
#include "support/process.h"
#include "support/riglink.h"
#include "winkit/windowregistry.h"

#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {
constexpr double kLabVolts = 8.0;
constexpr int kPot = 100;

// The scale and the multiplier 4 % high: what a slip in the arithmetic would store.
class WrongArithmetic : public calib::Arithmetic {
  public:
    std::optional<double> scale(double reading, double hundredths) const override {
        const auto s = Arithmetic::scale(reading, hundredths);
        return s ? std::optional<double>(std::floor(*s * 1.04)) : s;
    }
    std::optional<double> multiplier(double cad, double current) const override {
        const auto m = Arithmetic::multiplier(cad, current);
        return m ? std::optional<double>(std::floor(*m * 1.04)) : m;
    }
};

double labelNumber(QWidget *w, const char *name) {
    QString t = w->findChild<QLabel *>(QLatin1String(name))->text();
    t.remove(QRegularExpression(QStringLiteral("[^0-9.,-]")));
    t.replace(modes::localeDecimalPoint(), QLatin1Char('.'));
    return t.toDouble();
}

// The charge window reads a quantity within one count of the truth: the value it shows,
// floored to its last digit, comes from a conversion within one count (of this charger's
// counts per unit, from the count it read) of the true value.
bool withinOneCount(double shown, int count, double truth) {
    const double perUnit = count / truth; // the hardware's offset is 0 on these channels
    return truth >= shown - 1 / perUnit && truth < shown + 0.01 + 1 / perUnit;
}

struct Rig {
    QProcess sim;
    std::unique_ptr<chlink::ChargerLink> link;
    std::unique_ptr<chlink::Session> session;
    std::unique_ptr<winkit::WindowRegistry> registry;
    QWidget main;
    winkit::Host host;
    QString device;

    bool start() {
        device = startChargersim(
            sim, qEnvironmentVariable("PELMORA_BIN_DIR") + QStringLiteral("/sim/chargersim"),
            {QStringLiteral("--miscalibrate"), QStringLiteral("--supply"), QStringLiteral("18"),
             QStringLiteral("--lab-supply"), QString::number(kLabVolts)});
        if (device.isEmpty() || !openRigLink(device, link, session)) return false;
        registry = std::make_unique<winkit::WindowRegistry>(session.get());
        host.session = session.get();
        host.registry = registry.get();
        host.opener = &main;
        main.show();
        return true;
    }
    // The charge current the charger's console reports, in amperes.
    double trueChargeAmps() {
        sim.readAll();
        sim.write("status\n");
        QByteArray out;
        while (out.count('\n') < 4 && sim.waitForReadyRead(3000))
            out += sim.readAll();
        const auto m = QRegularExpression(QStringLiteral("([0-9.]+) A charge"))
                           .match(QString::fromLocal8Bit(out));
        return m.hasMatch() ? m.captured(1).toDouble() : -1;
    }
    ~Rig() {
        registry.reset();
        session.reset();
        link.reset();
        sim.write("quit\n");
        if (!sim.waitForFinished(3000)) sim.kill();
    }

    // One charge poll: the battery voltage and the charge current as the charge window
    // reads and converts them.
    struct Read {
        int vbatCount, ichrgCount;
        double vbat, ichrg, trueAmps;
    };
    std::optional<Read> chargeWindowReads() {
        modes::Chargeur w(host);
        w.findChild<QSlider *>("Slider1")->setValue(kPot);
        w.start();
        if (!w.isPolling()) return std::nullopt;
        w.timerCycle();
        // The battery's volts label follows the detector's blocks of samples: its count is
        // converted here by the charge window's own conversion.
        const int vbatCount = int(labelNumber(&w, "Label16"));
        const auto volts =
            charger::convert(charger::Quantity::Vbat, vbatCount, link->tableA, link->tableB);
        Read r{vbatCount, int(labelNumber(&w, "Label10")), volts.value_or(0),
               labelNumber(&w, "Label11"), trueChargeAmps()};
        w.stop();
        return r;
    }
};
} // namespace

class TestCalibEndToEnd : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QDir::setCurrent(m_dir.path());
        modes::keepCurrentFolder();
        chlink::setBoxHook([](const chlink::BoxRequest &r) {
            qWarning() << "message box:" << r.text;
            return true;
        });
    }
    void miscalibratedChargerReadsTrueAfterCalibration_data();
    void miscalibratedChargerReadsTrueAfterCalibration();

  private:
    QTemporaryDir m_dir;
};

void TestCalibEndToEnd::miscalibratedChargerReadsTrueAfterCalibration_data() {
    QTest::addColumn<bool>("wrong");
    QTest::newRow("windows' arithmetic") << false;
    QTest::newRow("a wrong arithmetic") << true;
}

void TestCalibEndToEnd::miscalibratedChargerReadsTrueAfterCalibration() {
    QFETCH(bool, wrong);
    Rig rig;
    QVERIFY(rig.start());
    static const WrongArithmetic wrongArithmetic;
    calib::registerWindows(*rig.registry, wrong ? wrongArithmetic : calib::Arithmetic::standard());

    // Before: the stored constants are about 10 % off.
    auto before = rig.chargeWindowReads();
    QVERIFY(before);
    QVERIFY(before->trueAmps > 1);
    qInfo() << "before: battery" << before->vbat << "V, charge" << before->ichrg << "A, true"
            << kLabVolts << "V," << before->trueAmps << "A";
    QVERIFY(!withinOneCount(before->vbat, before->vbatCount, kLabVolts));
    QVERIFY(!withinOneCount(before->ichrg, before->ichrgCount, before->trueAmps));

    auto *selector = qobject_cast<calib::Reglage *>(rig.registry->open("Reglage", &rig.main));
    QVERIFY(selector);
    const auto open = [&](const QString &id) {
        selector->choose(int(calib::Reglage::entryWindows().indexOf(id)));
        auto *w = rig.registry->openWindow(id);
        return qobject_cast<calib::CalibWindow *>(w);
    };

    // The battery voltage: the laboratory supply's volts, in hundredths.
    QPointer<calib::Vout> vout = qobject_cast<calib::Vout *>(open("Vout"));
    QVERIFY(vout);
    QTRY_VERIFY_WITH_TIMEOUT(vout->isOpened(), 5000);
    vout->measureTick();
    QVERIFY(vout->reading() > 0);
    vout->findChild<QLineEdit *>("RegVText2")->setText(QString::number(kLabVolts * 100));
    const QByteArray tableB = rig.link->tableB;
    vout->set();
    QTRY_VERIFY_WITH_TIMEOUT(rig.link->tableB.mid(6, 2) != tableB.mid(6, 2), 5000);
    vout->close();
    QTRY_VERIFY(!vout);

    // The charge current: the pot value set with the slider, the count the window shows and
    // the current the charger's console reports.
    QPointer<calib::CurrentWindow> cur = qobject_cast<calib::CurrentWindow *>(open("Rcourant"));
    QVERIFY(cur);
    QTRY_VERIFY_WITH_TIMEOUT(cur->isOpened(), 5000);
    cur->findChild<QSlider *>("Slcour")->setValue(kPot);
    QTest::qWait(200);
    cur->measureTick();
    const double amps = rig.trueChargeAmps();
    QVERIFY(amps > 1);
    cur->findChild<QLineEdit *>("RegcText2")->setText(QString::number(cur->reading()));
    cur->findChild<QLineEdit *>("courText4")->setText(QString::number(std::lround(amps * 100)));
    const QByteArray tableB2 = rig.link->tableB;
    cur->set();
    QTRY_VERIFY_WITH_TIMEOUT(rig.link->tableB.mid(0, 2) != tableB2.mid(0, 2) &&
                                 quint8(rig.link->tableB[4]) != quint8(tableB2[4]),
                             5000);
    cur->close();
    QTRY_VERIFY(!cur);
    selector->close();

    // The charger holds what the windows wrote.
    for (int a : {0, 1, 4, 6, 7})
        QCOMPARE(chlink::eeRead(*rig.session, 2, quint8(a)),
                 std::optional<quint8>(quint8(rig.link->tableB[a])));

    auto after = rig.chargeWindowReads();
    QVERIFY(after);
    qInfo() << "after: battery" << after->vbat << "V (" << after->vbatCount << "), charge"
            << after->ichrg << "A (" << after->ichrgCount << "), true" << kLabVolts << "V,"
            << after->trueAmps << "A";
    QCOMPARE(withinOneCount(after->vbat, after->vbatCount, kLabVolts), !wrong);
    QCOMPARE(withinOneCount(after->ichrg, after->ichrgCount, after->trueAmps), !wrong);
}

QTEST_MAIN(TestCalibEndToEnd)
#include "tst_calib_e2e.moc"
