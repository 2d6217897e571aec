// The monitor window against a scripted charger on the user's COM 2: the switch to 19200 baud
// and back, the records taken from a stream joined anywhere, the log and its "Fichier" box,
// the chart, Arret and QUITTER in the middle of a record, a port that vanishes, the sleep
// lock, a wait that does not spin, and printing. Then the way there from the main window.
#include "link/chargerlink.h"
#include "link/messages.h"
#include "link/session.h"
#include "modes/moni.h"
#include "modes/register.h"
#include "modes/runchart.h"
#include "modes/runinfo.h"
#include "serial/commap.h"
#include "support/process.h"
#include "support/scriptedcharger.h"
#include "ui/main/app.h"
#include "ui/main/mainwindow.h"
#include "winkit/windowregistry.h"

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using modes::Moni;
using namespace modes::moni;

namespace {
// One record on the wire: its line feed, then 29 bytes (byte 7 '=').
QByteArray record(int sample, int vbat, int cour = 300, int temper = 500, int capacity = 0,
                  int type = 1) {
    QByteArray r(1 + kRecordBytes, 0);
    r[0] = char(kLineFeed);
    r[1] = 'C';
    r[2] = char(sample >> 8);
    r[3] = char(sample);
    r[6] = char(sample % 60);
    r[7] = '=';
    const auto word = [&r](int at, int v) {
        r[at] = char((v >> 8) & 0xFF);
        r[at + 1] = char(v & 0xFF);
    };
    word(8, vbat);
    word(10, cour);
    word(12, temper);
    word(18, capacity);
    r[20] = char(type);
    return r;
}
QList<QByteArray> records(int first, int count) {
    QList<QByteArray> l;
    for (int i = first; i < first + count; ++i)
        l << record(i, 600 + i);
    return l;
}
QStringList fileLines(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList l = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"));
    if (!l.isEmpty() && l.last().isEmpty()) l.removeLast();
    return l;
}

// The charger's side, one chunk of the stream every two milliseconds, with the test's actions
// before given chunks and, a few ticks after the last, at the end.
struct Feeder {
    QList<QByteArray> chunks;
    QHash<int, std::function<void()>> before;
    std::function<void()> atEnd;
    std::function<ScriptedCharger *()> fake;
    QTimer timer;
    int next = 0;
    int idle = 0;
    void start() {
        timer.setInterval(2);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto action = before.take(next)) action();
            if (next < chunks.size()) {
                fake()->deliver(chunks[next++]);
                return;
            }
            if (++idle < 5) return; // the last chunk has arrived by then
            timer.stop();
            if (atEnd) atEnd();
        });
        timer.start();
    }
};

// A link whose port numbers stand for devices "dev1" to "dev4", the user on COM 2, a stand-in
// main window and the program's mode windows in a registry.
struct Rig {
    QTemporaryDir dir;
    std::unique_ptr<chlink::ChargerLink> link;
    std::unique_ptr<chlink::Session> session;
    std::unique_ptr<winkit::WindowRegistry> registry;
    QWidget main;
    QStringList boxes;

    Rig() {
        link = std::make_unique<chlink::ChargerLink>(
            [](const QString &device) {
                auto *c = new ScriptedCharger;
                c->name = device;
                return c;
            },
            [](int n) { return QStringLiteral("dev%1").arg(n); });
        link->portNumber = 2;
        link->portSetup();
        link->openPort();
        session = std::make_unique<chlink::Session>(*link);
        registry = std::make_unique<winkit::WindowRegistry>(session.get());
        modes::registerWindows(*registry);
        chlink::setBoxHook([this](const chlink::BoxRequest &r) {
            boxes << r.text;
            return true;
        });
        main.show();
    }
    ~Rig() { chlink::setBoxHook(nullptr); }
    ScriptedCharger *fake() const { return static_cast<ScriptedCharger *>(link->port()); }
    // Opens the monitor and waits until it listens at 19200 baud.
    Moni *open() {
        auto *m = static_cast<Moni *>(registry->open(QStringLiteral("Moni"), &main));
        if (m && !QTest::qWaitFor([m] { return m->streamOpen(); }, 2000))
            qWarning("the monitor did not reach 19200 baud");
        return m;
    }
    // Runs the listening loop with the feeder going; the loop must end by itself (Arret,
    // QUITTER or the port) within five seconds.
    void listen(Moni *m, Feeder &feed) {
        feed.fake = [this] { return fake(); };
        feed.start();
        QPointer<Moni> w = m;
        QTimer::singleShot(5000, m, [w] {
            if (w) w->arret();
        });
        QElapsedTimer t;
        t.start();
        m->depart();
        QVERIFY(t.elapsed() < 4500);
    }
};
} // namespace

