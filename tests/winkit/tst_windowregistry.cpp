// Windows open by id through the registry, hide and show their opener, close through one
// path and are tracked while open.
#include "link/chargerlink.h"
#include "link/messages.h"
#include "link/session.h"
#include "support/scriptedcharger.h"
#include "winkit/windowregistry.h"

#include <QCloseEvent>
#include <QPushButton>
#include <QTest>
#include <optional>

using namespace winkit;

namespace {

// A window as a subsystem would write one: built in its constructor, "Retour" wired.
class TestWindow : public ChargerWindow {
  public:
    TestWindow(const Host &host, bool openerBackWhenIdle, int *leaves)
        : ChargerWindow(host), m_leaves(leaves) {
        setOpenerBackWhenIdle(openerBackWhenIdle);
        auto *quit = make<QPushButton>("CQuitter", QStringLiteral("Retour"));
        connect(quit, &QPushButton::clicked, this, &ChargerWindow::leave);
    }

  protected:
    void aboutToLeave() override { ++*m_leaves; }

  private:
    int *m_leaves;
};

// A window that asks before stopping its exchange, and stays shown until it has stopped
// (the microcontroller window's flash transfers).
class AskingWindow : public ChargerWindow {
  public:
    AskingWindow(const Host &host, const bool *answer, int *asked)
        : ChargerWindow(host), m_answer(answer), m_asked(asked) {
        setOpenerBackWhenIdle(true);
        setShownUntilIdle(true);
    }

  protected:
    bool mayClose() override {
        ++*m_asked;
        return *m_answer;
    }

  private:
    const bool *m_answer;
    int *m_asked;
};

struct Rig {
    chlink::ChargerLink link{[](const QString &) { return ScriptedCharger::silent(); },
                             [](int) { return QStringLiteral("scripted"); }};
    chlink::Session session{link};
    WindowRegistry registry{&session};
    QWidget main;
    int timersStopped = 0;
    int leaves = 0;
    QStringList boxes;

    Rig() {
        registry.setMainTimersStopper([this] { ++timersStopped; });
        chlink::setBoxHook([this](const chlink::BoxRequest &r) {
            boxes << r.text;
            return true;
        });
        main.show();
    }
    ~Rig() { chlink::setBoxHook({}); }

    void add(const QString &id, bool hidesOpener = true, bool stopsTimers = false,
             bool needsConnection = false, const QString &group = QString(),
             bool openerBackWhenIdle = false) {
        WindowEntry e;
        e.id = id;
        e.make = [this, openerBackWhenIdle](const Host &h) {
            return new TestWindow(h, openerBackWhenIdle, &leaves);
        };
        e.hidesOpener = hidesOpener;
        e.stopsMainTimers = stopsTimers;
        e.needsConnection = needsConnection;
        e.group = group;
        registry.add(e);
    }
};

} // namespace

class TstWindowRegistry : public QObject {
    Q_OBJECT
  private slots:
    void open_data() {
        QTest::addColumn<QString>("entry"); // "" not registered, "placeholder", "window"
        QTest::addColumn<bool>("needsConnection");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("menu"); // opened from a menu entry: no connection check
        QTest::addColumn<bool>("opened");
        QTest::addColumn<QString>("box");
        const QString none = QStringLiteral("Pas de connection avec chargeur");
        const QString notYet = QStringLiteral("Cette fenêtre n'est pas encore disponible.");
        QTest::newRow("plain window") << "window" << false << false << false << true << "";
        QTest::newRow("connected") << "window" << true << true << false << true << "";
        QTest::newRow("no connection") << "window" << true << false << false << false << none;
        QTest::newRow("no connection, menu entry")
            << "window" << true << false << true << true << "";
        QTest::newRow("no connection comes before not available")
            << "placeholder" << true << false << false << false << none;
        QTest::newRow("not available yet")
            << "placeholder" << false << false << false << false << notYet;
        QTest::newRow("not registered: nothing") << "" << false << false << false << false << "";
    }
    void open() {
        QFETCH(QString, entry);
        QFETCH(bool, needsConnection);
        QFETCH(bool, connected);
        QFETCH(bool, menu);
        QFETCH(bool, opened);
        QFETCH(QString, box);
        Rig rig;
        rig.link.connectionFlag = connected ? 1 : 0;
        if (entry == "window") rig.add(QStringLiteral("W"), true, false, needsConnection);
        if (entry == "placeholder")
            rig.registry.add({QStringLiteral("W"), {}, needsConnection, true, false, {}});
        QPointer<ChargerWindow> w = rig.registry.open(
            QStringLiteral("W"), &rig.main,
            menu ? WindowRegistry::Check::NoConnectionCheck : WindowRegistry::Check::AsRegistered);
        QCOMPARE(!w.isNull(), opened);
        QCOMPARE(rig.boxes, box.isEmpty() ? QStringList() : QStringList{box});
        QCOMPARE(rig.registry.openWindows().size(), opened ? 1 : 0);
        QCOMPARE(rig.main.isVisible(), !opened);
        if (w) QVERIFY(w->isVisible());
        delete w;
    }

