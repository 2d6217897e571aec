// The internal EEPROM editor: its hexadecimal views and entries, the ".ESV" file checked as
// a whole and written all or nothing, and the window against the in-process virtual charger
// (reads on activation, writes acknowledged one by one and read back, files, failures).
#include "charger/eeprommap.h"
#include "diag/eeprom.h"
#include "diag/eepromlogic.h"
#include "diag/esvfile.h"
#include "diag/fetat.h"
#include "diag/register.h"
#include "firmware/micro.h"
#include "firmware/register.h"
#include "modes/bench.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>

using namespace diag;

namespace {
QString text(QWidget *w, const char *name) {
    if (auto *l = w->findChild<QLabel *>(QLatin1String(name))) return l->text();
    return w->findChild<QLineEdit *>(QLatin1String(name))->text();
}
QByteArray pattern(int seed) {
    QByteArray a(256, 0);
    for (int i = 0; i < 256; ++i)
        a[i] = char((i * 7 + seed) & 0xFF);
    return a;
}
QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
void writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
} // namespace

class TestEEprom : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void views();
    void byteEntry_data();
    void byteEntry();
    void esvParse_data();
    void esvParse();
    void esvRoundTrip();
    void esvSaveFailureKeepsTheOldFile();
    void activationReadsBothControllers();
    void addressEntry_data();
    void addressEntry();
    void dataEntry();
    void updateWritesAndChecks();
    void updateStopsAtASilentWrite();
    void updateReportsAFailingCell();
    void updateWithoutConnection();
    void files_data();
    void files();
    void closingDuringReadsStopsThem();
    void microOpensTheWindows_data();
    void microOpensTheWindows();

  private:
    QTemporaryDir m_config;
};

void TestEEprom::initTestCase() {
    qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit()); // the remembered folder
}

// ---------------------------------------------------------------- logic

void TestEEprom::views() {
    QByteArray img(257, 0);
    img[0] = char(5);
    img[1] = char(171);
    img[15] = char(255);
    img[16 * 3 + 2] = char(0x0A);
    QCOMPARE(generalLine(img).left(12), QStringLiteral("05  AB  00  "));
    QCOMPARE(generalLine(img).size(), 64);
    QVERIFY(generalLine(img).endsWith(QStringLiteral("FF  ")));
    QCOMPARE(rowLine(img, 3).left(9), QStringLiteral("00 00 0A "));
    QCOMPARE(rowLine(img, 15).size(), 48);
    // The values sit under their column headers.
    QCOMPARE(generalHeader().indexOf(QStringLiteral("0F")), generalLine(img).indexOf("FF"));
    QCOMPARE(rowHeader().indexOf(QStringLiteral("02")), rowLine(img, 3).indexOf("0A"));
}

void TestEEprom::byteEntry_data() {
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("value"); // -1: refused
    QTest::newRow("plain") << "37" << 37;
    QTest::newRow("leading blanks") << "  12" << 12;
    QTest::newRow("digits then text") << "12abc" << 12;
    QTest::newRow("no digits is 0") << "abc" << 0;
    QTest::newRow("empty is 0") << "" << 0;
    QTest::newRow("half rounds to even, down") << "4.5" << 4;
    QTest::newRow("half rounds to even, up") << "5.5" << 6;
    QTest::newRow("fraction rounds") << "254.7" << 255;
    QTest::newRow("255 kept") << "255" << 255;
    QTest::newRow("256 refused") << "256" << -1;
    QTest::newRow("255.5 refused") << "255.5" << -1;
    QTest::newRow("negative refused") << "-1" << -1;
    QTest::newRow("huge refused") << "99999999999999999999" << -1;
}

void TestEEprom::byteEntry() {
    QFETCH(QString, entry);
    QFETCH(int, value);
    QCOMPARE(diag::byteEntry(entry).value_or(-1), value);
}

