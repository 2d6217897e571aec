// The windows without a mouse: every control that takes input in the main window and in the
// run windows is reached by Tab or has its Alt key, the Alt keys of a window do not clash, a
// caption's Alt key puts the cursor in its field, every control has a name for screen
// readers, Escape closes the boxes and the monitor selector (never a run window), and the
// note of a refused sleep lock shows once in every run window.
#include "bench.h"
#include "calib/register.h"
#include "diag/register.h"
#include "firmware/register.h"
#include "modes/chargeur.h"
#include "modes/dechargeur.h"
#include "modes/mescapa.h"
#include "modes/moni.h"
#include "modes/runchart.h"
#include "serial/commap.h"
#include "support/shot.h"
#include "ui/main/mainwindow.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>
#include <QtTest>
#include <memory>

namespace {

// A control the user acts on. The DV/DT lamp is an indicator: no focus and no mouse.
bool takesInput(QWidget *w) {
    if (w->focusPolicy() == Qt::NoFocus && w->testAttribute(Qt::WA_TransparentForMouseEvents))
        return false;
    if (qobject_cast<QScrollBar *>(w)) // a list's or a text box's own, or one that picks rows
        for (QWidget *p = w->parentWidget(); p; p = p->parentWidget())
            if (qobject_cast<QAbstractScrollArea *>(p)) return false;
    for (QWidget *p = w->parentWidget(); p; p = p->parentWidget())
        if (qobject_cast<QAbstractSpinBox *>(p) || qobject_cast<QComboBox *>(p)) return false;
    return qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w) ||
           qobject_cast<QAbstractSpinBox *>(w) || qobject_cast<QComboBox *>(w) ||
           qobject_cast<QAbstractSlider *>(w) || qobject_cast<QAbstractItemView *>(w) ||
           qobject_cast<QPlainTextEdit *>(w) || qobject_cast<QTextEdit *>(w) ||
           qobject_cast<modes::RunChart *>(w);
}

QList<QWidget *> inputControls(QWidget *window) {
    QList<QWidget *> l;
    for (QWidget *w : window->findChildren<QWidget *>())
        if (w->isVisibleTo(window) && w->isEnabled() && takesInput(w)) l << w;
    return l;
}

QString describe(const QWidget *w) {
    return QStringLiteral("%1 (%2)").arg(w->objectName(), w->metaObject()->className());
}

// The label whose Alt key leads to w, if any.
QLabel *captionOf(QWidget *window, QWidget *w) {
    for (QLabel *l : window->findChildren<QLabel *>())
        if (l->buddy() == w && l->isVisibleTo(window)) return l;
    return nullptr;
}

QKeySequence altKey(QWidget *window, QWidget *w) {
    if (auto *b = qobject_cast<QAbstractButton *>(w)) return QKeySequence::mnemonic(b->text());
    if (QLabel *l = captionOf(window, w)) return QKeySequence::mnemonic(l->text());
    return {};
}

// Tab from the focus until it comes back round; what was reached, in order.
QList<QWidget *> tabRound(QWidget *window, bool forward) {
    QList<QWidget *> seen;
    for (int i = 0; i < 200; ++i) {
        QWidget *f = QApplication::focusWidget();
        if (!f || f->window() != window || seen.contains(f)) break;
        seen << f;
        QTest::keyClick(f, Qt::Key_Tab, forward ? Qt::NoModifier : Qt::ShiftModifier);
    }
    return seen;
}

// A window under test: the main window (stand-alone, its link left to the user so that
// showing it starts no handshake) or a run window opened from a stand-in main window.
struct Opened {
    std::unique_ptr<Bench> bench = std::make_unique<Bench>();
    serialio::ComMap ports{4};
    std::unique_ptr<Main> main;
    QPointer<QWidget> window;

