// The state panel through the real serial stack, against the chargersim program on its
// pseudo-terminal: the opening and refresh, the booster's PWM values and an output switched
// by hand, and the paths it switched on cut again as it closes (the charger's own console
// says so).
#include "diag/fetat.h"
#include "diag/register.h"
#include "link/chargerlink.h"
#include "link/exchanges.h"
#include "link/messages.h"
#include "link/session.h"
#include "serial/serialport.h"
#include "support/process.h"
#include "support/shot.h"
#include "winkit/windowregistry.h"

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QtTest>

namespace {
QString consoleSays(QProcess &p, const QByteArray &line, int lines) {
    p.readAll();
    p.write(line + '\n');
    QByteArray out;
    while (out.count('\n') < lines && p.waitForReadyRead(3000))
        out += p.readAll();
    return QString::fromLocal8Bit(out);
}
} // namespace

class TestFEtatEndToEnd : public QObject {
    Q_OBJECT
  private slots:
    void panelDrivesTheChargerAndCutsWhatItLeftOn() {
        QStringList boxes;
        chlink::setBoxHook([&](const chlink::BoxRequest &r) {
            boxes << r.text;
            return true;
        });
        QProcess sim;
        const QString dev =
            startChargersim(sim, qEnvironmentVariable("PELMORA_BIN_DIR") + "/sim/chargersim",
                            {QStringLiteral("--booster")});
        if (!dev.startsWith("/dev/")) QSKIP("chargersim did not start on a pseudo-terminal");
        chlink::ChargerLink link([](const QString &d) { return new chlink::SerialBytePort(d); },
                                 [dev](int) { return dev; });
        link.portSetup();
        QString why;
        QVERIFY2(link.openPort(&why), qPrintable(why));
        chlink::Session session(link);
        for (int i = 0; i < 16; ++i) { // as the handshake loads them
            const auto a = chlink::eeRead(session, 1, quint8(i));
            const auto b = chlink::eeRead(session, 2, quint8(i));
            QVERIFY(a && b);
            link.tableA[i] = char(*a);
            link.tableB[i] = char(*b);
        }

        QWidget main;
        main.show();
        winkit::WindowRegistry registry(&session);
        diag::registerWindows(registry);
        QPointer<diag::FEtat> w =
            qobject_cast<diag::FEtat *>(registry.open(QStringLiteral("FEtat"), &main));
        QVERIFY(w);
        const auto label = [&](const char *name) {
            return w->findChild<QLabel *>(QLatin1String(name))->text();
        };
        QTRY_VERIFY_WITH_TIMEOUT(label("Label28") != QStringLiteral("H , M , S"), 10000);
        QTRY_VERIFY(!w->isBusy());
        QVERIFY2(label("LBValim").endsWith('V'), qPrintable(label("LBValim"))); // 12 V supply
        QVERIFY(qAbs(label("LBValim").chopped(1).toDouble() - 12.0) < 0.5);
        QCOMPARE(label("LBVinv"), QStringLiteral("norm"));

        w->findChild<QCheckBox *>("Check1")->setChecked(true);
        w->findChild<QSlider *>("SliderPWMFreq")->setValue(200);
        w->findChild<QSlider *>("SliderPWMDelta")->setValue(500);
        w->findChild<QPushButton *>("CbCutDBl")->click();   // the booster runs
        w->findChild<QPushButton *>("Cbcutch")->click();    // the charge path on
        w->findChild<QPushButton *>("Cbventillo")->click(); // the fan on
        QTRY_VERIFY(!w->isBusy());
        shot(*w, "fetat");
        QString status = consoleSays(sim, "status", 4);
        QVERIFY2(status.contains("charge on") && status.contains("fan on") &&
                     status.contains("doubler running") && status.contains("pwm 200/500"),
                 qPrintable(status));

        w->findChild<QPushButton *>("CBfermeretat")->click();
        QTRY_VERIFY(w.isNull());
        status = consoleSays(sim, "status", 4);
        QVERIFY2(status.contains("charge off") && status.contains("ground on"), qPrintable(status));
        QVERIFY(boxes.isEmpty());
        QCOMPARE(link.timeouts(), 0);
        chlink::setBoxHook({});
        sim.terminate();
        sim.waitForFinished(5000);
    }
};

QTEST_MAIN(TestFEtatEndToEnd)
#include "tst_fetat_e2e.moc"