void TestEEprom::esvParse_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("error");
    QByteArray lines;
    for (int i = 0; i < 256; ++i)
        lines += ' ' + QByteArray::number(i) + " \r\n";
    QByteArray mixed;
    for (int i = 0; i < 256; ++i)
        mixed += QByteArray::number(i) + (i % 3 == 0 ? "," : i % 3 == 1 ? " " : "\n");
    QTest::newRow("the editor's own file") << lines << true << "";
    QTest::newRow("commas, blanks and line ends") << mixed << true << "";
    QTest::newRow("line ends only LF") << QByteArray(lines).replace("\r\n", "\n") << true << "";
    QTest::newRow("255 numbers") << lines.left(lines.lastIndexOf(" 255 ")) << false
                                 << "le fichier ne contient que 255 nombres sur 256";
    QTest::newRow("257 numbers") << lines + " 7 \r\n"
                                 << false << "ligne 257 : plus de 256 nombres dans le fichier";
    QTest::newRow("a value above 255") << QByteArray(lines).replace(" 9 \r\n", " 300 \r\n") << false
                                       << "ligne 10 : 300 dépasse 255";
    QTest::newRow("not a number") << QByteArray(lines).replace(" 3 \r\n", " 3x \r\n") << false
                                  << "ligne 4 : « 3x » n'est pas un nombre entier";
    QTest::newRow("negative") << QByteArray(lines).replace(" 0 \r\n", " -1 \r\n") << false
                              << "ligne 1 : « -1 » n'est pas un nombre entier";
    QTest::newRow("empty file") << QByteArray() << false
                                << "le fichier ne contient que 0 nombres sur 256";
}

void TestEEprom::esvParse() {
    QFETCH(QByteArray, text);
    QFETCH(bool, ok);
    QFETCH(QString, error);
    const EsvParse r = parseEsv(text);
    QCOMPARE(r.ok, ok);
    QCOMPARE(r.error, error);
    if (ok) {
        QCOMPARE(r.image.size(), 256);
        QCOMPARE(quint8(r.image.at(200)), quint8(200));
    }
}

void TestEEprom::esvRoundTrip() {
    QTemporaryDir dir;
    const QString path = dir.filePath("image.ESV");
    const QByteArray img = pattern(3) + 'Z'; // the spare element is not saved
    QString why;
    QVERIFY2(saveEsv(path, img, &why), qPrintable(why));
    const QByteArray bytes = fileBytes(path);
    QCOMPARE(bytes.count("\r\n"), 256);
    QVERIFY(bytes.startsWith(" 3 \r\n 10 \r\n"));
    const EsvParse back = loadEsv(path);
    QVERIFY2(back.ok, qPrintable(back.error));
    QCOMPARE(back.image, img.left(256));
}

void TestEEprom::esvSaveFailureKeepsTheOldFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath("missing-folder/image.ESV");
    QString why;
    QVERIFY(!saveEsv(path, pattern(1), &why));
    QVERIFY(!why.isEmpty());
    QVERIFY(!QFile::exists(path));
    // Too large to be an image: refused without reading it all.
    const QString big = dir.filePath("big.ESV");
    writeFile(big, QByteArray(kEsvMaxBytes + 10, ' '));
    QVERIFY(!loadEsv(big).ok);
}

// ---------------------------------------------------------------- the window

namespace {
// A bench with the virtual charger answering and the editor registered.
struct EditorBench : Bench {
    EditorBench() {
        useModel();
        diag::registerWindows(*registry);
    }
    ~EditorBench() {
        for (QWidget *w : registry->openWindows())
            delete w;
    }
    // Opens the editor on a controller as "EEprom Master" / "EEprom Slave" do and waits for
    // its activation's reads.
    QPointer<EEprom> open(int target) {
        session->setTargetSelector(target);
        QPointer<EEprom> w =
            qobject_cast<EEprom *>(registry->open(QStringLiteral("EEprom"), &main));
        if (w && link->connectionFlag == 1)
            if (!QTest::qWaitFor(
                    [&] { return fake->count(chlink::CMD_EE_READ_SLAVE) == 256 && !w->isBusy(); },
                    20000))
                qWarning("the editor's reads did not end");
        return w;
    }
};
} // namespace