    // Load hides the opener and stops the main window's timers as registered; "Retour"
    // and the frame share one closing path and differ only in the reconnect flag.
    void openerRule_data() {
        QTest::addColumn<bool>("hidesOpener");
        QTest::addColumn<bool>("stopsTimers");
        QTest::addColumn<bool>("retour");
        QTest::addColumn<int>("reconnectAfter");
        QTest::newRow("mode window, Retour") << true << true << true << 0;
        QTest::newRow("mode window, frame") << true << true << false << 1;
        QTest::newRow("side window, Retour") << false << false << true << 0;
    }
    void openerRule() {
        QFETCH(bool, hidesOpener);
        QFETCH(bool, stopsTimers);
        QFETCH(bool, retour);
        QFETCH(int, reconnectAfter);
        Rig rig;
        rig.link.reconnectOnActivate = 1;
        rig.add(QStringLiteral("W"), hidesOpener, stopsTimers);
        QPointer<ChargerWindow> w = rig.registry.open(QStringLiteral("W"), &rig.main);
        QVERIFY(w);
        QCOMPARE(rig.main.isVisible(), !hidesOpener);
        QCOMPARE(rig.timersStopped, stopsTimers ? 1 : 0);
        if (retour)
            w->findChild<QPushButton *>(QStringLiteral("CQuitter"))->click();
        else
            w->close();
        QVERIFY(rig.main.isVisible());
        QCOMPARE(rig.leaves, 1);
        QCOMPARE(rig.link.reconnectOnActivate, reconnectAfter);
        QVERIFY(rig.registry.openWindows().isEmpty());
        QTRY_VERIFY(w.isNull());
    }

    // Closed while one of its handlers is inside a wait: the window hides at once and is
    // deleted when the handler has returned; the opener comes back at once or then.
    void closedWhileBusy_data() {
        QTest::addColumn<bool>("openerBackWhenIdle");
        QTest::newRow("opener back at once") << false;
        QTest::newRow("opener back when idle") << true;
    }
    void closedWhileBusy() {
        QFETCH(bool, openerBackWhenIdle);
        Rig rig;
        rig.add(QStringLiteral("W"), true, false, false, QString(), openerBackWhenIdle);
        QPointer<ChargerWindow> w = rig.registry.open(QStringLiteral("W"), &rig.main);
        bool interrupted = false, aliveInWait = false, openerInWait = false;
        w->gate().request(1, [&] {
            w->leave();
            QTest::qWait(30); // the wait's event loop: deferred deletions run here
            interrupted = w && w->gate().interrupted();
            aliveInWait = !w.isNull() && w->isHidden();
            openerInWait = rig.main.isVisible();
        });
        QVERIFY(interrupted);
        QVERIFY(aliveInWait);
        QCOMPARE(openerInWait, !openerBackWhenIdle);
        QVERIFY(rig.main.isVisible());
        QCOMPARE(rig.leaves, 1);
        QTRY_VERIFY(w.isNull());
    }

