// The main window: connection, port choice, navigation, against the virtual charger.
#include "link/chargerlink.h"
#include "link/handshake.h"
#include "link/messages.h"
#include "link/portmap.h"
#include "sim/simport.h"
#include "sim/virtualcharger.h"
#include "support/scriptedport.h"
#include "ui/main/mainwindow.h"

#include <QAction>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace chlink;

namespace {

struct Rig {
    sim::VirtualCharger charger;
    PortMap ports{QStringLiteral("pelmora-test")};
    QList<QPointer<sim::SimBytePort>> made;
    QStringList devices;
    ChargerLink link{[this](const QString &d) {
                         devices << d;
                         made << new sim::SimBytePort(&charger);
                         return made.last().data();
                     },
                     [](int n) { return QStringLiteral("dev%1").arg(n); }};
    QList<Main::Window> opened;
    QStringList boxes;
    std::unique_ptr<Main> main;

    Rig() {
        setBoxHook([this](const BoxRequest &r) {
            boxes << r.text;
            return true;
        });
        link.setReplyTimeout(500);
        main = std::make_unique<Main>(link, ports);
        main->setOpener([this](Main::Window w, const Host &) -> QWidget * {
            opened << w;
            return nullptr;
        });
    }
    ~Rig() { setBoxHook({}); }
    QString display() const {
        return main->findChild<QPlainTextEdit *>(QStringLiteral("TXT_Display"))->toPlainText();
    }
    void connect() {
        QTimer::singleShot(5000, &main->handshake(), [this] { main->handshake().cancel(); });
        main->activate();
    }
};

} // namespace

