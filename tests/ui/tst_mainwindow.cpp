// The main window: connection, port choice, navigation, against the virtual charger; and the
// window as a user meets it: real activations, real boxes closed by their buttons.
#include "link/chargerlink.h"
#include "link/handshake.h"
#include "link/messages.h"
#include "serial/commap.h"
#include "serial/devices.h"
#include "serial/serialport.h"
#include "sim/virtualcharger.h"
#include "support/scriptedcharger.h"
#include "ui/main/app.h"
#include "ui/main/assocport.h"
#include "ui/main/mainwindow.h"
#include "winkit/chargerwindow.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace chlink;

namespace {

// What the program did to its ports, whichever port object it went through (a port
// choice replaces the object).
struct PortLog {
    QByteArray sent;
    int opens = 0;
};

// The virtual charger's port, logging what the program sends to every port it made. Muted,
// the charger hears nothing (a charger switched off); refusing, the port cannot be opened.
class RecordingPort : public ScriptedCharger {
  public:
    RecordingPort(sim::VirtualCharger *charger, PortLog *log)
        : ScriptedCharger(charger), m_log(log) {
        name = QStringLiteral("chargeur virtuel");
    }

    bool open(QString *reason) override {
        const bool ok = ScriptedCharger::open(reason);
        m_log->opens += ok;
        return ok;
    }
    void write(const QByteArray &bytes) override {
        if (isOpen()) m_log->sent += bytes;
        ScriptedCharger::write(bytes);
    }

  private:
    PortLog *m_log;
};

struct Rig {
    sim::VirtualCharger charger;
    serialio::ComMap ports{4};
    QList<QPointer<RecordingPort>> made;
    QStringList devices;
    bool mute = false, refuse = false; // for every port, made or to be made
    PortLog log;
    ChargerLink link{[this](const QString &d) {
                         devices << d;
                         made << new RecordingPort(&charger, &log);
                         made.last()->mute = mute;
                         made.last()->openOk = !refuse;
                         return made.last().data();
                     },
                     [](int n) { return QStringLiteral("dev%1").arg(n); }};
    QStringList opened;
    QList<QPointer<winkit::ChargerWindow>>
        openedWindows; // what the registry built for each opening
    QStringList boxes;
    int maxBoxesAtOnce = 0;
    std::unique_ptr<Main> main;
    QWidget elsewhere; // another application's window, to switch to and back

    Rig() {
        setBoxHook([this](const BoxRequest &r) {
            boxes << r.text;
            return true;
        });
        link.setReplyTimeout(500);
        main = std::make_unique<Main>(link, ports);
        // Every window the main window opens, recorded; the connection check is the
        // registration's.
        for (const char *id :
             {"Chargeur", "Dechargeur", "MesCapa", "SelMoni", "Micro", "Reglage"}) {
            const QString name = QLatin1String(id);
            const bool needsConnection =
                name == "Chargeur" || name == "Dechargeur" || name == "MesCapa";
            main->registry().add({.id = name,
                                  .make =
                                      [this, name](const winkit::Host &h) {
                                          opened << name;
                                          openedWindows << new winkit::ChargerWindow(h);
                                          return openedWindows.last().data();
                                      },
                                  .needsConnection = needsConnection,
                                  .hidesOpener = false});
        }
    }
    ~Rig() {
        setBoxHook({});
        setShownBoxHook({});
        main->hide();
        for (const QPointer<winkit::ChargerWindow> &w : openedWindows)
            delete w.data();
    }
    QString display() const {
        return main->findChild<QPlainTextEdit *>(QStringLiteral("TXT_Display"))->toPlainText();
    }
    void connect() {
        QTimer::singleShot(5000, &main->handshake(), [this] { main->handshake().cancel(); });
        main->activate();
    }
    void click(const char *name) {
        if (auto *b = main->findChild<QPushButton *>(QLatin1String(name)))
            b->click();
        else
            main->findChild<QAction *>(QLatin1String(name))->trigger();
    }
    void setMute(bool on) {
        mute = on;
        for (auto &p : made)
            if (p) p->mute = on;
    }
    void setRefuse(bool on) {
        refuse = on;
        for (auto &p : made)
            if (p) p->openOk = !on;
    }
    QByteArray sent() const { return log.sent; }
    int opens() const { return log.opens; }