class TestMoni : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        // The monitor's log folder ("temp" in the program's data folder) lands in here.
        QVERIFY(m_data.isValid());
        qputenv("XDG_DATA_HOME", m_data.path().toLocal8Bit());
    }
    void init() { QDir(logDir()).removeRecursively(); }

    void opensAtTheStreamSpeedAndLeavesAtNine_data();
    void opensAtTheStreamSpeedAndLeavesAtNine();
    void logFollowsTheFileBox_data();
    void logFollowsTheFileBox();
    void chartAndCaptions();
    void logFolderRefused();
    void vanishedPortEndsListening();
    void waitingSleeps();
    void printsToPdf();
    void printButtonUsesTheDialog();
    void fromTheMainWindow();

  private:
    QString logDir() const { return m_data.path() + QStringLiteral("/tst_moni/temp"); }
    // The logs (each with its sidecar beside it).
    QStringList logFiles() const {
        return QDir(logDir()).entryList({QStringLiteral("*.txt")},
                                        QDir::Files | QDir::NoDotAndDotDot);
    }
    QTemporaryDir m_data;
};

// Opening sends command 3 at 9600 baud and reopens COM 2 (not COM 1) at 19200; leaving,
// whenever, closes the log with whole records only and sets COM 2 up again at 9600.
void TestMoni::opensAtTheStreamSpeedAndLeavesAtNine_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("recordsBefore"); // records taken before leaving (-1: not listening)
    QTest::addColumn<bool>("midRecord");    // leave with half a record received
    QTest::newRow("QUITTER, idle") << "CbQuit" << -1 << false;
    QTest::newRow("the frame, idle") << "frame" << -1 << false;
    QTest::newRow("QUITTER while listening") << "CbQuit" << 3 << false;
    QTest::newRow("QUITTER in the middle of a record") << "CbQuit" << 3 << true;
    QTest::newRow("the frame in the middle of a record") << "frame" << 4 << true;
    QTest::newRow("Arret in the middle of a record, then QUITTER") << "CbArret" << 2 << true;
}

void TestMoni::opensAtTheStreamSpeedAndLeavesAtNine() {
    QFETCH(QString, how);
    QFETCH(int, recordsBefore);
    QFETCH(bool, midRecord);
    Rig rig;
    ScriptedCharger *fake = rig.fake();
    QCOMPARE(fake->baudRate(), 9600);
    fake->onCommand = [&](const QString &) {
        QCOMPARE(fake->baudRate(), 9600); // command 3 goes at the dialogue's speed
    };
    QPointer<Moni> m = rig.open();
    QVERIFY(m);
    QCOMPARE(fake->commands, QStringList{"3"});
    QCOMPARE(rig.link->deviceName(), QStringLiteral("dev2"));
    QCOMPARE(rig.fake(), fake);
    QVERIFY(rig.link->isOpen());
    QCOMPARE(fake->baudRate(), 19200);
    QVERIFY(!rig.main.isVisible());

    const auto leave = [&] {
        if (how == "CbArret") {
            m->findChild<QPushButton *>("CbArret")->click();
        } else if (how == "CbQuit") {
            m->findChild<QPushButton *>("CbQuit")->click();
        } else {
            m->close();
        }
    };
    QString path;
    if (recordsBefore >= 0) {
        Feeder feed;
        feed.chunks = records(1, recordsBefore);
        if (midRecord) feed.chunks << record(99, 1).left(12);
        feed.atEnd = [&] {
            path = m->logPath();
            QVERIFY(m->logOpen());
            leave();
        };
        rig.listen(m, feed);
        QVERIFY(m);
        QVERIFY(!m->isListening());
        QVERIFY(!m->logOpen());
        QCOMPARE(fileLines(path).size(), 1 + recordsBefore); // header and whole records
        if (how == "CbArret") {
            QCOMPARE(m->findChild<QLabel *>("LbEtat")->text(), QStringLiteral("Arret"));
            QVERIFY(m->findChild<QPushButton *>("CbDepart")->isEnabled());
            QCOMPARE(fake->baudRate(), 19200); // still listening to the stream
            m->findChild<QPushButton *>("CbQuit")->click();
        }
    } else {
        leave();
    }
    QTRY_VERIFY(!m);
    if (recordsBefore >= 0) {
        // The log's sidecar says where it came from and why the listening ended.
        const auto info = modes::readRunInfo(path);
        QVERIFY(info);
        QCOMPARE(info->window, QStringLiteral("Moni"));
        QCOMPARE(info->port, QStringLiteral("dev2"));
        QVERIFY(info->start.isValid());
        QCOMPARE(info->endReason,
                 how == "CbArret" ? QStringLiteral("Arret") : QStringLiteral("Fenêtre fermée"));
    }
    QVERIFY(rig.link->isOpen());
    QCOMPARE(rig.link->deviceName(), QStringLiteral("dev2"));
    QCOMPARE(rig.fake(), fake);
    QCOMPARE(fake->baudRate(), 9600);
    QVERIFY(rig.main.isVisible());
    QCOMPARE(fake->commands, QStringList{"3"}); // nothing more is sent to the charger
    QVERIFY(rig.boxes.isEmpty());
}