void TestEEprom::activationReadsBothControllers() {
    EditorBench b;
    QByteArray ident(64, '\0');
    ident.replace(0, 5, QByteArray("AB\0CD", 5));
    b.model->eepromSlave.replace(192, 64, ident);
    b.model->eepromSlave[3] = char(0x07);
    b.link->tableA.fill(0);
    b.link->tableB.fill(0);
    QPointer<EEprom> w = b.open(2);
    QVERIFY(w);
    const QList<ScriptedCharger::Sent> sent = b.fake->sent();
    QCOMPARE(sent.size(), 512);
    for (int i = 0; i < 512; ++i) // master 0..255, then slave 0..255
        QCOMPARE(sent[i].code * 1000 + quint8(b.fake->written[i * 3 + 2]),
                 (i < 256 ? 37 : 38) * 1000 + i % 256);
    QCOMPARE(b.link->tableA.left(256), b.model->eepromMaster);
    QCOMPARE(b.link->tableB.left(256), b.model->eepromSlave);
    QCOMPARE(text(w, "Text4"), QStringLiteral("ABCD"));
    QVERIFY(text(w, "Label3").mid(12).startsWith(QStringLiteral("07  "))); // leading zero
    QCOMPARE(text(w, "Label2"), QStringLiteral("0"));
    QCOMPARE(w->selectedAddress(), kNoAddress);
    QVERIFY(!w->findChild<QLineEdit *>("Text3")->isEnabled());
    w->findChild<QScrollBar *>("Vscroll1")->setValue(12); // addresses 192..207
    QCOMPARE(text(w, "Lbdat2"), QStringLiteral("41 42 00 43 44 00 ") + QString("00 ").repeated(10));
    QCOMPARE(text(w, "Label2"), QStringLiteral("12"));
    QVERIFY(b.boxes.isEmpty());
}

void TestEEprom::addressEntry_data() {
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("selected");
    QTest::newRow("slave 5") << 2 << "5"
                             << "Correction Pot I Decharge" << 5;
    QTest::newRow("master 5") << 1 << "5"
                              << "Temperature arret" << 5;
    QTest::newRow("master 1: a word's low byte") << 1 << "1"
                                                 << "Correction temperature L" << 1;
    QTest::newRow("slave 9 unused") << 2 << "9"
                                    << "NU" << 9;
    QTest::newRow("16 selects without a name") << 1 << "16"
                                               << "" << 16;
    QTest::newRow("20 selects nothing") << 1 << "20"
                                        << "" << int(kNoAddress);
    QTest::newRow("256 is refused") << 1 << "256"
                                    << "" << int(kNoAddress);
    QTest::newRow("no digits is 0") << 1 << "x"
                                    << "Correction temperature H" << 0;
}

void TestEEprom::addressEntry() {
    QFETCH(int, target);
    QFETCH(QString, entry);
    QFETCH(QString, name);
    QFETCH(int, selected);
    EditorBench b;
    b.link->connectionFlag = 0; // nothing read: the entries work on the images as they are
    QPointer<EEprom> w = b.open(target);
    auto *address = w->findChild<QLineEdit *>("Text2");
    address->setText(entry);
    QTest::keyClick(address, Qt::Key_Return);
    QCOMPARE(w->selectedAddress(), selected);
    QCOMPARE(text(w, "Label8"), name);
    QCOMPARE(w->findChild<QLineEdit *>("Text3")->isEnabled(), selected != kNoAddress);
    QCOMPARE(address->text(), entry); // left as typed
}

void TestEEprom::dataEntry() {
    EditorBench b;
    b.link->connectionFlag = 0;
    QPointer<EEprom> w = b.open(1);
    const QByteArray before = b.link->tableA;
    const QByteArray slaveBefore = b.link->tableB;
    auto *address = w->findChild<QLineEdit *>("Text2");
    auto *data = w->findChild<QLineEdit *>("Text3");
    data->setText("99");
    w->enterData(); // no address selected: nothing stored
    QCOMPARE(b.link->tableA, before);
    address->setText("3");
    w->enterAddress();
    for (const char *refused : {"256", "-4"}) {
        data->setText(refused);
        w->enterData();
        QCOMPARE(b.link->tableA, before);
    }
    data->setText("171");
    QTest::keyClick(data, Qt::Key_Return);
    QCOMPARE(quint8(b.link->tableA.at(3)), quint8(171));
    QCOMPARE(text(w, "Label3").mid(12, 2), QStringLiteral("AB"));
    QCOMPARE(text(w, "Lbdat2").mid(9, 2), QStringLiteral("AB"));
    address->setText("40");
    w->enterAddress();
    data->setText("2.5");
    w->enterData();
    QCOMPARE(quint8(b.link->tableA.at(40)), quint8(2));
    QCOMPARE(b.link->tableB, slaveBefore); // the other image untouched
    QVERIFY(b.fake->written.isEmpty());    // nothing sent by an entry
}