    // Real boxes from now on: each is shown, closed by its OK (or Yes) button, and the
    // window under it gets the activation back, as the window system does.
    void useRealBoxes() {
        setBoxHook({});
        setShownBoxHook([this](QMessageBox *box) {
            boxes << box->text();
            int up = 0;
            for (QWidget *w : QApplication::topLevelWidgets())
                up += qobject_cast<QMessageBox *>(w) && w->isVisible();
            maxBoxesAtOnce = std::max(maxBoxesAtOnce, up);
            QAbstractButton *b = box->button(QMessageBox::Ok);
            if (!b) b = box->button(QMessageBox::Yes);
            b->click();
            if (QWidget *under = box->parentWidget())
                if (under->window()->isVisible()) under->window()->activateWindow();
        });
    }
    // Shows the window: its first activation runs, as at program start.
    bool start() {
        QSignalSpy handled(main.get(), &Main::activationHandled);
        QTimer::singleShot(5000, &main->handshake(), [this] { main->handshake().cancel(); });
        main->show();
        const bool ok = waitFor(handled, false);
        QTest::qWait(100); // the hand-back of a box shown meanwhile
        return ok;
    }
    // The user goes to another application and comes back.
    bool switchAwayAndBack() {
        elsewhere.show();
        elsewhere.activateWindow();
        if (!QTest::qWaitFor([this] { return elsewhere.isActiveWindow(); }, 2000)) return false;
        QSignalSpy handled(main.get(), &Main::activationHandled);
        QTimer::singleShot(5000, &main->handshake(), [this] { main->handshake().cancel(); });
        main->activateWindow();
        return waitFor(handled, false);
    }
    // A box over the window, closed by its button.
    bool boxClosed() {
        QSignalSpy handled(main.get(), &Main::activationHandled);
        infoBox(main.get(), QStringLiteral("Info"));
        return handledAny(handled);
    }
    // Waits for an activation handled either way: what it did is what the test looks at.
    static bool handledAny(QSignalSpy &handled) { return !handled.isEmpty() || handled.wait(8000); }
    static bool waitFor(QSignalSpy &handled, bool fromDialog) {
        return QTest::qWaitFor(
            [&] {
                for (const auto &args : handled)
                    if (args.at(0).toBool() == fromDialog) return true;
                return false;
            },
            8000);
    }
};

// A pseudo-terminal, open on the master side; empty path when the system has none.
struct Pty {
    int fd = ::posix_openpt(O_RDWR | O_NOCTTY);
    QString path() const {
        if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0) return {};
        return QString::fromLocal8Bit(::ptsname(fd));
    }
    ~Pty() {
        if (fd >= 0) ::close(fd);
    }
};

// The system's list of serial devices replaced for one test.
struct FakeDevices {
    explicit FakeDevices(QList<serialio::SerialDevice> list) {
        serialio::setDeviceLister([list] { return list; });
    }
    ~FakeDevices() { serialio::setDeviceLister({}); }
};
const QList<serialio::SerialDevice> kTwoDevices{
    {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FT232R USB UART"), QStringLiteral("FTDI"),
     QStringLiteral("A50285BI"), QStringLiteral("0403:6001")},
    {QStringLiteral("/dev/ttyS0"), {}, {}, {}, {}}};
const QString kTwoDevicesText = QStringLiteral("\n\nPorts série trouvés :\n"
                                               "  /dev/ttyS0\n"
                                               "  /dev/ttyUSB0  FT232R USB UART (0403:6001)\n"
                                               "Choix du port : menu File, « Selection du port "
                                               "com ».");