// The log holds the header and one line per record, from the first whole record; without
// "Fichier" no file is made; ticking it during a run started without it writes nowhere;
// unticking it stops the writing.
void TestMoni::logFollowsTheFileBox_data() {
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<int>("toggleAt"); // record before which the box is clicked; -1 never
    QTest::addColumn<int>("logged");   // records in the file; -1 no file
    QTest::newRow("Fichier") << true << -1 << 12;
    QTest::newRow("without Fichier") << false << -1 << -1;
    QTest::newRow("Fichier ticked during the run") << false << 5 << -1;
    QTest::newRow("Fichier unticked during the run") << true << 5 << 4;
}

void TestMoni::logFollowsTheFileBox() {
    QFETCH(bool, ticked);
    QFETCH(int, toggleAt);
    QFETCH(int, logged);
    Rig rig;
    QPointer<Moni> m = rig.open();
    auto *box = m->findChild<QCheckBox *>("Chk_Fich");
    QVERIFY(box->isChecked());
    if (!ticked) box->click();
    QCOMPARE(m->fileFlag(), ticked);

    // Joined in the middle of a record: its tail is skipped.
    const QList<QByteArray> recs = records(1, 13);
    Feeder feed;
    feed.chunks << recs.first().mid(9);
    feed.chunks << recs.mid(1);
    if (toggleAt >= 0) feed.before[toggleAt] = [box] { box->click(); };
    feed.atEnd = [&] { m->arret(); };
    rig.listen(m, feed);
    QCOMPARE(m->tally().total(), 12);
    if (logged < 0) {
        QVERIFY(logFiles().isEmpty());
        QVERIFY(m->logPath().isEmpty());
        return;
    }
    QCOMPARE(logFiles().size(), 1);
    QVERIFY(m->logPath().startsWith(logDir()));
    QVERIFY(m->findChild<QLabel *>("LbFichier")->text().contains(logFiles().first()));
    QStringList want{logHeader()};
    for (int i = 1; i <= logged; ++i)
        want << logLine(decode(recs.at(i).mid(1)));
    QCOMPARE(fileLines(m->logPath()), want);
    QCOMPARE(QDir::currentPath(), QDir(logDir()).canonicalPath()); // later logs follow it

    // A second run never replaces the first one's log.
    box->setChecked(true);
    const QString first = m->logPath();
    Feeder again;
    again.chunks = records(1, 2);
    again.atEnd = [&] { m->arret(); };
    rig.listen(m, again);
    QVERIFY(m->logPath() != first);
    QCOMPARE(fileLines(first).size(), 1 + logged);
    QCOMPARE(fileLines(m->logPath()).size(), 3);
}