    explicit Opened(const QString &id) {
        diag::registerWindows(*bench->registry);
        calib::registerWindows(*bench->registry);
        firmware::registerWindows(*bench->registry);
        if (id.startsWith(QLatin1String("Main"))) {
            main = std::make_unique<Main>(*bench->link, ports);
            bench->link->userDisconnected = true;
            main->show();
            if (id.endsWith(QLatin1String("ports")))
                main->findChild<QAction *>(QStringLiteral("MSelCom"))->trigger();
            window = main.get();
        } else {
            window = bench->registry->open(id, &bench->main);
        }
    }
    ~Opened() {
        if (!window || window == main.get()) return;
        window->close(); // through its way out, as the user leaves it
        if (!QTest::qWaitFor([this] { return !window; }, 3000)) delete window.data();
    }
    bool active() {
        if (!window) return false;
        window->activateWindow();
        return QTest::qWaitForWindowActive(window);
    }
};

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT
    static void windows_data();

  private slots:
    void reachedWithoutMouse();
    void reachedWithoutMouse_data() { windows_data(); }
    void altKeysDoNotClash();
    void altKeysDoNotClash_data() { windows_data(); }
    void captionsLeadToTheirFields();
    void captionsLeadToTheirFields_data();
    void everyControlHasAName();
    void everyControlHasAName_data() { windows_data(); }
    void escapeClosesBoxes_data();
    void escapeClosesBoxes();
    void escapeInWindows_data();
    void escapeInWindows();
    void chartMenuFromKeyboard();
    void sleepNoteShownOnce_data();
    void sleepNoteShownOnce();
};

void TestKeyboard::windows_data() {
    QTest::addColumn<QString>("id");
    QTest::newRow("main window") << "Main";
    QTest::newRow("main window, port list shown") << "Main ports";
    QTest::newRow("charge") << "Chargeur";
    QTest::newRow("discharge") << "Dechargeur";
    QTest::newRow("capacity") << "MesCapa";
    QTest::newRow("monitor selector") << "SelMoni";
    QTest::newRow("monitor") << "Moni";
    QTest::newRow("microcontroller") << "Micro";
    QTest::newRow("state panel") << "FEtat";
    QTest::newRow("EEPROM editor") << "EEprom";
    QTest::newRow("external EEPROM editor") << "Exteepr";
    QTest::newRow("calibration selector") << "Reglage";
    for (const char *calibration :
         {"Temper", "Reglageauto", "Vout", "Vfiltrage", "Rcourant", "RglDech", "RegLIPO", "RegPB"})
        QTest::newRow(calibration) << calibration;
}

// Every control that takes input is reached by Tab, both ways round, or has its Alt key.
void TestKeyboard::reachedWithoutMouse() {
    QFETCH(QString, id);
    Opened o(id);
    QVERIFY(o.active());
    const QList<QWidget *> controls = inputControls(o.window);
    QVERIFY(!controls.isEmpty());
    if (!QApplication::focusWidget()) controls.first()->setFocus(Qt::TabFocusReason);
    QVERIFY(QApplication::focusWidget());
    const QList<QWidget *> forward = tabRound(o.window, true);
    const QList<QWidget *> backward = tabRound(o.window, false);
    QCOMPARE(QSet<QWidget *>(backward.begin(), backward.end()),
             QSet<QWidget *>(forward.begin(), forward.end()));
    QStringList missed;
    for (QWidget *w : controls)
        if (!forward.contains(w) && altKey(o.window, w).isEmpty()) missed << describe(w);
    QVERIFY2(missed.isEmpty(), qPrintable(missed.join(QStringLiteral(", "))));
    shot(*o.window, qPrintable(QStringLiteral("keyboard-") + id.replace(QLatin1Char(' '), '-')));
}

// An Alt key used twice in a window reaches only the first of its controls.
void TestKeyboard::altKeysDoNotClash() {
    QFETCH(QString, id);
    Opened o(id);
    QVERIFY(o.window);
    QHash<QString, QString> owner;
    QStringList clashes;
    const auto claim = [&](const QKeySequence &k, const QString &who) {
        if (k.isEmpty()) return;
        const QString key = k.toString().toUpper();
        if (owner.contains(key))
            clashes << QStringLiteral("%1: %2 and %3").arg(key, owner[key], who);
        else
            owner.insert(key, who);
    };
    for (QWidget *w : inputControls(o.window))
        claim(altKey(o.window, w), describe(w));
    if (auto *mw = qobject_cast<QMainWindow *>(o.window.data()))
        for (QAction *menu : mw->menuBar()->actions())
            claim(QKeySequence::mnemonic(menu->text()), QStringLiteral("menu ") + menu->text());
    QVERIFY2(clashes.isEmpty(), qPrintable(clashes.join(QStringLiteral("; "))));
    QVERIFY(!owner.isEmpty());
}