enum class Setup { Connected, Returned, Disconnected, PortFault };
enum class Source { SwitchBack, BoxClosed };

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
        QTest::addColumn<QString>("window");
        QTest::addColumn<bool>("needsConnection");
        QTest::newRow("Chargeur button") << "cb_chargeur"
                                         << "Chargeur" << true;
        QTest::newRow("Dechargeur button") << "CbDechargeur"
                                           << "Dechargeur" << true;
        QTest::newRow("Mesure Bat. button") << "CbCapa"
                                            << "MesCapa" << true;
        QTest::newRow("Monitor button") << "CbMoni"
                                        << "SelMoni" << false;
        QTest::newRow("Acces Micro button") << "Cb_Debug"
                                            << "Micro" << false;
        QTest::newRow("Réglage button") << "Cb_Reglage"
                                        << "Reglage" << false;
        QTest::newRow("Mode Chargeur entry") << "MnuChargeur"
                                             << "Chargeur" << false;
        QTest::newRow("Mode Dechargeur entry") << "MDdech"
                                               << "Dechargeur" << false;
        QTest::newRow("Mode Mesure Capacite entry") << "MdCapa"
                                                    << "MesCapa" << false;
        QTest::newRow("Debugging Micro entry") << "MnuMicro"
                                               << "Micro" << false;
        QTest::newRow("Mode Reglage entry") << "MnuReglage"
                                            << "Reglage" << false;
    }
    void navigation() {
        QFETCH(QString, control);
        QFETCH(QString, window);
        QFETCH(bool, needsConnection);
        Rig rig;
        rig.link.connectionFlag = 0;
        rig.click(qPrintable(control));
        if (needsConnection) {
            QCOMPARE(rig.boxes, QStringList{QStringLiteral("Pas de connection avec chargeur")});
            QVERIFY(rig.opened.isEmpty());
        } else {
            QVERIFY(rig.boxes.isEmpty());
            QCOMPARE(rig.opened, QStringList{window});
        }
    }

    // Every window the main window opens is written and registered: none says it is not
    // there yet, and the monitor's skip of the next activation is armed only when its
    // selection opened.
    void everyWindowIsThere_data() {
        QTest::addColumn<QString>("control");
        QTest::newRow("Mesure Bat. button") << "CbCapa";
        QTest::newRow("Monitor button") << "CbMoni";
        QTest::newRow("Réglage button") << "Cb_Reglage";
        QTest::newRow("Mode Mesure Capacite entry") << "MdCapa";
        QTest::newRow("Mode Reglage entry") << "MnuReglage";
        QTest::newRow("Acces Micro button") << "Cb_Debug";
    }
    void everyWindowIsThere() {
        QFETCH(QString, control);
        Rig rig;
        registerWindows(rig.main->registry()); // the program's own windows
        const auto before = QApplication::topLevelWidgets().size();
        rig.click(qPrintable(control));
        const bool opened = QApplication::topLevelWidgets().size() > before;
        QVERIFY(!rig.boxes.contains(QStringLiteral("Cette fenêtre n'est pas encore disponible.")));
        QVERIFY(opened || !rig.boxes.isEmpty()); // opened, or said why not (no connection)
        if (!opened) QVERIFY(!rig.main->skipActivation());
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<winkit::ChargerWindow *>(w)) w->close();
    }

    // Choosing a port, with the mouse or with the arrows and Enter, is a disconnection on
    // the old port and a set-up of the new one; the link waits for "Reconnection", which
    // probes on the new port.
    void choosingComThreeDisconnects_data() {
        QTest::addColumn<bool>("keyboard");
        QTest::newRow("click") << false;
        QTest::newRow("arrows and Enter") << true;
    }
    void choosingComThreeDisconnects() {
        QFETCH(bool, keyboard);
        Rig rig;
        rig.connect();
        auto *list = rig.main->findChild<QListWidget *>(QStringLiteral("ListComSel"));
        if (keyboard) {
            list->setCurrentRow(0);
            QTest::keyClick(list, Qt::Key_Down);
            QTest::keyClick(list, Qt::Key_Down);
            QCOMPARE(rig.link.portNumber, 1); // moving along the list chooses nothing
            QTest::keyClick(list, Qt::Key_Return);
        } else {
            emit list->itemClicked(list->item(2));
        }
        QCOMPARE(rig.display(), QStringLiteral("Déconnecté"));
        QVERIFY(!rig.link.isOpen());
        QCOMPARE(rig.link.portNumber, 3);
        QCOMPARE(rig.link.connectionFlag, 0); // set up, not connected
        QVERIFY(rig.sent().endsWith(QByteArray("\x1b\x03")));
        QCOMPARE(rig.devices.last(), QStringLiteral("dev3"));
        rig.connect(); // an activation does not undo the disconnection
        QCOMPARE(rig.display(), QStringLiteral("Déconnecté"));
        QTimer::singleShot(5000, &rig.main->handshake(), [&] { rig.main->handshake().cancel(); });
        rig.click("Cb_Reconnect");
        QCOMPARE(rig.display(), QStringLiteral("Srl Connecté\nSlave Connecté."));
        QCOMPARE(rig.link.deviceName(), QStringLiteral("chargeur virtuel"));
        QCOMPARE(rig.devices.last(), QStringLiteral("dev3")); // probed on the new port
    }

    void deconnectionHoldsUntilReconnection() {
        Rig rig;
        rig.connect();
        rig.click("CD_DECONNECT");
        QCOMPARE(rig.display(), QStringLiteral("Déconnecté"));
        QCOMPARE(rig.link.connectionFlag, 0);
        QVERIFY(rig.link.userDisconnected);
        QVERIFY(!rig.link.isOpen());
        rig.charger.eepromSlave[0] = char(0x42);
        rig.connect();
        QCOMPARE(rig.display(), QStringLiteral("Déconnecté"));
        QVERIFY(!rig.link.isOpen());
        QTimer::singleShot(5000, &rig.main->handshake(), [&] { rig.main->handshake().cancel(); });
        rig.click("Cb_Reconnect");
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

    // Activations as the window system delivers them. Going to another application and
    // back follows the reconnect flag; a box closing over the window starts nothing; a
    // disconnection or a port fault holds whatever the activation.
    void activation_data() {
        QTest::addColumn<int>("setupRow");
        QTest::addColumn<int>("sourceRow");
        QTest::addColumn<bool>("handshake");
        QTest::addColumn<int>("opens");
        QTest::addColumn<bool>("open");
        const auto row = [](const char *name, Setup s, Source src, bool hs, int opens, bool open) {
            QTest::newRow(name) << int(s) << int(src) << hs << opens << open;
        };
        row("connected, switch back", Setup::Connected, Source::SwitchBack, true, 1, true);
        row("connected, box closed", Setup::Connected, Source::BoxClosed, false, 0, true);
        row("returned, switch back", Setup::Returned, Source::SwitchBack, false, 1, true);
        row("returned, box closed", Setup::Returned, Source::BoxClosed, false, 0, true);
        row("disconnected, switch back", Setup::Disconnected, Source::SwitchBack, false, 0, false);
        row("disconnected, box closed", Setup::Disconnected, Source::BoxClosed, false, 0, false);
        row("port fault, switch back", Setup::PortFault, Source::SwitchBack, false, 0, false);
        row("port fault, box closed", Setup::PortFault, Source::BoxClosed, false, 0, false);
    }
    void activation() {
        QFETCH(int, setupRow);
        QFETCH(int, sourceRow);
        const auto setup = Setup(setupRow);
        const auto source = Source(sourceRow);
        QFETCH(bool, handshake);
        QFETCH(int, opens);
        QFETCH(bool, open);
        Rig rig;
        rig.useRealBoxes();
        rig.setRefuse(setup == Setup::PortFault);
        QVERIFY(rig.start());
        QCOMPARE(rig.link.isOpen(), setup != Setup::PortFault);
        if (setup == Setup::Returned) rig.link.reconnectOnActivate = 0; // as an exit button
        if (setup == Setup::Disconnected) rig.click("CD_DECONNECT");
        // The port would open now: only the fault flag keeps the activation from it.
        rig.setRefuse(false);
        const int boxes = int(rig.boxes.size());
        const int opensBefore = rig.opens();
        QSignalSpy probing(&rig.main->handshake(), &Handshake::display);

        QVERIFY(source == Source::SwitchBack ? rig.switchAwayAndBack() : rig.boxClosed());
        QCOMPARE(!probing.isEmpty(), handshake);
        QCOMPARE(rig.opens() - opensBefore, opens);
        QCOMPARE(rig.link.isOpen(), open);
        QCOMPARE(rig.boxes.size(), boxes + (source == Source::BoxClosed));
    }

    // "Deconnection" or a port choice, whether the link is idle or probing (from an
    // activation or from "Reconnection"): the charger is told, the port stays closed, and
    // nothing reconnects until the user asks.
    void disconnectionHolds_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("during");
        for (const char *action : {"Deconnection", "port choice"})
            for (const char *during : {"idle", "activation", "Reconnection"})
                QTest::addRow("%s, %s", action, during) << action << during;
    }
    void disconnectionHolds() {
        QFETCH(QString, action);
        QFETCH(QString, during);
        Rig rig;
        rig.useRealBoxes();
        QVERIFY(rig.start());
        const auto act = [&] {
            if (action == QLatin1String("Deconnection")) {
                rig.click("CD_DECONNECT");
            } else {
                rig.click("MSelCom");
                auto *list = rig.main->findChild<QListWidget *>(QStringLiteral("ListComSel"));
                emit list->itemClicked(list->item(1));
            }
        };
        rig.setMute(true); // the charger falls silent: a handshake probes until stopped
        if (during == QLatin1String("idle")) {
            act();
        } else {
            QTimer::singleShot(600, rig.main.get(), act);
            if (during == QLatin1String("activation")) {
                QVERIFY(rig.switchAwayAndBack());
            } else {
                QTimer::singleShot(5000, &rig.main->handshake(),
                                   [&] { rig.main->handshake().cancel(); });
                rig.click("Cb_Reconnect");
            }
        }
        QVERIFY(rig.sent().endsWith(QByteArray("\x1b\x03")));
        rig.setMute(false);
        const auto held = [&] {
            return rig.display() == QStringLiteral("Déconnecté") && !rig.link.isOpen() &&
                   rig.link.connectionFlag == 0 && !rig.main->handshake().isRunning();
        };
        QVERIFY(held());
        QVERIFY(rig.switchAwayAndBack());
        QVERIFY(held());
        // The box's OK hands the activation back: still no connection.
        QSignalSpy handled(rig.main.get(), &Main::activationHandled);
        rig.click("cb_chargeur");
        QCOMPARE(rig.boxes.last(), QStringLiteral("Pas de connection avec chargeur"));
        QVERIFY(rig.opened.isEmpty());
        QVERIFY(Rig::handledAny(handled));
        QVERIFY(held());
    }

    // A port error is reported once, then the window waits for the user; no box is ever
    // stacked on another.
    void portErrorReportedOnce_data() {
        QTest::addColumn<QString>("event");
        QTest::newRow("port refused at start") << "refused";
        QTest::newRow("port lost while connected") << "lost";
        QTest::newRow("port lost while probing") << "lost probing";
        QTest::newRow("port refused on return from a window") << "refused on return";
    }
    void portErrorReportedOnce() {
        QFETCH(QString, event);
        Rig rig;
        rig.useRealBoxes();
        rig.setRefuse(event == QLatin1String("refused"));
        QVERIFY(rig.start());
        if (event == QLatin1String("lost")) {
            rig.made.last()->vanish();
        } else if (event == QLatin1String("lost probing")) {
            rig.setMute(true);
            QTimer::singleShot(500, rig.main.get(), [&] { rig.made.last()->vanish(); });
            QVERIFY(rig.switchAwayAndBack());
        } else if (event == QLatin1String("refused on return")) {
            rig.link.reconnectOnActivate = 0; // as an exit button leaves it
            rig.setRefuse(true);
            QVERIFY(rig.switchAwayAndBack());
            QCOMPARE(rig.link.connectionFlag, 0);
        }
        QTest::qWait(100);
        QVERIFY(rig.switchAwayAndBack());
        QTest::qWait(100);
        QCOMPARE(rig.boxes.size(), 1);
        QVERIFY2(rig.boxes.first().startsWith(QStringLiteral("Erreur port com\n")),
                 qPrintable(rig.boxes.first()));
        QCOMPARE(rig.maxBoxesAtOnce, 1);
        QVERIFY(!rig.link.isOpen());
        QVERIFY(rig.main->waitingForUser());
        if (event != QLatin1String("refused"))
            QCOMPARE(rig.display(), QStringLiteral("Déconnecté"));
        // The user reconnects: the one port error is over.
        rig.setRefuse(false);
        rig.setMute(false);
        QTimer::singleShot(5000, &rig.main->handshake(), [&] { rig.main->handshake().cancel(); });
        rig.click("Cb_Reconnect");
        QCOMPARE(rig.display(), QStringLiteral("Srl Connecté\nSlave Connecté."));
        QCOMPARE(rig.boxes.size(), 1);
    }

    // A second port error while the first box is up adds no box.
    void portErrorBoxesNeverStack() {
        Rig rig;
        rig.useRealBoxes();
        QStringList shown;
        setShownBoxHook([&](QMessageBox *box) {
            shown << box->text();
            if (shown.size() == 1) portErrorBox(rig.main.get(), QStringLiteral("second"));
            box->button(QMessageBox::Ok)->click();
        });
        portErrorBox(rig.main.get(), QStringLiteral("first"));
        QCOMPARE(shown, QStringList{QStringLiteral("Erreur port com\nfirst")});
        portErrorBox(rig.main.get(), QStringLiteral("later"));
        QCOMPARE(shown.size(), 2);
    }

    // What the box says when the port cannot be opened, through the real serial port.
    void portMessages_data() {
        QTest::addColumn<QString>("device"); // behind COM 2; "pty" for a port already in use
        QTest::addColumn<QString>("reason");
        QTest::newRow("no device") << ""
                                   << "COM 2 : aucun port série associé";
        QTest::newRow("missing") << "/nonexistent/ttyUSB7"
                                 << "/nonexistent/ttyUSB7 : périphérique introuvable (débranché ?)";
        QTest::newRow("directory") << "/tmp"
                                   << "/tmp : n'est pas un port série";
        QTest::newRow("not a terminal") << "/dev/null"
                                        << "/dev/null : n'est pas un port série";
        QTest::newRow("in use") << "pty"
                                << "%1 : port occupé par un autre programme";
    }
    void portMessages() {
        QFETCH(QString, device);
        QFETCH(QString, reason);
        Pty pty;
        serialio::SerialBytePort holder(pty.path());
        if (device == QLatin1String("pty")) {
            QString why;
            if (pty.path().isEmpty() || !holder.open(&why)) QSKIP("no pseudo-terminal here");
            device = pty.path();
            reason = reason.arg(device);
        }
        const FakeDevices fake(kTwoDevices);
        serialio::ComMap ports(4);
        ports.setSystemPorts({QStringLiteral("/dev/ttyNOTUSED")});
        if (!device.isEmpty()) ports.set(2, device, false);
        ChargerLink link([](const QString &d) { return new serialio::SerialBytePort(d); },
                         [&](int n) { return ports.device(n); });
        QStringList boxes;
        setBoxHook([&](const BoxRequest &r) {
            boxes << r.text;
            return true;
        });
        {
            Main main(link, ports);
            auto *list = main.findChild<QListWidget *>(QStringLiteral("ListComSel"));
            emit list->itemClicked(list->item(1));
            main.findChild<QPushButton *>(QStringLiteral("Cb_Reconnect"))->click();
        }
        setBoxHook({});
        QCOMPARE(boxes,
                 QStringList{QStringLiteral("Erreur port com\n") + reason + kTwoDevicesText});
    }

    // A port that will not open: the box lists the serial devices there are, or says there
    // is none, so that the user sees which one to pick.
    void refusedPortListsTheDevices_data() {
        QTest::addColumn<bool>("any");
        QTest::addColumn<QString>("list");
        QTest::newRow("two devices") << true << kTwoDevicesText;
        QTest::newRow("none") << false
                              << QStringLiteral("\n\nAucun port série trouvé sur cet ordinateur.\n"
                                                "Choix du port : menu File, « Selection du port "
                                                "com ».");
    }
    void refusedPortListsTheDevices() {
        QFETCH(bool, any);
        QFETCH(QString, list);
        const FakeDevices fake(any ? kTwoDevices : QList<serialio::SerialDevice>());
        Rig rig;
        rig.setRefuse(true);
        rig.connect();
        QCOMPARE(rig.boxes, QStringList{QStringLiteral("Erreur port com\nchargeur virtuel : "
                                                       "refused") +
                                        list});
        QVERIFY(!rig.link.isOpen());
    }

    // Closing a dialog of the window hands the activation back to it: that is no return to
    // the window, and the link is left as it was (no new handshake).
    void closingADialogIsNoReturn_data() {
        QTest::addColumn<QString>("control");
        QTest::newRow("port mapping") << "CbAssocPort";
        QTest::newRow("about box") << "MnuAPropos";
    }
    void closingADialogIsNoReturn() {
        QFETCH(QString, control);
        Rig rig;
        QVERIFY(rig.start());
        QVERIFY(rig.link.isOpen());
        QCOMPARE(rig.link.reconnectOnActivate, 1); // a return would run the handshake again
        rig.click("MSelCom");
        QSignalSpy probing(&rig.main->handshake(), &Handshake::display);
        QSignalSpy handled(rig.main.get(), &Main::activationHandled);
        const int opensBefore = rig.opens();
        bool closed = false;
        QTimer::singleShot(0, rig.main.get(), [&closed] {
            QWidget *d = QApplication::activeModalWidget();
            if (auto *box = qobject_cast<QMessageBox *>(d)) {
                box->button(QMessageBox::Ok)->click();
                closed = true;
            } else if (d) {
                d->findChild<QPushButton *>(QStringLiteral("CbAnnuler"))->click();
                closed = true;
            }
        });
        rig.click(qPrintable(control));
        QVERIFY(closed);
        rig.main->activateWindow();
        QVERIFY(Rig::handledAny(handled));
        QCOMPARE(handled.first().at(0).toBool(), true); // from a dialog of the program
        QVERIFY(probing.isEmpty());
        QCOMPARE(rig.opens(), opensBefore);
        QVERIFY(rig.link.isOpen());
    }

    // The mapping dialog: nothing to map without a path; a device plugged in while it is
    // open shows after "Actualiser la liste", and what the user typed stays.
    void mappingDialogKeepsTheTypedPath() {
        QList<serialio::SerialDevice> devices{kTwoDevices.first()};
        const FakeDevices restore({}); // the system's list again on the way out
        serialio::setDeviceLister([&devices] { return devices; });
        serialio::ComMap ports(4);
        ports.set(2, QStringLiteral("/dev/ttyUSB0"), false);
        {
            AssocPort d(ports, 2);
            auto *path = d.findChild<QLineEdit *>(QStringLiteral("TxtChemin"));
            auto *ok = d.findChild<QPushButton *>(QStringLiteral("CbAssocier"));
            auto *found = d.findChild<QListWidget *>(QStringLiteral("ListPeriph"));
            QCOMPARE(path->text(), QStringLiteral("/dev/ttyUSB0")); // what COM 2 stands for
            QCOMPARE(found->currentRow(), 0);
            path->setText(QStringLiteral("   "));
            QVERIFY(!ok->isEnabled());
            path->setText(QStringLiteral(" /dev/pts/3 "));
            QVERIFY(ok->isEnabled());
            devices << kTwoDevices.last();
            d.findChild<QPushButton *>(QStringLiteral("CbActualiser"))->click();
            QCOMPARE(found->count(), 2);
            QCOMPARE(found->item(0)->text(), QStringLiteral("/dev/ttyS0"));
            QCOMPARE(d.chosenDevice(), QStringLiteral("/dev/pts/3"));
            d.findChild<QComboBox *>(QStringLiteral("CmbCom"))->setCurrentIndex(3);
            QCOMPARE(d.chosenNumber(), 4);
            devices.clear();
            d.findChild<QPushButton *>(QStringLiteral("CbActualiser"))->click();
            QCOMPARE(found->count(), 1); // says none was found; not a device to pick
            QVERIFY(!(found->item(0)->flags() & Qt::ItemIsEnabled));
        }
    }

    // The port choice maps a COM number to any device, picked among those found or typed;
    // the mapping shows at once, outlives the run as --com does, and the next connection on
    // that number goes to the new device. Mapping the port in use leaves the old device as
    // choosing a port does; mapping another number leaves the link alone.
    void comMappingFromTheWindow_data() {
        QTest::addColumn<int>("com");
        QTest::addColumn<int>("pick");       // row of the devices found, -1: typed
        QTest::addColumn<QString>("device"); // the device COM `com` stands for afterwards
        QTest::newRow("port in use, picked") << 1 << 1 << "/dev/ttyUSB0";
        QTest::newRow("port in use, typed") << 1 << -1 << "/dev/pts/9";
        QTest::newRow("another port, picked") << 3 << 0 << "/dev/ttyS0";
        QTest::newRow("another port, typed") << 4 << -1 << "/dev/pts/9";
    }
    void comMappingFromTheWindow() {
        QFETCH(int, com);
        QFETCH(int, pick);
        QFETCH(QString, device);
        const FakeDevices fake(kTwoDevices);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("ports.ini"));
        sim::VirtualCharger charger;
        serialio::ComMap ports(4, file);
        ports.set(1, QStringLiteral("/dev/before"), false);
        QStringList made;
        ChargerLink link(
            [&](const QString &d) {
                made << d;
                return new ScriptedCharger(&charger);
            },
            [&](int n) { return ports.device(n); });
        link.setReplyTimeout(500);
        QStringList boxes;
        setBoxHook([&](const BoxRequest &r) {
            boxes << r.text;
            return true;
        });
        Main main(link, ports);
        QTimer::singleShot(5000, &main.handshake(), [&] { main.handshake().cancel(); });
        main.activate();
        QCOMPARE(link.connectionFlag, 1);
        QVERIFY(link.isOpen());

        main.findChild<QAction *>(QStringLiteral("MSelCom"))->trigger();
        auto *list = main.findChild<QListWidget *>(QStringLiteral("ListComSel"));
        list->setCurrentRow(com - 1); // the entry the user stands on, not chosen
        bool seen = false;
        QTimer::singleShot(0, &main, [&] {
            auto *d = qobject_cast<AssocPort *>(QApplication::activeModalWidget());
            if (!d) return;
            seen = true;
            QCOMPARE(d->findChild<QComboBox *>(QStringLiteral("CmbCom"))->currentIndex(), com - 1);
            auto *found = d->findChild<QListWidget *>(QStringLiteral("ListPeriph"));
            QCOMPARE(found->count(), 2);
            QCOMPARE(found->item(1)->text(),
                     QStringLiteral("/dev/ttyUSB0  FT232R USB UART (0403:6001)"));
            if (pick >= 0)
                found->setCurrentRow(pick);
            else
                d->findChild<QLineEdit *>(QStringLiteral("TxtChemin"))
                    ->setText(QStringLiteral("  ") + device);
            d->findChild<QPushButton *>(QStringLiteral("CbAssocier"))->click();
        });
        main.findChild<QPushButton *>(QStringLiteral("CbAssocPort"))->click();
        QVERIFY(seen);
        setBoxHook({});

        // Shown at once, the list still open.
        QVERIFY(list->isVisible() || !main.isVisible());
        QCOMPARE(list->item(com - 1)->data(Qt::UserRole).toString(), device);
        QCOMPARE(list->item(com - 1)->text(), QStringLiteral("COM %1").arg(com));
        QCOMPARE(link.portNumber, 1);
        // Remembered for the next run.
        QCOMPARE(serialio::ComMap(4, file).device(com), device);
        QCOMPARE(boxes, QStringList());
        if (com == 1) {
            QVERIFY(!link.isOpen());
            QCOMPARE(link.connectionFlag, 0);
            QCOMPARE(made.last(), device); // set up on the new device
            QTimer::singleShot(5000, &main.handshake(), [&] { main.handshake().cancel(); });
            main.findChild<QPushButton *>(QStringLiteral("Cb_Reconnect"))->click();
            QCOMPARE(link.connectionFlag, 1);
            QCOMPARE(made.last(), device);
        } else {
            QVERIFY(link.isOpen());
            QCOMPARE(link.connectionFlag, 1);
            QCOMPARE(made, QStringList{QStringLiteral("/dev/before")});
            emit list->itemClicked(list->item(com - 1)); // then chosen: it is used
            QTimer::singleShot(5000, &main.handshake(), [&] { main.handshake().cancel(); });
            main.findChild<QPushButton *>(QStringLiteral("Cb_Reconnect"))->click();
            QCOMPARE(link.connectionFlag, 1);
            QCOMPARE(made.last(), device);
        }
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

        const FakeDevices fake(kTwoDevices);
        AssocPort dialog(rig.ports, 2);
        dialog.show();
        const QImage pic = dialog.grab().toImage();
        QVERIFY(!pic.isNull());
        if (!dir.isEmpty()) QVERIFY(pic.save(dir + QStringLiteral("/assocport.png")));
    }

    // Closing the window while the handshake probes a silent port ends cleanly.
    void closingWhileProbingEndsTheProbe() {
        ScriptedCharger *silent = nullptr;
        serialio::ComMap ports(4);
        ChargerLink link([&](const QString &) { return silent = ScriptedCharger::silent(); },
                         [](int) { return QStringLiteral("silent"); });
        auto *main = new Main(link, ports);
        QTimer::singleShot(600, main, [main] { main->close(); });
        main->activate(); // returns only when the close has ended the probing
        QVERIFY(!main->handshake().isRunning());
        QVERIFY(!link.isOpen());
        QVERIFY(silent->written.size() >= 2);
        delete main;
    }
    // "Quitter" sends nothing to the charger and closes the port.
    void quitterSendsNothing_data() {
        QTest::addColumn<QString>("control");
        QTest::newRow("button") << "Cb_quitter";
        QTest::newRow("menu entry") << "Mnuquitter";
    }
    void quitterSendsNothing() {
        QFETCH(QString, control);
        Rig rig;
        rig.connect();
        QVERIFY(rig.link.isOpen());
        const QByteArray before = rig.sent();
        rig.click(qPrintable(control));
        QTest::qWait(50);
        QCOMPARE(rig.sent(), before);
        QVERIFY(!rig.link.isOpen());
    }
};

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