class TstMainWindow : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("pelmora-test")); }

    void loadLeavesThePortConfiguredAndClosed() {
        Rig rig;
        QCOMPARE(rig.main->windowTitle(), QStringLiteral("Controleur de Chargeur Rapide "));
        QCOMPARE(rig.link.portNumber, 1);
        QCOMPARE(rig.link.connectionFlag, 1);
        QVERIFY(!rig.link.isOpen());
        QCOMPARE(rig.devices, QStringList{QStringLiteral("dev1")});
        auto *list = rig.main->findChild<QListWidget *>(QStringLiteral("ListComSel"));
        QCOMPARE(list->count(), 4);
        QCOMPARE(list->item(2)->text(), QStringLiteral("COM 3"));
        QVERIFY(list->isHidden());
        QCOMPARE(rig.display(), QStringLiteral("Pas de connection\n ..Attente..\n"));
    }

    void firstActivationConnects() {
        Rig rig;
        rig.connect();
        QCOMPARE(rig.display(), QStringLiteral("Srl Connecté\nSlave Connecté."));
        QVERIFY(rig.link.isOpen());
        QCOMPARE(rig.link.tableA.left(16), rig.charger.eepromMaster.left(16));
        QVERIFY(rig.main->findChild<QWidget *>(QStringLiteral("FRtemp"))->isHidden());
        QVERIFY(rig.boxes.isEmpty());
    }

    // Mode buttons need a connection; menu entries and the other buttons do not.
    void navigation_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("window");
        QTest::addColumn<bool>("needsConnection");
        QTest::newRow("Chargeur button") << "cb_chargeur" << int(Main::Window::Chargeur) << true;
        QTest::newRow("Dechargeur button")
            << "CbDechargeur" << int(Main::Window::Dechargeur) << true;
        QTest::newRow("Mesure Bat. button") << "CbCapa" << int(Main::Window::MesCapa) << true;
        QTest::newRow("Monitor button") << "CbMoni" << int(Main::Window::SelMoni) << false;
        QTest::newRow("Acces Micro button") << "Cb_Debug" << int(Main::Window::Micro) << false;
        QTest::newRow("Réglage button") << "Cb_Reglage" << int(Main::Window::Reglage) << false;
        QTest::newRow("Mode Chargeur entry")
            << "MnuChargeur" << int(Main::Window::Chargeur) << false;
        QTest::newRow("Mode Dechargeur entry")
            << "MDdech" << int(Main::Window::Dechargeur) << false;
        QTest::newRow("Mode Mesure Capacite entry")
            << "MdCapa" << int(Main::Window::MesCapa) << false;
        QTest::newRow("Debugging Micro entry") << "MnuMicro" << int(Main::Window::Micro) << false;
        QTest::newRow("Mode Reglage entry") << "MnuReglage" << int(Main::Window::Reglage) << false;
    }
    void navigation() {
        QFETCH(QString, control);
        QFETCH(int, window);
        QFETCH(bool, needsConnection);
        Rig rig;
        rig.link.connectionFlag = 0;
        if (auto *b = rig.main->findChild<QPushButton *>(control))
            b->click();
        else
            rig.main->findChild<QAction *>(control)->trigger();
        if (needsConnection) {
            QCOMPARE(rig.boxes, QStringList{QStringLiteral("Pas de connection avec chargeur")});
            QVERIFY(rig.opened.isEmpty());
        } else {
            QVERIFY(rig.boxes.isEmpty());
            QCOMPARE(rig.opened, QList<Main::Window>{Main::Window(window)});
        }
    }

    void choosingComThreeDisconnects() {
        Rig rig;
        rig.connect();
        rig.main->chooseComPort(2);
        QCOMPARE(rig.display(), QStringLiteral("Déconnecté"));
        QVERIFY(!rig.link.isOpen());
        QCOMPARE(rig.link.portNumber, 3);
        QCOMPARE(rig.link.connectionFlag, 1); // set back by the port set-up
        QCOMPARE(rig.link.reconnectOnActivate, 1);
        QCOMPARE(rig.devices.last(), QStringLiteral("dev3"));
        // The next activation probes on the new port.
        rig.connect();
        QCOMPARE(rig.display(), QStringLiteral("Srl Connecté\nSlave Connecté."));
        QCOMPARE(rig.link.deviceName(), QStringLiteral("chargeur virtuel"));
    }

    void deconnectionThenActivationShakesHandsAgain() {
        Rig rig;
        rig.connect();
        rig.main->findChild<QPushButton *>(QStringLiteral("CD_DECONNECT"))->click();
        QCOMPARE(rig.display(), QStringLiteral("Déconnecté"));
        QCOMPARE(rig.link.connectionFlag, 0);
        QVERIFY(rig.link.userDisconnected);
        QVERIFY(!rig.link.isOpen());
        rig.charger.eepromSlave[0] = char(0x42);
        rig.connect();
        QCOMPARE(rig.display(), QStringLiteral("Srl Connecté\nSlave Connecté."));
        QCOMPARE(quint8(rig.link.tableB[0]), quint8(0x42));
        QCOMPARE(rig.link.connectionFlag, 1);
    }

    // Back from a window left by its exit button: the port is only closed and reopened.
    void returnWithoutHandshakeReopensThePort() {
        Rig rig;
        rig.connect();
        rig.link.reconnectOnActivate = 0;
        rig.charger.eepromMaster[0] = char(0x99);
        rig.main->activate();
        QVERIFY(rig.link.isOpen());
        QVERIFY(quint8(rig.link.tableA[0]) != 0x99);
    }

    void skipActivationLeavesThePortAlone() {
        Rig rig;
        rig.connect();
        rig.main->findChild<QPushButton *>(QStringLiteral("CbMoni"))->click();
        QVERIFY(rig.main->skipActivation());
        rig.link.closePort(); // as the monitor leaves it
        rig.main->activate();
        QVERIFY(!rig.link.isOpen());
        QVERIFY(!rig.main->skipActivation());
    }

    void reconnectionReloadsAndStopsRepeating() {
        Rig rig;
        rig.connect();
        rig.charger.eepromMaster[1] = char(0x31);
        QTimer::singleShot(5000, &rig.main->handshake(), [&] { rig.main->handshake().cancel(); });
        rig.main->findChild<QPushButton *>(QStringLiteral("Cb_Reconnect"))->click();
        QCOMPARE(quint8(rig.link.tableA[1]), quint8(0x31));
        QCOMPARE(rig.link.reconnectOnActivate, 0);
        QVERIFY(!rig.link.userDisconnected);
    }

    void vanishingPortIsReportedOnce() {
        Rig rig;
        rig.connect();
        rig.made.last()->vanish();
        QCOMPARE(rig.boxes.size(), 1);
        QVERIFY(rig.boxes.first().startsWith(QStringLiteral("Erreur port com\n")));
        QCOMPARE(rig.display(), QStringLiteral("Déconnecté"));
        QCOMPARE(rig.link.connectionFlag, 0);
        QCOMPARE(rig.link.reconnectOnActivate, 1);
    }

    // Renders with the port list open; with PELMORA_SHOTS set, saves the picture there.
    void rendersWithThePortList() {
        Rig rig;
        rig.connect();
        rig.main->findChild<QAction *>(QStringLiteral("MSelCom"))->trigger();
        QVERIFY(rig.main->findChild<QListWidget *>(QStringLiteral("ListComSel"))->isVisible() ||
                !rig.main->isVisible());
        rig.main->show();
        const QImage img = rig.main->grab().toImage();
        QVERIFY(!img.isNull());
        const QString dir = qEnvironmentVariable("PELMORA_SHOTS");
        if (!dir.isEmpty()) QVERIFY(img.save(dir + QStringLiteral("/main.png")));
        rig.main->hide();
    }

    // Closing the window while the handshake probes a silent port ends cleanly.
    void closingWhileProbingEndsTheProbe() {
        ScriptedPort *silent = nullptr;
        PortMap ports(QStringLiteral("pelmora-test"));
        ChargerLink link([&](const QString &) { return silent = new ScriptedPort; },
                         [](int) { return QStringLiteral("silent"); });
        auto *main = new Main(link, ports);
        QTimer::singleShot(600, main, [main] { main->close(); });
        main->activate(); // returns only when the close has ended the probing
        QVERIFY(!main->handshake().isRunning());
        QVERIFY(!link.isOpen());
        QVERIFY(silent->written.size() >= 2);
        delete main;
    }
};

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