// "Fichier" ticked and the log folder cannot be made: said, and no listening without the log
// the user asked for.
void TestMoni::logFolderRefused() {
    Rig rig;
    QFile blocker(rig.dir.filePath(QStringLiteral("data")));
    QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the data folder would be
    blocker.close();
    const QByteArray before = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", blocker.fileName().toLocal8Bit());
    QPointer<Moni> m = rig.open();
    m->depart();
    qputenv("XDG_DATA_HOME", before);
    QCOMPARE(rig.boxes.size(), 1);
    QVERIFY(rig.boxes.first().startsWith(QStringLiteral("Impossible de créer le fichier journal")));
    QVERIFY(!m->isListening());
    QVERIFY(m->findChild<QPushButton *>("CbDepart")->isEnabled());
    QCOMPARE(m->findChild<QLabel *>("LbFichier")->text(), QStringLiteral("Journal : aucun"));
}

// A point every ten records; records of type 2 move the third series to the capacity / 10
// and change its caption, once; the next run starts a new chart with the first captions.
void TestMoni::chartAndCaptions() {
    Rig rig;
    QPointer<Moni> m = rig.open();
    m->findChild<QCheckBox *>("Chk_Fich")->setChecked(false);
    modes::RunChart *chart = m->findChild<modes::RunChart *>("MSChart1");
    QVERIFY(chart);
    Feeder feed;
    for (int i = 1; i <= 25; ++i)
        feed.chunks << record(i, 600, 300, 500, 1230, i > 12 ? 2 : 1);
    feed.atEnd = [&] { m->arret(); };
    rig.listen(m, feed);
    QCOMPARE(chart->pointCount(m->curve(Moni::CurveVbat)), 2);
    QCOMPARE(chart->pointCount(m->curve(Moni::CurveCour)), 2);
    QCOMPARE(chart->pointCount(m->curve(Moni::CurveTemper)), 1);
    QCOMPARE(chart->pointCount(m->curve(Moni::CurveCapacite)), 1);
    QCOMPARE(m->findChild<QLabel *>("MonLabel2")->text(), QStringLiteral("Courant"));
    QCOMPARE(m->findChild<QLabel *>("MonLabel3")->text(), QStringLiteral("Capacité"));

    Feeder again;
    again.chunks = records(1, 10);
    again.atEnd = [&] { m->arret(); };
    rig.listen(m, again);
    QCOMPARE(chart->pointCount(m->curve(Moni::CurveVbat)), 1);
    QCOMPARE(chart->pointCount(m->curve(Moni::CurveCapacite)), 0);
    QCOMPARE(m->findChild<QLabel *>("MonLabel3")->text(), QStringLiteral("Temperature Systeme"));
}

// The adapter unplugged in the middle of a record: listening ends, the log keeps every whole
// record, and the window itself says nothing (the main window reports the port, once).
void TestMoni::vanishedPortEndsListening() {
    Rig rig;
    QPointer<Moni> m = rig.open();
    Feeder feed;
    feed.chunks = records(1, 3);
    feed.chunks << record(4, 1).left(20);
    feed.atEnd = [&] { rig.fake()->vanish(); };
    rig.listen(m, feed);
    QVERIFY(!m->isListening());
    QVERIFY(!m->logOpen());
    QCOMPARE(fileLines(m->logPath()).size(), 4);
    QCOMPARE(m->findChild<QLabel *>("LbEtat")->text(),
             QStringLiteral("Liaison perdue : écoute arrêtée"));
    QCOMPARE(modes::readRunInfo(m->logPath())->endReason,
             QStringLiteral("Liaison perdue : écoute arrêtée"));
    QVERIFY(!m->keepAwake().wanted());
    QVERIFY(rig.boxes.isEmpty());
    // The device is gone: leaving cannot reopen it, and says nothing more either.
    rig.fake()->openOk = false;
    m->close();
    QTRY_VERIFY(!m);
    QVERIFY(rig.boxes.isEmpty());
    QCOMPARE(rig.link->connectionFlag, 0);
}

// A charger that pauses: the loop sleeps (no time limit, no CPU), holds the sleep lock, and
// Arret ends it at once.
void TestMoni::waitingSleeps() {
    Rig rig;
    QPointer<Moni> m = rig.open();
    m->findChild<QCheckBox *>("Chk_Fich")->setChecked(false);
    double cpu = 0;
    bool awake = false;
    QElapsedTimer wall;
    QTimer::singleShot(20, m, [&] {
        cpu = cpuSeconds();
        wall.start();
    });
    QTimer::singleShot(620, m, [&] {
        cpu = cpuSeconds() - cpu;
        awake = m->keepAwake().wanted();
        m->arret();
    });
    QElapsedTimer t;
    t.start();
    m->depart();
    QVERIFY(t.elapsed() < 1500);
    QVERIFY(awake);
    QVERIFY(!m->keepAwake().wanted());
    QVERIFY2(cpu < 0.1 * 0.6, qPrintable(QString::number(cpu)));
    QCOMPARE(rig.fake()->commands, QStringList{"3"});
}