// Alt and a caption's letter put the cursor in the field it names.
void TestKeyboard::captionsLeadToTheirFields_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<int>("fields"); // named by a caption with an Alt key
    QTest::newRow("main window: the link's state") << "Main" << 1;
    QTest::newRow("charge: MODE, GAIN DELTA, DECALAGE DELTA") << "Chargeur" << 3;
    QTest::newRow("discharge: Nombre Elements") << "Dechargeur" << 1;
    QTest::newRow("capacity: cycles, cells, mode") << "MesCapa" << 3;
    QTest::newRow("EEPROM editor: address, row") << "EEprom" << 2;
    QTest::newRow("state panel: the four potentiometers") << "FEtat" << 4;
    QTest::newRow("calibration selector") << "Reglage" << 1;
    QTest::newRow("charge current calibration: pot, count, current") << "Rcourant" << 3;
    QTest::newRow("supply calibration: supply, doubler") << "Vfiltrage" << 2;
    QTest::newRow("lithium calibration: cells, gain, offset") << "RegLIPO" << 3;
}

void TestKeyboard::captionsLeadToTheirFields() {
    QFETCH(QString, id);
    QFETCH(int, fields);
    Opened o(id);
    QVERIFY(o.active());
    int captions = 0;
    for (QWidget *w : inputControls(o.window)) {
        QLabel *l = captionOf(o.window, w);
        if (!l) continue;
        const QKeySequence k = QKeySequence::mnemonic(l->text());
        if (k.isEmpty()) continue;
        ++captions;
        for (QWidget *other : inputControls(o.window))
            if (other != w && other->focusPolicy() & Qt::TabFocus) {
                other->setFocus(Qt::TabFocusReason);
                break;
            }
        QVERIFY(QApplication::focusWidget() != w);
        QTest::keySequence(o.window, k);
        QVERIFY2(QApplication::focusWidget() == w, qPrintable(l->text()));
    }
    QCOMPARE(captions, fields);
}

// A screen reader names every control: by its caption, its label, or a name of its own where
// the caption next to it shows a value.
void TestKeyboard::everyControlHasAName() {
    QFETCH(QString, id);
    Opened o(id);
    QVERIFY(o.window);
    QStringList unnamed;
    for (QWidget *w : inputControls(o.window)) {
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
        const QString name = a ? a->text(QAccessible::Name).trimmed() : QString();
        // A name that changes with the value (the setpoint label) is no name.
        if (name.isEmpty() || name.contains(QLatin1Char('=')) || name.contains(QLatin1Char('&')))
            unnamed << describe(w) + QStringLiteral(" \"") + name + QLatin1Char('"');
    }
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
}

// The program's boxes close with Escape; a question closed so is answered No.
void TestKeyboard::escapeClosesBoxes_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("answer");
    QTest::newRow("error") << "error" << false;
    QTest::newRow("information") << "info" << false;
    QTest::newRow("question") << "question" << false;
    QTest::newRow("risky question") << "risky" << false;
    QTest::newRow("about") << "about" << false;
}

void TestKeyboard::escapeClosesBoxes() {
    QFETCH(QString, box);
    QFETCH(bool, answer);
    QWidget parent;
    parent.show();
    QVERIFY(QTest::qWaitForWindowActive(&parent));
    int escapes = 0;
    QTimer press;
    press.setInterval(20);
    connect(&press, &QTimer::timeout, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            ++escapes;
            QTest::keyClick(modal, Qt::Key_Escape);
        }
    });
    QTimer bound; // a box that does not close fails the test instead of hanging it
    bound.setSingleShot(true);
    connect(&bound, &QTimer::timeout, [] {
        if (QWidget *modal = QApplication::activeModalWidget()) modal->close();
    });
    press.start();
    bound.start(5000);
    bool result = false;
    std::unique_ptr<Bench> bench;
    std::unique_ptr<Main> main;
    serialio::ComMap ports{4};
    if (box == QLatin1String("error")) {
        chlink::errorBox(&parent, QStringLiteral("Erreur"));
    } else if (box == QLatin1String("info")) {
        chlink::infoBox(&parent, QStringLiteral("Info"));
    } else if (box == QLatin1String("question")) {
        result = chlink::askYesNo(&parent, QStringLiteral("Oui ?"));
    } else if (box == QLatin1String("risky")) {
        result = chlink::askYesNoRisky(&parent, QStringLiteral("Vraiment ?"));
    } else {
        bench = std::make_unique<Bench>();
        chlink::setBoxHook(nullptr);
        main = std::make_unique<Main>(*bench->link, ports);
        bench->link->userDisconnected = true;
        main->show();
        main->findChild<QAction *>(QStringLiteral("MnuAPropos"))->trigger();
    }
    QVERIFY(bound.isActive());
    QCOMPARE(escapes, 1);
    QCOMPARE(result, answer);
}

