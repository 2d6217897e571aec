// Flashing the master and the slave from the microcontroller window, through the real
// serial port on the pseudo-terminal of the virtual charger.

#include "firmware/heximage.h"
#include "firmware/micro.h"
#include "firmware/register.h"
#include "flashrig.h"
#include "link/messages.h"
#include "link/session.h"
#include "serial/serialport.h"
#include "sim/ptyserver.h"
#include "winkit/windowregistry.h"

#include <QLabel>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using namespace firmware;

class TstMicroE2E : public QObject {
    Q_OBJECT
  private slots:
    void flashesBothControllersThroughAPseudoTerminal() {
        QTemporaryDir config, dir;
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        QStringList boxes;
        chlink::setBoxHook([&](const chlink::BoxRequest &r) {
            boxes.append(r.text);
            return true;
        });
        QStringList files;
        chlink::setFileHook([&](bool, const QString &, const QString &, const QString &) {
            return files.isEmpty() ? QString() : files.takeFirst();
        });

        sim::VirtualCharger charger;
        sim::PtyServer server(&charger);
        QString why;
        if (!server.start(&why)) QSKIP(qPrintable("no pseudo-terminal: " + why));
        const QString dev = server.slavePath();
        chlink::ChargerLink link([](const QString &d) { return new chlink::SerialBytePort(d); },
                                 [dev](int) { return dev; });
        link.portSetup();
        QVERIFY(link.openPort(&why));

        QByteArray image(0x7000, 0);
        QVector<quint16> slave = charger.slaveFlash;
        QRandomGenerator rng(3);
        for (char &c : image)
            c = char(rng.bounded(256));
        for (int i = 6000; i < 6200; ++i)
            slave[i] = quint16(rng.bounded(0x4000));
        const auto write = [&](const QString &name, const QByteArray &text) {
            QFile f(dir.filePath(name));
            f.open(QIODevice::WriteOnly);
            f.write(text);
            return f.fileName();
        };
        files = {write("master.hex", hexText(image, 0x1000)),
                 write("slave.hex", slaveHex(slave, 0, 6200))};

        QWidget main;
        chlink::Session session(link);
        winkit::WindowRegistry registry(&session);
        firmware::registerWindows(registry);
        QPointer<Micro> micro =
            qobject_cast<Micro *>(registry.open(QStringLiteral("Micro"), &main));
        QVERIFY(micro);
        micro->pgmMaster();
        QVERIFY2(charger.masterFlash.mid(0x1000) == image, qPrintable(boxes.join(" | ")));
        micro->pgmSlave();
        QCOMPARE(charger.slaveFlash, slave);
        QCOMPARE(boxes, QStringList({"Confirmer chargement Flash Master.",
                                     " 56 Changements en Zone Protégée, CONTINUER ??",
                                     "Confirmer chargement de 200 octets"}));
        QCOMPARE(micro->findChild<QLabel *>("LBinfos")->text(),
                 QStringLiteral("Transfert terminé et vérifié : 200 mots"));
        QCOMPARE(link.timeouts(), 0);
        delete micro.data();
        chlink::setBoxHook({});
        chlink::setFileHook({});
    }
};

QTEST_MAIN(TstMicroE2E)
#include "tst_micro_e2e.moc"