    // A window that asks first: No keeps it open and its exchange running; Yes keeps it
    // shown until its exchange has ended, then the opener takes its place, unless the
    // program is ending by then (hidden at once, the opener stays hidden).
    void closedWhileBusyAsksFirst_data() {
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("ending");
        QTest::addColumn<bool>("shownInWait");
        QTest::addColumn<bool>("openerAfter");
        QTest::newRow("No") << false << false << true << false;
        QTest::newRow("Yes") << true << false << true << true;
        QTest::newRow("Yes, program ending") << true << true << false << false;
    }
    void closedWhileBusyAsksFirst() {
        QFETCH(bool, answer);
        QFETCH(bool, ending);
        QFETCH(bool, shownInWait);
        QFETCH(bool, openerAfter);
        Rig rig;
        int asked = 0;
        rig.registry.add({.id = QStringLiteral("W"), .make = [&](const Host &h) {
                              return new AskingWindow(h, &answer, &asked);
                          }});
        QPointer<ChargerWindow> w = rig.registry.open(QStringLiteral("W"), &rig.main);
        bool shown = false, openerInWait = true, closing = false;
        w->gate().request(1, [&] {
            if (ending) rig.link.shutdown();
            w->close();
            QTest::qWait(30);
            shown = w && w->isVisible();
            openerInWait = rig.main.isVisible();
            closing = w && w->isClosing();
        });
        QCOMPARE(asked, 1);
        QCOMPARE(closing, answer);
        QCOMPARE(shown, shownInWait);
        QVERIFY(!openerInWait);
        QCOMPARE(rig.main.isVisible(), openerAfter);
        if (!answer) {
            QVERIFY(w && w->isVisible());
            delete w;
            return;
        }
        QTRY_VERIFY(w.isNull());
        QCOMPARE(asked, 1);
    }

    // "Quitter" closes every open window, even a hidden opener; a window closes the others
    // of its group and only those.
    void tracking() {
        Rig rig;
        const QString calib = QStringLiteral("calibration");
        rig.add(QStringLiteral("A"), false, false, false, calib);
        rig.add(QStringLiteral("B"), true, false, false, calib);
        rig.add(QStringLiteral("C"));
        QPointer<ChargerWindow> c = rig.registry.open(QStringLiteral("C"), &rig.main);
        QPointer<ChargerWindow> a = rig.registry.open(QStringLiteral("A"), c);
        QPointer<ChargerWindow> b = a->openWindow(QStringLiteral("B"));
        QVERIFY(a && b && c);
        QVERIFY(a->isHidden()); // B hides its opener
        QCOMPARE(rig.registry.openWindow(QStringLiteral("B")), b.data());

        rig.registry.closeGroup(calib, b);
        QCOMPARE(rig.registry.openWindows(), (QList<ChargerWindow *>{c, b}));
        QTRY_VERIFY(a.isNull());

        rig.registry.closeAll();
        QVERIFY(rig.registry.openWindows().isEmpty());
        QTRY_VERIFY(b.isNull() && c.isNull());
        QCOMPARE(rig.leaves, 3);
        QVERIFY(rig.main.isVisible());
    }

    // "Quitter" closes every window the registry opened and hands back
    // those still inside a wait, which go once it ends.
    void closeAllHandsBackWindowsInAWait_data() {
        QTest::addColumn<bool>("busy");
        QTest::addColumn<bool>("closedBefore"); // by its frame, while in its wait
        QTest::newRow("window, idle") << false << false;
        QTest::newRow("window inside a wait") << true << false;
        QTest::newRow("window closed earlier, still in its wait") << true << true;
    }
    void closeAllHandsBackWindowsInAWait() {
        QFETCH(bool, busy);
        QFETCH(bool, closedBefore);
        Rig rig;
        rig.add(QStringLiteral("W"));
        QPointer<ChargerWindow> w = rig.registry.open(QStringLiteral("W"), &rig.main);
        QVERIFY(w);
        QVERIFY(w->testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(rig.registry.openWindows().size(), 1);
        std::optional<serialio::ExchangeGate::Exchange> x;
        if (busy) x.emplace(w->gate());
        if (closedBefore) QVERIFY(!w->close());

        const QList<QPointer<QWidget>> staying = rig.registry.closeAll();
        QCOMPARE(staying, busy ? QList<QPointer<QWidget>>{w.data()} : QList<QPointer<QWidget>>{});
        QVERIFY(w); // nothing is deleted under the caller
        QVERIFY(rig.registry.openWindows().isEmpty());
        if (busy) {
            // The wait ends: the window goes by itself.
            QTest::qWait(10);
            QVERIFY(w);
            x.reset();
        }
        QTRY_VERIFY(w.isNull());
    }
};

QTEST_MAIN(TstWindowRegistry)
#include "tst_windowregistry.moc"