// Escape is "Retour" in the monitor and calibration selectors; a run window stays (its run with
// it): leaving one is a button's business.
void TestKeyboard::escapeInWindows_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("closes");
    QTest::newRow("monitor selector") << "SelMoni" << true;
    QTest::newRow("calibration selector") << "Reglage" << true;
    QTest::newRow("charge") << "Chargeur" << false;
    QTest::newRow("discharge") << "Dechargeur" << false;
    QTest::newRow("capacity") << "MesCapa" << false;
    QTest::newRow("monitor") << "Moni" << false;
}

void TestKeyboard::escapeInWindows() {
    QFETCH(QString, id);
    QFETCH(bool, closes);
    Opened o(id);
    QVERIFY(o.active());
    QVERIFY(!o.bench->main.isVisible());
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : o.window.data(),
                    Qt::Key_Escape);
    if (closes) {
        QTRY_VERIFY(!o.window);
        QVERIFY(o.bench->main.isVisible());
    } else {
        QTest::qWait(50);
        QVERIFY(o.window && o.window->isVisible());
    }
}

// The chart's menu (its exports) opens from the keyboard once Tab has reached it.
void TestKeyboard::chartMenuFromKeyboard() {
    QWidget window;
    auto *chart = new modes::RunChart(QStringLiteral("Batterie"), QStringLiteral("V"),
                                      QStringLiteral("A"), &window);
    window.resize(400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    chart->setFocus(Qt::TabFocusReason);
    QCOMPARE(QApplication::focusWidget(), chart);
    shot(window, "keyboard-chart");
    for (const QKeyCombination key :
         {QKeyCombination(Qt::Key_Menu), QKeyCombination(Qt::ShiftModifier, Qt::Key_F10)}) {
        QStringList entries;
        QTimer look;
        look.setSingleShot(true);
        connect(&look, &QTimer::timeout, [&] {
            if (auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                for (QAction *a : menu->actions())
                    if (!a->isSeparator()) entries << a->text();
                menu->close();
            }
        });
        look.start(50);
        QTest::keyClick(chart, key.key(), key.keyboardModifiers());
        QTRY_VERIFY(!entries.isEmpty());
        QVERIFY2(entries.contains(QStringLiteral("Exporter en PDF…")),
                 qPrintable(entries.join(QStringLiteral(", "))));
    }
}

// A refused sleep lock is said in every run window, once, with the first reason.
void TestKeyboard::sleepNoteShownOnce_data() {
    QTest::addColumn<QString>("id");
    QTest::newRow("charge") << "Chargeur";
    QTest::newRow("discharge") << "Dechargeur";
    QTest::newRow("capacity") << "MesCapa";
    QTest::newRow("monitor") << "Moni";
}

void TestKeyboard::sleepNoteShownOnce() {
    QFETCH(QString, id);
    Opened o(id);
    QVERIFY(o.window);
    const modes::KeepAwake *awake = nullptr;
    if (auto *m = qobject_cast<modes::ModeWindow *>(o.window.data()))
        awake = &m->keepAwake();
    else if (auto *c = qobject_cast<modes::MesCapa *>(o.window.data()))
        awake = &c->keepAwake();
    else if (auto *n = qobject_cast<modes::Moni *>(o.window.data()))
        awake = &n->keepAwake();
    QVERIFY(awake);
    auto *note = o.window->findChild<QLabel *>(QStringLiteral("LbVeille"));
    QVERIFY(note);
    QVERIFY(!note->isVisible());
    auto &signaller = const_cast<modes::KeepAwake &>(*awake);
    emit signaller.refused(QStringLiteral("pas de bus système"));
    QVERIFY(note->isVisible());
    QCOMPARE(note->text(), QStringLiteral("Veille du PC non bloquée"));
    QVERIFY(note->toolTip().contains(QStringLiteral("pas de bus système")));
    // A second run refused again: still the one note, with what it first said.
    emit signaller.refused(QStringLiteral("accès refusé"));
    QVERIFY(!note->toolTip().contains(QStringLiteral("accès refusé")));
    QCOMPARE(o.window->findChildren<QLabel *>(QStringLiteral("LbVeille")).size(), 1);
    shot(*o.window, qPrintable(QStringLiteral("veille-") + id));
}

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