void TestMoni::printsToPdf() {
    Rig rig;
    QPointer<Moni> m = rig.open();
    const QString pdf = rig.dir.filePath(QStringLiteral("moni.pdf"));
    QPrinter &printer = m->printer();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    QVERIFY(m->printTo(printer));
    QFile f(pdf);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QVERIFY(bytes.startsWith("%PDF"));
    QVERIFY(bytes.contains("/Image")); // the window's picture is on the page
    QVERIFY(bytes.size() > 10000);
}

// "Impression": the dialog, then the page; cancelled, nothing is printed.
void TestMoni::printButtonUsesTheDialog() {
    Rig rig;
    QPointer<Moni> m = rig.open();
    const QString pdf = rig.dir.filePath(QStringLiteral("bouton.pdf"));
    m->printer().setOutputFormat(QPrinter::PdfFormat);
    m->printer().setOutputFileName(pdf);
    for (bool accept : {false, true}) {
        QTimer::singleShot(50, m, [accept] {
            auto *d = qobject_cast<QPrintDialog *>(QApplication::activeModalWidget());
            QVERIFY(d);
            QCOMPARE(d->objectName(), QStringLiteral("CDialMon"));
            if (accept)
                d->accept();
            else
                d->reject();
        });
        m->findChild<QPushButton *>("CbPrint")->click();
        QCOMPARE(QFileInfo(pdf).size() > 0, accept);
    }
}

// "Monitor" -> "Selection Type Moniteur" -> "Mode Normal": the monitor takes the selection's
// place; leaving it brings the main window back with the port at 9600 on COM 2, which the
// main window's next activation leaves alone.
void TestMoni::fromTheMainWindow() {
    Rig rig;
    serialio::ComMap ports(4);
    Main main(*rig.link, ports); // its load closes the port and chooses COM 1
    registerWindows(main.registry());
    rig.link->portNumber = 2;
    rig.link->portSetup();
    QVERIFY(rig.link->openPort());
    ScriptedCharger *fake = rig.fake();
    main.findChild<QPushButton *>("CbMoni")->click();
    QPointer<QWidget> sel = main.registry().openWindow(QStringLiteral("SelMoni"));
    QVERIFY(sel);
    QCOMPARE(sel->windowTitle(), QStringLiteral("Selection Type Moniteur"));
    QVERIFY(main.skipActivation());
    sel->findChild<QPushButton *>("Smode2")->click(); // no action
    QVERIFY(sel && sel->isVisible());
    QVERIFY(fake->commands.isEmpty());
    sel->findChild<QPushButton *>("Smode1")->click();
    QTRY_VERIFY(!sel);
    QPointer<Moni> m = qobject_cast<Moni *>(main.registry().openWindow(QStringLiteral("Moni")));
    QVERIFY(m);
    QTRY_VERIFY(m->streamOpen());
    QVERIFY(m->isVisible());
    QVERIFY(!main.isVisible());
    QCOMPARE(fake->commands, QStringList{"3"});
    QCOMPARE(fake->baudRate(), 19200);

    // The adapter goes while listening: one message, from the main window.
    Feeder feed;
    feed.chunks = records(1, 2);
    feed.atEnd = [&] { fake->vanish(); };
    rig.listen(m, feed);
    QCOMPARE(rig.boxes.size(), 1);
    QVERIFY(rig.boxes.first().startsWith(QStringLiteral("Erreur port com")));

    m->findChild<QPushButton *>("CbQuit")->click();
    QTRY_VERIFY(!m);
    QTRY_VERIFY(main.isVisible());
    QTRY_VERIFY(!main.skipActivation());
    QVERIFY(rig.link->isOpen());
    QCOMPARE(rig.link->deviceName(), QStringLiteral("dev2"));
    QCOMPARE(fake->baudRate(), 9600);
    QCOMPARE(fake->commands, QStringList{"3"});
    QCOMPARE(rig.boxes.size(), 1);
}

QTEST_MAIN(TestMoni)
#include "tst_moni.moc"
