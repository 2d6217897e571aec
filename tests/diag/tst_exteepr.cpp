// The external EEPROM editor driven offscreen against a charger whose two external memories
// answer commands 49 and 50, with message boxes and file dialogs answered by the test.
#include "diag/exteepr.h"
#include "diag/register.h"
#include "firmware/micro.h"
#include "firmware/register.h"
#include "link/chargerlink.h"
#include "link/messages.h"
#include "link/session.h"
#include "sim/memories.h"
#include "support/scriptedcharger.h"
#include "winkit/windowregistry.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

using diag::Exteepr;

namespace {

// The charger's two external EEPROMs behind commands 49 and 50.
struct Rig {
    QByteArray memory[2] = {sim::defaultTextEeprom(), sim::defaultProgramEeprom()};
    ScriptedCharger *port = nullptr;
    chlink::ChargerLink link{[this](const QString &) {
                                 port = new ScriptedCharger(
                                     [this](const QByteArray &b) { return answer(b); });
                                 return port;
                             },
                             [](int) { return QStringLiteral("fake"); }};
    chlink::Session session{link};
    winkit::WindowRegistry registry{&session};
    QWidget main;
    QPointer<Exteepr> w;

    Rig() {
        link.portSetup();
        link.openPort();
        link.connectionFlag = 1;
        link.setReplyTimeout(300);
        firmware::registerWindows(registry);
        diag::registerWindows(registry);
        main.show();
        w = qobject_cast<Exteepr *>(registry.open(QStringLiteral("Exteepr"), &main));
    }
    ~Rig() { delete w.data(); }

    QByteArray answer(const QByteArray &b) {
        if (b.size() < 5 || quint8(b[0]) != chlink::ESC || quint8(b[2]) > 1) return {};
        QByteArray &m = memory[quint8(b[2])];
        const int a = (quint8(b[3]) * 256 + quint8(b[4])) % 4096;
        if (quint8(b[1]) == chlink::CMD_EXT_EE_READ)
            return QByteArray(1, char(chlink::ESC)) + m.at(a) + char(0);
        if (quint8(b[1]) == chlink::CMD_EXT_EE_WRITE && b.size() >= 6) {
            m[a] = b[5];
            return QByteArray(1, char(chlink::ACK));
        }
        return {};
    }
    // The next `n`-th command (from now) runs f inside the transfer's wait.
    void at(int n, std::function<void()> f) {
        auto left = std::make_shared<int>(n);
        port->onCommand = [left, f](const QString &) {
            if (--*left == 0) f();
        };
    }
    template <class T> T *child(const char *name) const { return w->findChild<T *>(name); }
    QString text(const char *name) const {
        if (auto *e = child<QLineEdit>(name)) return e->text();
        return child<QLabel>(name)->text();
    }
    void edit(const char *name, const QString &t) const { child<QLineEdit>(name)->setText(t); }
    // The user moves the scroll bar.
    void move(int value) const { child<QScrollBar>("Slider1")->setValue(value); }
    int count(int code) const { return port->count(code); }
};

QByteArray record(const Rig &r, int k) {
    return r.memory[1].mid(32 * k, 32);
}

} // namespace