void TestEEprom::updateWritesAndChecks() {
    EditorBench b;
    QPointer<EEprom> w = b.open(2);
    b.fake->written.clear();
    w->findChild<QLineEdit *>("Text2")->setText("4");
    w->enterAddress();
    w->findChild<QLineEdit *>("Text3")->setText("61");
    w->enterData();
    b.link->tableB[200] = 'Q'; // the identification text is never written
    w->findChild<QPushButton *>("CBUpdate")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w->isBusy(), 20000);
    const QList<ScriptedCharger::Sent> sent = b.fake->sent();
    QCOMPARE(sent.size(), 2 * 192);
    for (int a = 0; a < 192; ++a) {
        QCOMPARE(sent[a].code, 40);
        QCOMPARE(sent[192 + a].code, 38); // read back to check
    }
    QCOMPARE(quint8(b.model->eepromSlave.at(4)), quint8(61));
    QCOMPARE(b.model->eepromSlave.left(192), b.link->tableB.left(192));
    QVERIFY(b.model->eepromSlave.at(200) != 'Q');
    QVERIFY(b.boxes.isEmpty());
    QVERIFY(!w->findChild<QWidget *>("Bar")->isVisible());
}

void TestEEprom::updateStopsAtASilentWrite() {
    EditorBench b;
    QPointer<EEprom> w = b.open(1);
    b.fake->take();
    // The charger stops answering from the write of address 5: nothing is sent after it.
    b.fake->onCommand = [&](const QString &cmd) {
        if (cmd.startsWith("39,5,")) b.fake->mute = true;
    };
    w->updatePic();
    QTRY_VERIFY(!w->isBusy());
    const QStringList sent = b.fake->take();
    QCOMPARE(sent.size(), 6);
    QVERIFY(sent.last().startsWith("39,5,"));
    QCOMPARE(b.boxes,
             QStringList{"Ecriture EEPROM Master adresse 5 :\nTime out sur interface Serie"});
}

void TestEEprom::updateReportsAFailingCell() {
    EditorBench b;
    QPointer<EEprom> w = b.open(1);
    b.model->faults.failingEepromCells.insert(sim::eepromCell(sim::EepromMemory::Master, 7));
    b.model->faults.failingEepromCells.insert(sim::eepromCell(sim::EepromMemory::Master, 90));
    b.link->tableA[7] = char(~quint8(b.link->tableA.at(7)));
    b.link->tableA[90] = char(~quint8(b.link->tableA.at(90)));
    w->updatePic();
    QTRY_VERIFY_WITH_TIMEOUT(!w->isBusy(), 20000);
    QCOMPARE(b.boxes, QStringList{"Vérification : 2 octet(s) différent(s) après écriture, le "
                                  "premier à l'adresse 7"});
}

void TestEEprom::updateWithoutConnection() {
    EditorBench b;
    b.link->connectionFlag = 0;
    QPointer<EEprom> w = b.open(1);
    w->findChild<QPushButton *>("CBUpdate")->click();
    QCOMPARE(b.boxes, QStringList{"Pas de connection avec chargeur"});
    QVERIFY(b.fake->written.isEmpty());
}

void TestEEprom::files_data() {
    QTest::addColumn<QString>("file"); // "save": the file the editor saved; else its contents
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("changed");
    QTest::newRow("saved then loaded") << "save"
                                       << "" << true;
    QTest::newRow("255 numbers change nothing") << QString(" 1 \r\n").repeated(255)
                                                << "Mauvais nom de fichier\nle fichier ne contient "
                                                   "que 255 nombres sur 256"
                                                << false;
    QTest::newRow("cancelled: nothing, no box") << ""
                                                << "" << false;
}