class TstExteepr : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QStringList m_boxes;
    QList<bool> m_answers; // answers to the next questions (Yes when empty)
    QStringList m_files;   // the next file dialog results ("" cancels)

    QString path(const QString &name) const { return m_dir.filePath(name); }

  private slots:
    void init() {
        m_boxes.clear();
        m_answers.clear();
        m_files.clear();
        chlink::setBoxHook([this](const chlink::BoxRequest &r) {
            m_boxes << r.text;
            return m_answers.isEmpty() ? true : m_answers.takeFirst();
        });
        chlink::setFileHook([this](bool, const QString &, const QString &, const QString &) {
            return m_files.isEmpty() ? QString() : m_files.takeFirst();
        });
    }
    void cleanup() {
        chlink::setBoxHook({});
        chlink::setFileHook({});
    }

    // Opened by Micro's "External EEprom" over it, the editor reads each memory once per
    // opening, every byte in address order, and shows it from its first record.
    void readsEachMemoryOnce() {
        Rig r;
        delete r.w.data();
        auto *micro = qobject_cast<Micro *>(r.registry.open(QStringLiteral("Micro"), &r.main));
        QVERIFY(micro);
        micro->externalEeprom();
        r.w = qobject_cast<Exteepr *>(r.registry.openWindow(QStringLiteral("Exteepr")));
        QVERIFY(r.w);
        QVERIFY(!micro->isVisible());
        r.w->option2();
        QCOMPARE(r.count(chlink::CMD_EXT_EE_READ), 4096);
        for (int a : {0, 1, 255, 256, 4095}) // device 1, address high, low
            QCOMPARE(r.port->commands.at(a), QStringLiteral("49,1,%1,%2").arg(a >> 8).arg(a & 255));
        QCOMPARE(r.text("Text4"), QStringLiteral("010"));
        QCOMPARE(r.text("Text5"), QStringLiteral("NiMH AA 2000    "));
        QCOMPARE(r.text("Label8"), QStringLiteral("Ni-Mh"));
        QCOMPARE(r.text("EdICharg"), QStringLiteral("2,000 A"));
        QCOMPARE(r.text("EdDuree"), QStringLiteral("01H30"));
        QVERIFY(!r.child<QProgressBar>("Bar1")->isVisible());
        QVERIFY(r.child<QPushButton>("CbSave")->isEnabled());
        r.w->option2();
        QCOMPARE(r.count(chlink::CMD_EXT_EE_READ), 4096);
        r.w->option1();
        QCOMPARE(r.count(chlink::CMD_EXT_EE_READ), 8192);
        QCOMPARE(r.text("Label1"), QStringLiteral("CHARGEUR RAPIDE "));
        QCOMPARE(r.text("Text1"), QStringLiteral("Pret            "));
        QCOMPARE(r.text("Label2"), QStringLiteral("Charge en cours "));
        r.move(255);
        QCOMPARE(r.text("Label2"), QString());
        QCOMPARE(m_boxes, QStringList());
        r.registry.closeAll();
    }

    // The type digit sets the type's name, the captions and which fields are shown.
    void typePresentation_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("check1");
        QTest::addColumn<bool>("check6");
        QTest::addColumn<bool>("volts");
        QTest::addColumn<bool>("duration");
        QTest::newRow("lithium") << "2"
                                 << "2"
                                 << "Lith"
                                 << "Fin rapide" << false << false << true;
        QTest::newRow("lead") << "3"
                              << "3"
                              << "PB"
                              << "Pas de Maintien" << false << false << false;
        QTest::newRow("7 becomes 0") << "7"
                                     << "0"
                                     << "Ni-Cd"
                                     << "No Topping ch" << true << true << true;
    }
    void typePresentation() {
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        QFETCH(QString, name);
        QFETCH(QString, check1);
        QFETCH(bool, check6);
        QFETCH(bool, volts);
        QFETCH(bool, duration);
        Rig r;
        r.w->option2();
        r.edit("Text6", typed);
        QCOMPARE(r.text("Text6"), kept);
        QCOMPARE(r.text("Label8"), name);
        QCOMPARE(r.child<QCheckBox>("Check1")->text(), check1);
        QCOMPARE(r.child<QCheckBox>("Check6")->isVisibleTo(r.w), check6);
        QCOMPARE(r.child<QLineEdit>("EdVDech")->isVisibleTo(r.w), volts);
        QCOMPARE(r.child<QFrame>("Shape7")->isVisibleTo(r.w), volts);
        QCOMPARE(r.child<QLineEdit>("EdDuree")->isVisibleTo(r.w), duration);
        QCOMPARE(r.text("Label12"),
                 volts ? QStringLiteral("V Dech") : QStringLiteral("Ajus. VMax"));
    }

    // Flags 0x7F show six boxes and go back as 0x7E; minutes digit 3 shows 30, 45 minutes
    // typed go back as the digit 4 and read again as 40; the edit of the program shown is
    // kept on the download without moving the scroll bar; nothing else changes.
    void editsReachTheCharger() {
        Rig r;
        r.memory[1][32 * 2 + 16] = char(0x7F);
        const QByteArray before = r.memory[1];
        r.w->option2();
        r.move(2);
        for (const char *c : {"Check1", "Check2", "Check3", "Check4", "Check5", "Check6"})
            QVERIFY(r.child<QCheckBox>(c)->isChecked());
        QCOMPARE(r.text("EdDuree"), QStringLiteral("01H30"));
        r.edit("EdDuree", QStringLiteral("01H45"));
        r.move(6);
        r.edit("Text5", QStringLiteral("Edit"));
        r.edit("EdICharg", QStringLiteral("0,6"));
        r.w->download();
        QCOMPARE(r.count(chlink::CMD_EXT_EE_WRITE), 3 + 32 * 127);
        QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join('|')));
        QVERIFY(r.text("LbInfos").startsWith(QStringLiteral("EEprom2 écrite : 4067 octets")));
        QCOMPARE(quint8(record(r, 2).at(16)), quint8(0x7E));
        QCOMPARE(record(r, 2).at(27), '4');
        QCOMPARE(record(r, 6), QByteArray("Edit            ") + char(32) + "104060055241100");
        QByteArray expected = before;
        expected[32 * 2 + 16] = char(0x7E);
        expected[32 * 2 + 27] = '4';
        expected.replace(32 * 6, 32, record(r, 6));
        QCOMPARE(r.memory[1], expected);

        Rig again;
        again.memory[1] = r.memory[1];
        again.w->option2();
        again.move(2);
        QCOMPARE(again.text("EdDuree"), QStringLiteral("01H40"));
        again.move(6);
        QCOMPARE(again.text("Text5"), QStringLiteral("Edit            "));
        QCOMPARE(again.text("EdICharg"), QStringLiteral("0,600 A"));
    }

    // Position 0 shows record 1; right after a read the position asked for is shown, and
    // nothing typed before the read is kept over it.
    void navigation() {
        Rig r;
        r.w->option2();
        r.move(5);
        QCOMPARE(r.text("Text5"), QStringLiteral("NiMH 7.2V 3000  "));
        r.move(0);
        QCOMPARE(r.text("Label4"), QStringLiteral(" 1"));
        QCOMPARE(r.text("Text5"), QStringLiteral("NiMH AA 2000    "));
        r.move(127); // the last program can be reached
        QCOMPARE(r.w->position(), 127);

        Rig fresh;
        fresh.link.userDisconnected = true;
        fresh.w->option2(); // reads nothing: the blank lists
        fresh.edit("Text5", QStringLiteral("typed"));
        fresh.link.userDisconnected = false;
        QFile f(path("lib.esv"));
        const diag::exteepr::FileText t = diag::exteepr::libraryFile(
            diag::exteepr::libraryFromMemory(sim::defaultProgramEeprom()));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(t.bytes) == t.bytes.size());
        f.close();
        m_files = {f.fileName()};
        fresh.w->readFile();
        fresh.move(3);
        QCOMPARE(fresh.text("Text5"), QStringLiteral("NiCd SC 1700    "));
        QCOMPARE(fresh.w->library().programs[1].name, QStringLiteral("NiMH AA 2000    "));
    }

    // A field that does not fit is refused with its name; the program stays shown and the
    // charger gets nothing.
    void refusedField() {
        Rig r;
        r.w->option2();
        r.move(4);
        r.edit("TxNbElem", QStringLiteral("100"));
        r.move(8);
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.at(0).startsWith(QStringLiteral("Programme 4 : Nbr Elem :")),
                 qPrintable(m_boxes.at(0)));
        QCOMPARE(r.w->position(), 4);
        QCOMPARE(r.child<QScrollBar>("Slider1")->value(), 4);
        r.w->download();
        QCOMPARE(m_boxes.size(), 2);
        QCOMPARE(r.count(chlink::CMD_EXT_EE_WRITE), 0);
        r.w->option1(); // the other memory neither
        QCOMPARE(r.w->selection(), 2);
        QVERIFY(r.child<QRadioButton>("Option2")->isChecked());
    }

    // During a read the exchange-starting controls are off, "Quitte" is not; they come
    // back at its end. A charger that stops answering leaves the lists as they were, and
    // the memory is read again on its next selection.
    void readInterrupted() {
        Rig r;
        QList<bool> during;
        r.at(100, [&] {
            for (const char *b : {"CbSave", "CbEcrit", "CBLit", "CbQuit"})
                during << r.child<QPushButton>(b)->isEnabled();
            during << r.child<QRadioButton>("Option1")->isEnabled()
                   << r.child<QScrollBar>("Slider1")->isEnabled()
                   << r.child<QProgressBar>("Bar1")->isVisible();
        });
        r.w->option2();
        QCOMPARE(during, QList<bool>({false, false, false, true, false, false, true}));
        QVERIFY(r.child<QRadioButton>("Option1")->isEnabled());

        Rig mute;
        mute.at(10, [&] { mute.port->mute = true; });
        mute.w->option2();
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.at(0).startsWith(QStringLiteral("Lecture EEprom2 adresse 9 :")),
                 qPrintable(m_boxes.at(0)));
        QVERIFY(m_boxes.at(0).endsWith(QStringLiteral("Time out sur interface Serie")));
        QVERIFY(!mute.w->memoryRead(2));
        QCOMPARE(mute.text("Text5"), QStringLiteral("----------------"));
        QVERIFY(!mute.child<QPushButton>("CbSave")->isEnabled());
        mute.w->download();
        QCOMPARE(mute.count(chlink::CMD_EXT_EE_WRITE), 0);
        mute.port->mute = false;
        mute.port->onCommand = {};
        mute.w->option2();
        QVERIFY(mute.w->memoryRead(2));
        QCOMPARE(mute.text("Text5"), QStringLiteral("NiMH AA 2000    "));
    }

    // Disconnected: nothing is read, and the download says so without sending anything.
    void disconnected() {
        Rig r;
        r.link.userDisconnected = true;
        r.w->option1();
        QCOMPARE(r.text("Text1"), QStringLiteral("mesg  1"));
        QCOMPARE(r.text("Label1"), QStringLiteral("mesg  0"));
        r.w->download();
        QCOMPARE(m_boxes, QStringList{QStringLiteral("Impossible Déconnecté")});
        QCOMPARE(r.port->written, QByteArray());
    }

    // A download cut short says how much of the memory it wrote.
    void downloadInterrupted() {
        Rig r;
        r.w->option1();
        r.at(50, [&] { r.port->mute = true; });
        r.w->download();
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.at(0).contains(QStringLiteral("49 octets écrits sur 4096")),
                 qPrintable(m_boxes.at(0)));
        QVERIFY(m_boxes.at(0).startsWith(QStringLiteral("Ecriture EEprom1 adresse 49 :")));
    }

    // Closed during a download, the window asks first; on Yes the download stops after the
    // byte under way and the window goes once that exchange has ended, not inside it.
    void closedDuringDownload() {
        Rig r;
        r.w->option2();
        m_answers = {false, true};
        bool aliveInside = false;
        r.port->onCommand = [&, n = 0](const QString &) mutable {
            if (++n == 20) r.w->close(); // No: the download goes on
            if (n == 40) {
                r.w->close(); // Yes
                aliveInside = !r.w.isNull();
            }
        };
        r.w->download();
        QVERIFY(aliveInside);
        QCOMPARE(m_boxes.size(), 2);
        QVERIFY(m_boxes.at(0).startsWith(QStringLiteral("Un téléchargement est en cours.")));
        QVERIFY(r.count(chlink::CMD_EXT_EE_WRITE) <= 41);
        QTRY_VERIFY(r.w.isNull());
        QVERIFY(r.main.isVisible());
    }

    // A library file: exactly 256 lines, the header twice, and read back into the window
    // it restores every program; a short file, an unreadable one or a cancelled dialog
    // change nothing.
    void files() {
        Rig r;
        r.w->option2();
        r.move(127);
        r.edit("Text5", QStringLiteral("Dernier"));
        m_files = {path("lib2.ESV")};
        r.w->writeFile();
        QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join('|')));
        QFile f(path("lib2.ESV"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray saved = f.readAll();
        f.close();
        QCOMPARE(saved.count("\r\n"), 256);
        QVERIFY(saved.startsWith("010\r\n010\r\nNiMH AA 2000    \r\n000106200100013001090\r\n"));
        const diag::exteepr::Library kept = r.w->library();

        QFile shortFile(path("short.ESV"));
        QVERIFY(shortFile.open(QIODevice::WriteOnly));
        shortFile.write(saved.left(saved.size() - 32)); // without program 127
        shortFile.close();
        r.edit("Text5", QStringLiteral("Autre"));
        m_files = {shortFile.fileName(), path("missing.ESV"), QString()};
        r.w->readFile();
        r.w->readFile();
        r.w->readFile();
        QCOMPARE(m_boxes.size(), 2);
        QVERIFY(m_boxes.at(0).startsWith(QStringLiteral("Fichier incomplet : 254 lignes")));
        QVERIFY(m_boxes.at(1).startsWith(QStringLiteral("Mauvais nom de fichier")));
        QVERIFY(!r.child<QLabel>("Label5")->isVisible());
        QCOMPARE(r.text("Text5"), QStringLiteral("Autre"));

        m_files = {path("lib2.ESV")};
        r.w->readFile();
        QCOMPARE(m_boxes.size(), 2);
        for (int k = 1; k <= 127; ++k) {
            QCOMPARE(r.w->library().programs[k].name,
                     charger::progrecord::fitName(kept.programs[k].name));
            QCOMPARE(r.w->library().programs[k].params, kept.programs[k].params);
        }
        QCOMPARE(r.w->library().programs[127].name, QStringLiteral("Dernier         "));
        QCOMPARE(r.w->position(), 1);
    }

    // A file that cannot be written whole is not written at all: an existing file keeps
    // its contents; a cancelled dialog says "Mauvais nom de fichier".
    void fileWriteFailures() {
        Rig r;
        r.memory[0].replace(16 * 3, 3, "a\nb");
        r.w->option1();
        QFile f(path("texts.ESV"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep me");
        f.close();
        m_files = {f.fileName(), QString(), path("no/such/folder/x.ESV")};
        r.w->writeFile();
        r.w->writeFile();
        r.edit("Text1", QStringLiteral("ok"));
        r.move(3);
        r.edit("Text1", QStringLiteral("ok aussi"));
        r.w->writeFile();
        QCOMPARE(m_boxes.size(), 3);
        QVERIFY(m_boxes.at(0).startsWith(QStringLiteral("Le message 3 contient un saut")));
        QCOMPARE(m_boxes.at(1), QStringLiteral("Mauvais nom de fichier"));
        QVERIFY(m_boxes.at(2).startsWith(QStringLiteral("Mauvais nom de fichier\n")));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep me"));
    }
};

QTEST_MAIN(TstExteepr)
#include "tst_exteepr.moc"