void TestEEprom::files() {
    QFETCH(QString, file);
    QFETCH(QString, box);
    QFETCH(bool, changed);
    EditorBench b;
    b.link->connectionFlag = 0;
    QTemporaryDir dir;
    QStringList titles;
    QString answer;
    chlink::setFileHook([&](bool, const QString &title, const QString &, const QString &) {
        titles << title;
        return answer;
    });
    QPointer<EEprom> w = b.open(2);
    const QByteArray saved = pattern(11);
    b.link->tableB.replace(0, 256, saved);
    const QString path = dir.filePath("slave.ESV");
    if (file == "save") {
        answer = path;
        w->saveFile();
        QCOMPARE(fileBytes(path).count("\r\n"), 256);
    } else if (!file.isEmpty()) {
        answer = path;
        writeFile(path, file.toLatin1());
    }
    b.link->tableB.replace(0, 256, pattern(99)); // what the load replaces
    const QByteArray before = b.link->tableB;
    w->findChild<QPushButton *>("CBLoadeprom")->click();
    QCOMPARE(b.boxes, box.isEmpty() ? QStringList() : QStringList{box});
    QCOMPARE(b.link->tableB.left(256), changed ? saved : before.left(256));
    QCOMPARE(b.link->tableB.size(), 257);
    QVERIFY(titles.contains(QStringLiteral("Fichier Save EpromPicSlave")));
    if (changed) QCOMPARE(text(w, "Label3"), generalLine(saved));
    chlink::setFileHook({});
}

void TestEEprom::closingDuringReadsStopsThem() {
    EditorBench b;
    b.session->setTargetSelector(1);
    bool clicked = false;
    QPointer<EEprom> w;
    // "Retour" and "Mise à jour PIC" in the middle of the activation's reads.
    b.fake->onCommand = [&](const QString &cmd) {
        if (cmd != "37,100" || clicked) return;
        clicked = true;
        QTimer::singleShot(0, w, [&] {
            w->updatePic(); // waits for the reads, then never runs
            w->findChild<QPushButton *>("CBeepend")->click();
            QVERIFY(w); // not deleted inside its own wait
        });
    };
    w = qobject_cast<EEprom *>(b.registry->open(QStringLiteral("EEprom"), &b.main));
    QTRY_VERIFY(clicked);
    QTRY_VERIFY(w.isNull());
    QCOMPARE(b.fake->count(chlink::CMD_EE_READ_MASTER), 101); // the reply in progress, no more
    QCOMPARE(b.fake->count(chlink::CMD_EE_READ_SLAVE), 0);
    QCOMPARE(b.fake->count(chlink::CMD_EE_WRITE_MASTER), 0);
    QVERIFY(b.boxes.isEmpty());
    QVERIFY(b.main.isVisible());
}

void TestEEprom::microOpensTheWindows_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("id");
    QTest::addColumn<int>("target");
    QTest::newRow("EEprom Master") << "CBepr"
                                   << "EEprom" << 1;
    QTest::newRow("EEprom Slave") << "CbEEprSalave"
                                  << "EEprom" << 2;
    QTest::newRow("Tableau de bord") << "CBEtat"
                                     << "FEtat" << 0;
}

void TestEEprom::microOpensTheWindows() {
    QFETCH(QString, button);
    QFETCH(QString, id);
    QFETCH(int, target);
    EditorBench b;
    firmware::registerWindows(*b.registry);
    auto *micro = b.registry->open(QStringLiteral("Micro"), &b.main);
    QVERIFY(micro);
    micro->findChild<QPushButton *>(button)->click();
    winkit::ChargerWindow *w = b.registry->openWindow(id);
    QVERIFY(w);
    QVERIFY(w->isVisible());
    QVERIFY(!micro->isVisible()); // hidden until the window is left
    if (auto *e = qobject_cast<EEprom *>(w)) QCOMPARE(e->target(), target);
    QVERIFY(qobject_cast<FEtat *>(w) || target != 0);
    QTRY_VERIFY_WITH_TIMEOUT(!w->gate().busy(), 20000);
    w->leave();
    QTRY_VERIFY(micro->isVisible());
    QVERIFY(b.boxes.isEmpty());
}

QTEST_MAIN(TestEEprom)
#include "tst_eeprom.moc"
