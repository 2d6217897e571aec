// The window: its controls, the settings file at start and quit, the file dialog, the
// refusals of "Demarrer Chargement", port choice, disconnect while probing, and uploads
// against the in-process virtual charger's boot loader.
#include "fakebootloader.h"
#include "hexfiles.h"
#include "sim/simport.h"
#include "sim/virtualcharger.h"

#include "loader/bootlink.h"
#include "loader/bootport.h"
#include "loader/dialogs.h"
#include "loader/mainwindow.h"
#include "loader/settingsfile.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using namespace loader;

namespace {

// One window on either a scripted boot loader or the virtual charger.
struct Rig {
    QTemporaryDir dir;
    ComMap ports{kComPorts};
    sim::VirtualCharger charger{sim::VirtualCharger::Mode::BootLoader};
    QPointer<FakeBootLoader> fake;
    QList<int> resolved;
    std::unique_ptr<BootLink> link;
    std::unique_ptr<Main> w;
    QStringList boxes;
    QStringList dialogDirs;
    QString answerFile;
    // Yes/No boxes: their texts, and the answer given (as the user would click it).
    QStringList questions;
    QMessageBox::StandardButton answer = QMessageBox::Yes;
    QMessageBox::StandardButton questionDefault = QMessageBox::NoButton;
    QMessageBox::Icon questionIcon = QMessageBox::NoIcon;

    explicit Rig(bool virtualCharger, const QByteArray &ini = QByteArray()) {
        if (!ini.isNull()) {
            QFile f(iniPath());
            f.open(QIODevice::WriteOnly);
            f.write(ini);
        }
        link = std::make_unique<BootLink>(
            [this, virtualCharger](const QString &) -> BootPort * {
                if (virtualCharger) return new sim::SimBytePort(&charger);
                fake = new FakeBootLoader;
                return fake.data();
            },
            [this](int n) {
                resolved << n;
                return QStringLiteral("dev%1").arg(n);
            });
        setBoxHook([this](const BoxRequest &r) { boxes << r.text; });
        setQuestionHook([this](QMessageBox &box) {
            questions << box.text();
            questionDefault = box.standardButton(box.defaultButton());
            questionIcon = box.icon();
            return answer;
        });
        setFileHook([this](const QString &title, const QString &d, const QString &filter) {
            dialogDirs << d;
            Q_UNUSED(title);
            Q_UNUSED(filter);
            return answerFile;
        });
        w = std::make_unique<Main>(*link, ports, iniPath());
    }
    ~Rig() {
        setBoxHook({});
        setFileHook({});
        setQuestionHook({});
    }
    QString iniPath() const { return dir.filePath(QStringLiteral("sparlo.ini")); }
    QString hexFile(const QString &name, const QByteArray &text) {
        const QString p = dir.filePath(name);
        QFile f(p);
        f.open(QIODevice::WriteOnly);
        f.write(text);
        return p;
    }
    template <typename T> T *get(const char *name) const {
        return w->findChild<T *>(QLatin1String(name));
    }
    QString display() const { return w->displayText(); }
};

} // namespace

class TestLoaderWindow : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void captions_data();
    void captions();
    void startState();
    void settingsRestoreFolderAndPort();
    void cancelledDialogWritesNoSettings();
    void openFileShowsEndAddressAndQuitSavesIt();
    void badHexFileChangesNothing();
    void uploadRefused_data();
    void uploadRefused();
    void chooseCom12();
    void menuEntriesWithoutAction();
    void uploadAsksFirst_data();
    void uploadAsksFirst();
    void uploadToVirtualCharger_data();
    void uploadToVirtualCharger();
    void failedUploadSaysWhereInABox_data();
    void failedUploadSaysWhereInABox();
    void progressFrameDuringUpload();
    void disconnectWhileProbing();
    void quitWhileProbingEndsAndSaves();
    void closingDuringUploadEndsItCleanly();
    void portVanishingIsReportedOnce();
    void picture();
};

void TestLoaderWindow::captions_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    const QList<QPair<const char *, const char *>> rows = {
        {"Cb_Open", "Ouvrir HEX"},
        {"Cb_Load", "Demarrer Chargement"},
        {"Cb_Reconnect", "Reconnection"},
        {"CD_DECONNECT", "Deconnection"},
        {"Cb_quitter", "Quitter"},
        {"Info3", "Séléction d'une action "},
        {"Info2", "Info / Display"},
        {"FRtemp", "LOADING"},
        {"Lbinfo", "PROGRESS"},
        {"ListComSel", "Com Port Sel"},
        {"MnuHex_open", "Ouvrir fichier Hex"},
        {"MnuChrg", "Chargement"},
        {"MnuDeconnect", "Deconnection"},
        {"MnuConnect", "Reconnection"},
        {"MnuSelCom", "Selection du port com"},
        {"Mnuquitter", "Quitter"},
    };
    for (const auto &r : rows)
        QTest::newRow(r.first) << QString::fromUtf8(r.first) << QString::fromUtf8(r.second);
}

void TestLoaderWindow::captions() {
    QFETCH(QString, name);
    QFETCH(QString, text);
    Rig rig(false);
    QObject *o = rig.w->findChild<QObject *>(name);
    QVERIFY2(o, qPrintable(name));
    QString shown;
    if (auto *b = qobject_cast<QPushButton *>(o))
        shown = b->text();
    else if (auto *l = qobject_cast<QLabel *>(o))
        shown = l->text();
    else if (auto *g = qobject_cast<QGroupBox *>(o))
        shown = g->title();
    else if (auto *a = qobject_cast<QAction *>(o))
        shown = a->text();
    else if (auto *c = qobject_cast<QComboBox *>(o))
        shown = c->placeholderText();
    QCOMPARE(shown, text);
}

void TestLoaderWindow::startState() {
    Rig rig(false);
    QCOMPARE(rig.w->windowTitle(), QStringLiteral("Bootloader"));
    QCOMPARE(rig.display(), QStringLiteral("Pas de connection\n ..Attente..\n"));
    QCOMPARE(rig.w->panelText(1), QStringLiteral("No Hex Loaded"));
    auto *list = rig.get<QComboBox>("ListComSel");
    QCOMPARE(list->count(), 12);
    QCOMPARE(list->itemText(0), QStringLiteral("COM 1"));
    QCOMPARE(list->itemText(11), QStringLiteral("COM 12"));
    QVERIFY(list->isHidden());
    QVERIFY(rig.get<QGroupBox>("FRtemp")->isHidden());
    QCOMPARE(rig.link->portNumber, 1);
    QCOMPARE(rig.link->reconnectOnActivate, 1);
}

void TestLoaderWindow::settingsRestoreFolderAndPort() {
    Rig rig(false, "FILE:OLD.HEX\r\nPATH:/srv/firmware\r\nCOM : 12 \r\n");
    QCOMPARE(rig.link->portNumber, 12);
    QCOMPARE(rig.resolved.last(), 12);
    QCOMPARE(rig.w->fileName(), QStringLiteral("OLD.HEX"));
    rig.w->openFile(); // cancelled
    QCOMPARE(rig.dialogDirs, QStringList{QStringLiteral("/srv/firmware")});
    // The settings read at start are written back at quit, even with no file opened now.
    QFile::remove(rig.iniPath());
    rig.w->quit();
    QCOMPARE(readSettingsFile(rig.iniPath())->port, 12);
    QCOMPARE(readSettingsFile(rig.iniPath())->file, QStringLiteral("OLD.HEX"));
}

void TestLoaderWindow::cancelledDialogWritesNoSettings() {
    Rig rig(false);
    rig.w->openFile();
    QCOMPARE(rig.dialogDirs.size(), 1);
    QCOMPARE(rig.w->fileName(), QString());
    QCOMPARE(rig.w->windowTitle(), QStringLiteral("Bootloader"));
    QCOMPARE(rig.w->panelText(1), QStringLiteral("No Hex Loaded"));
    rig.w->quit();
    QVERIFY(!QFile::exists(rig.iniPath()));
    QVERIFY(rig.boxes.isEmpty());
}

void TestLoaderWindow::openFileShowsEndAddressAndQuitSavesIt() {
    Rig rig(false);
    rig.answerFile = rig.hexFile(QStringLiteral("FW.HEX"), hexText(pattern(100)));
    rig.w->openFile();
    QCOMPARE(rig.w->windowTitle(), QStringLiteral("BOOTLOADER Using : FW.HEX"));
    QCOMPARE(rig.w->panelText(1), QStringLiteral("Loaded"));
    QCOMPARE(rig.w->panelText(2), QStringLiteral(" 100"));
    QCOMPARE(rig.w->image().bytes.mid(0, 100), pattern(100));
    QCOMPARE(quint8(rig.w->image().bytes[100]), 0xFF);
    rig.w->chooseComPort(6);
    rig.w->quit();
    QFile f(rig.iniPath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(),
             QByteArray("FILE:FW.HEX\r\nPATH:") + rig.dir.path().toUtf8() + "\r\nCOM : 7 \r\n");
}

void TestLoaderWindow::badHexFileChangesNothing() {
    Rig rig(false);
    rig.answerFile = rig.hexFile(QStringLiteral("GOOD.HEX"), hexText(pattern(64)));
    rig.w->openFile();
    QByteArray bad = hexText(pattern(64));
    bad[12] = bad[12] == 'A' ? 'B' : 'A'; // a data digit: the checksum no longer matches
    rig.answerFile = rig.hexFile(QStringLiteral("BAD.HEX"), bad);
    rig.w->openFile();
    QCOMPARE(rig.boxes.size(), 1);
    QVERIFY2(rig.boxes[0].startsWith(QStringLiteral("Mauvais nom de fichier\n")),
             qPrintable(rig.boxes[0]));
    QVERIFY(rig.boxes[0].contains(QLatin1String("1"))); // the line
    QCOMPARE(rig.w->fileName(), QStringLiteral("GOOD.HEX"));
    QCOMPARE(rig.w->windowTitle(), QStringLiteral("BOOTLOADER Using : GOOD.HEX"));
    QCOMPARE(rig.w->image().bytes.left(64), pattern(64));
}

void TestLoaderWindow::uploadRefused_data() {
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<bool>("bootLoaderPresent");
    QTest::addColumn<QString>("message");
    QTest::newRow("no file") << false << true << "Aucun fichier HEX chargé";
    QTest::newRow("no boot loader answer") << true << false << "Le bootloader n'a pas répondu";
}

void TestLoaderWindow::uploadRefused() {
    // Without a file or an answer from the boot loader, not a byte of a block goes out.
    QFETCH(bool, withFile);
    QFETCH(bool, bootLoaderPresent);
    QFETCH(QString, message);
    Rig rig(false);
    if (withFile) {
        rig.answerFile = rig.hexFile(QStringLiteral("A.HEX"), hexText(pattern(64)));
        rig.w->openFile();
    }
    rig.fake->present = bootLoaderPresent;
    if (bootLoaderPresent) {
        rig.w->activate();
        QVERIFY(rig.w->bootLoaderAnswered());
    } else {
        rig.link->openPort();
    }
    rig.get<QPushButton>("Cb_Load")->click();
    QCOMPARE(rig.boxes.size(), 1);
    QVERIFY2(rig.boxes[0].startsWith(message), qPrintable(rig.boxes[0]));
    QVERIFY(!rig.fake->written.contains(char(27)));
}

void TestLoaderWindow::chooseCom12() {
    Rig rig(false);
    rig.ports.setSystemPorts({QStringLiteral("/dev/ttyUSB0")});
    rig.get<QAction>("MnuSelCom")->trigger();
    auto *list = rig.get<QComboBox>("ListComSel");
    QVERIFY(!list->isHidden());
    // Each entry says which device it is.
    QCOMPARE(list->itemData(0, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(list->itemData(1, Qt::ToolTipRole).toString(),
             QStringLiteral("aucun port série associé"));
    emit list->activated(11);
    QVERIFY(list->isHidden());
    QCOMPARE(rig.link->portNumber, 12);
    QCOMPARE(rig.display(), QStringLiteral("Déconnecté"));
    QCOMPARE(rig.w->panelText(3), QStringLiteral("De-Connected"));
    QCOMPARE(rig.resolved.last(), 12);
    QCOMPARE(rig.link->connectionState, 1); // the port set-up ran
    // The next activation probes on it.
    rig.w->activate();
    QCOMPARE(rig.link->device(), QStringLiteral("dev12"));
    QVERIFY(rig.w->bootLoaderAnswered());
}

void TestLoaderWindow::menuEntriesWithoutAction() {
    Rig rig(false);
    rig.w->activate();
    const QByteArray before = rig.fake->written;
    const QString display = rig.display();
    for (const char *name : {"MnuChrg", "MnuDeconnect", "MnuConnect"})
        rig.get<QAction>(name)->trigger();
    QCOMPARE(rig.fake->written, before);
    QCOMPARE(rig.display(), display);
    QVERIFY(rig.link->isOpen());
    QVERIFY(rig.boxes.isEmpty());
}

void TestLoaderWindow::uploadAsksFirst_data() {
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("range");
    QTest::newRow("Oui uploads") << int(QMessageBox::Yes) << 1000 << "de 0x0000 à 0x03FF.";
    QTest::newRow("Non sends nothing") << int(QMessageBox::No) << 1000 << "de 0x0000 à 0x03FF.";
    QTest::newRow("boot loader area named")
        << int(QMessageBox::Yes) << 0x7900
        << "de 0x0000 à 0x77FF.\nLes données du fichier à partir de 0x7800 (zone du bootloader) "
           "ne sont pas envoyées.";
}

void TestLoaderWindow::uploadAsksFirst() {
    // The box names the file and the device; "Non" is its default and sends nothing.
    QFETCH(int, answer);
    QFETCH(int, size);
    QFETCH(QString, range);
    Rig rig(false);
    rig.answerFile = rig.hexFile(QStringLiteral("FW.HEX"), hexText(pattern(size)));
    rig.w->openFile();
    rig.w->activate();
    QVERIFY(rig.w->bootLoaderAnswered());
    rig.answer = QMessageBox::StandardButton(answer);
    rig.get<QPushButton>("Cb_Load")->click();
    QCOMPARE(rig.questions.size(), 1);
    QCOMPARE(rig.questions[0],
             QStringLiteral("Charger le fichier FW.HEX dans le chargeur sur COM 1 (dev1) ?\n"
                            "Le programme du chargeur sera remplacé ") +
                 range);
    QCOMPARE(rig.questionDefault, QMessageBox::No);
    QCOMPARE(rig.questionIcon, QMessageBox::Warning);
    QVERIFY(rig.boxes.isEmpty());
    if (answer == QMessageBox::No) {
        QVERIFY(!rig.fake->written.contains(char(27)));
        QCOMPARE(rig.w->panelText(1), QStringLiteral("Loaded"));
        QVERIFY(rig.w->bootLoaderAnswered()); // still there: the user may say yes next time
    } else {
        QCOMPARE(rig.w->panelText(1), QStringLiteral("Upload Successfull"));
        QVERIFY(rig.fake->endSeen);
    }
}

void TestLoaderWindow::uploadToVirtualCharger_data() {
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("unsorted"); // the file's records in reverse order
    QTest::addColumn<int>("scriptAddress");
    QTest::addColumn<int>("scriptAnswer");
    QTest::addColumn<int>("scriptTimes");
    QTest::addColumn<QString>("panel1");
    QTest::addColumn<QString>("panel4");
    QTest::newRow("clean") << 1000 << false << -1 << 0 << 0 << "Upload Successfull"
                           << "No Err";
    QTest::newRow("unsorted file: all of it")
        << 1000 << true << -1 << 0 << 0 << "Upload Successfull"
        << "No Err";
    QTest::newRow("NACK, NACK, ACK") << 1000 << false << 0 << 7 << 2 << "Upload Successfull"
                                     << "ErrCom  2,Flsh 0";
    QTest::newRow("unexpected answer: block sent again")
        << 1000 << false << 64 << 0x41 << 1 << "Upload Successfull"
        << "ErrCom  0,Flsh 0,Autre 1";
    QTest::newRow("five ERFLASH") << 1000 << false << 64 << 8 << 5 << "Error in Upload 64"
                                  << "ErrCom  0,Flsh 5";
    QTest::newRow("full memory, boot loader area left out")
        << 0x8000 << false << -1 << 0 << 0 << "Upload Successfull"
        << "No Err";
}

void TestLoaderWindow::uploadToVirtualCharger() {
    QFETCH(int, size);
    QFETCH(bool, unsorted);
    QFETCH(int, scriptAddress);
    QFETCH(int, scriptAnswer);
    QFETCH(int, scriptTimes);
    Rig rig(true);
    const QByteArray bootArea = rig.charger.masterFlash.mid(0x7800);
    QByteArray text = hexText(pattern(size));
    if (unsorted) {
        QList<QByteArray> lines = text.trimmed().split('\n');
        const QByteArray end = lines.takeLast();
        std::reverse(lines.begin(), lines.end());
        text = lines.join('\n') + '\n' + end + '\n';
    }
    rig.answerFile = rig.hexFile(QStringLiteral("FW.HEX"), text);
    rig.w->openFile();
    QCOMPARE(rig.w->panelText(2), QStringLiteral(" %1").arg(size));
    if (scriptAddress >= 0)
        rig.charger.scriptBootAnswer(scriptAddress, quint8(scriptAnswer), scriptTimes);
    rig.w->activate();
    QCOMPARE(rig.display(), QStringLiteral("Connecté"));
    QCOMPARE(rig.w->panelText(3), QStringLiteral("Connected"));
    rig.get<QPushButton>("Cb_Load")->click();
    QTEST(rig.w->panelText(1), "panel1");
    QTEST(rig.w->panelText(4), "panel4");
    QCOMPARE(rig.w->panelText(3), QStringLiteral("Transfer Finished"));
    // The end sequence reaches the boot loader once the event loop has run.
    QTRY_COMPARE(rig.charger.bootUploadsEnded(), 1);
    QVERIFY(rig.get<QGroupBox>("FRtemp")->isHidden());
    QVERIFY(!rig.get<QPlainTextEdit>("TXT_Display")->isHidden());
    const bool success = rig.w->lastUpload().outcome == UploadResult::Success;
    // A failed upload ends with a box; a successful one with none.
    QCOMPARE(rig.boxes.size(), success ? 0 : 1);
    if (success) {
        const int n = qMin(size, 0x7800);
        QCOMPARE(rig.charger.masterFlash.left(n), pattern(size).left(n));
        QCOMPARE(rig.charger.masterFlash.mid(0x7800), bootArea);
    }
    // The end sequence sent the boot loader away: another upload needs a new handshake.
    const qsizetype before = rig.boxes.size();
    rig.get<QPushButton>("Cb_Load")->click();
    QCOMPARE(rig.boxes.size(), before + 1);
    QVERIFY(rig.boxes.last().startsWith(QStringLiteral("Le bootloader n'a pas répondu")));
    QCOMPARE(rig.questions.size(), 1);
}

void TestLoaderWindow::failedUploadSaysWhereInABox_data() {
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("panel2");
    const QString partly = QStringLiteral(
        "\nBlocs écrits de 0x0000 à 0x00BF seulement : la mémoire programme du chargeur est "
        "partiellement écrite. Relancer le chargement.");
    QTest::newRow("five ERFLASH")
        << "erflash"
        << "Erreur de chargement à l'adresse 0x00C0 : le bloc a été refusé 5 fois de suite "
           "(dernière réponse : ERFLASH, écriture de la flash en échec)." +
               partly
        << "ERFLASH";
    QTest::newRow("five NACK") << "nack"
                               << "Erreur de chargement à l'adresse 0x00C0 : le bloc a été "
                                  "refusé 5 fois de suite (dernière réponse : NACK, bloc mal "
                                  "reçu)." +
                                      partly
                               << "NACK";
    QTest::newRow("five unexpected answers")
        << "stray"
        << "Erreur de chargement à l'adresse 0x00C0 : le bloc a été refusé 5 fois de suite "
           "(dernière réponse : réponse inattendue 0x41)." +
               partly
        << "Réponse 0x41";
    QTest::newRow("time-out") << "silent"
                              << "Time out sur interface Serie\nLe bootloader n'a pas répondu "
                                 "au bloc de l'adresse 0x00C0 en 0.3 s." +
                                     partly
                              << "Time out";
    QTest::newRow("port vanishes")
        << "vanish"
        << "Erreur port com\nfake : device vanished\nChargement arrêté à l'adresse 0x00C0." + partly
        << "Port error";
    QTest::newRow("Deconnection") << "disconnect"
                                  << "Chargement arrêté par \"Deconnection\" à l'adresse 0x00C0." +
                                         partly
                                  << "Port error";
    QTest::newRow("first block refused")
        << "first"
        << "Erreur de chargement à l'adresse 0x0000 : le bloc a été refusé 5 fois de suite "
           "(dernière réponse : ERFLASH, écriture de la flash en échec).\nAucun bloc n'a été "
           "écrit. Relancer le chargement."
        << "ERFLASH";
}

void TestLoaderWindow::failedUploadSaysWhereInABox() {
    // Three blocks go through, then the fourth (0x00C0) fails its way: one box says what
    // and where, however the upload ended.
    QFETCH(QString, failure);
    QFETCH(QString, box);
    QFETCH(QString, panel2);
    Rig rig(false);
    rig.link->answerTimeoutMs = 300;
    rig.answerFile = rig.hexFile(QStringLiteral("FW.HEX"), hexText(pattern(1000)));
    rig.w->openFile();
    rig.w->activate();
    const QList<quint8> acks{6, 6, 6};
    if (failure == "erflash") rig.fake->blockAnswers = acks + QList<quint8>{8, 8, 8, 8, 8};
    if (failure == "nack") rig.fake->blockAnswers = acks + QList<quint8>{7, 7, 7, 7, 7};
    if (failure == "first") rig.fake->blockAnswers = {8, 8, 8, 8, 8};
    if (failure == "stray") rig.fake->strayAt = {3, 4, 5, 6, 7};
    if (failure == "silent" || failure == "vanish" || failure == "disconnect") {
        // Silent from the fourth block on.
        connect(rig.fake, &FakeBootLoader::readyRead, rig.fake, [&rig] {
            if (rig.fake->blocks.size() == 3) rig.fake->silentBlocks = true;
        });
    }
    if (failure == "vanish" || failure == "disconnect") {
        QTimer::singleShot(150, rig.w.get(), [&rig, failure] {
            if (failure == "vanish")
                rig.fake->vanish();
            else
                rig.get<QPushButton>("CD_DECONNECT")->click();
        });
    }
    rig.get<QPushButton>("Cb_Load")->click();
    QCOMPARE(rig.questions.size(), 1);
    QVERIFY(rig.w->lastUpload().outcome != UploadResult::Success);
    QCOMPARE(rig.w->panelText(2), panel2);
    QCOMPARE(rig.boxes, QStringList{box});
    QCOMPARE(rig.display(), QStringLiteral("Chargement interrompu\n"));
}

void TestLoaderWindow::progressFrameDuringUpload() {
    Rig rig(false);
    rig.link->answerTimeoutMs = 400;
    rig.answerFile = rig.hexFile(QStringLiteral("FW.HEX"), hexText(pattern(0x7F00)));
    rig.w->openFile();
    rig.w->activate();
    rig.fake->silentBlocks = true;
    bool frame = false, displayHidden = false;
    int maximum = 0;
    QTimer::singleShot(150, rig.w.get(), [&] {
        frame = !rig.get<QGroupBox>("FRtemp")->isHidden();
        displayHidden = rig.get<QPlainTextEdit>("TXT_Display")->isHidden() &&
                        rig.get<QLabel>("Info2")->isHidden();
        maximum = rig.get<QProgressBar>("PrBar")->maximum();
        rig.w->grab().save(QDir(QString::fromLocal8Bit(qgetenv("PELMORA_BIN_DIR")))
                               .filePath(QStringLiteral("sparlo_window_loading.png")));
    });
    rig.w->startUpload();
    QVERIFY(frame);
    QVERIFY(displayHidden);
    QCOMPARE(maximum, 30720);
    QCOMPARE(rig.w->panelText(1), QStringLiteral("Error in Upload 0"));
    QCOMPARE(rig.w->panelText(2), QStringLiteral("Time out"));
    QVERIFY(rig.fake->endSeen);
    QCOMPARE(rig.boxes.size(), 1);
    QVERIFY(rig.boxes[0].startsWith(QStringLiteral("Time out sur interface Serie\n")));
}

void TestLoaderWindow::disconnectWhileProbing() {
    Rig rig(false);
    rig.link->portSetup();
    rig.fake->present = false;
    // While it probes, the user chooses the file, then gives up.
    rig.answerFile = rig.hexFile(QStringLiteral("P.HEX"), hexText(pattern(64)));
    QString shownWhileProbing;
    QTimer::singleShot(250, rig.w.get(), [&] {
        shownWhileProbing = rig.display();
        rig.get<QPushButton>("Cb_Open")->click();
    });
    QTimer::singleShot(500, rig.w.get(), [&] { rig.get<QPushButton>("CD_DECONNECT")->click(); });
    QElapsedTimer t;
    t.start();
    rig.get<QPushButton>("Cb_Reconnect")->click();
    QVERIFY(t.elapsed() < 900);
    QVERIFY(rig.fake->probes >= 2);
    // Which device is being probed.
    QVERIFY2(QRegularExpression(QStringLiteral("^Essais de Connection\n \\d+\nCOM 1 \\(dev1\\)$"))
                 .match(shownWhileProbing)
                 .hasMatch(),
             qPrintable(shownWhileProbing));
    QVERIFY(!rig.link->isOpen());
    QVERIFY(!rig.fake->writtenWhileClosed);
    QCOMPARE(rig.display(), QStringLiteral("Déconnecté"));
    QCOMPARE(rig.w->panelText(3), QStringLiteral("De-Connected"));
    QVERIFY(!rig.w->bootLoaderAnswered());
    QVERIFY(!rig.w->busy());
    QCOMPARE(rig.w->fileName(), QStringLiteral("P.HEX"));
    QCOMPARE(rig.w->panelText(1), QStringLiteral("Loaded"));
}

void TestLoaderWindow::quitWhileProbingEndsAndSaves() {
    Rig rig(false);
    rig.answerFile = rig.hexFile(QStringLiteral("Q.HEX"), hexText(pattern(64)));
    rig.w->openFile();
    rig.link->portSetup();
    rig.fake->present = false;
    QStringList probesShown;
    QTimer::singleShot(450, rig.w.get(), [&] { rig.get<QPushButton>("Cb_quitter")->click(); });
    rig.w->activate();
    QVERIFY(!rig.w->busy());
    QTRY_VERIFY(QFile::exists(rig.iniPath()));
    QCOMPARE(readSettingsFile(rig.iniPath())->file, QStringLiteral("Q.HEX"));
    QVERIFY(!rig.link->isOpen());
}

void TestLoaderWindow::closingDuringUploadEndsItCleanly() {
    Rig rig(false);
    rig.answerFile = rig.hexFile(QStringLiteral("C.HEX"), hexText(pattern(4096)));
    rig.w->openFile();
    rig.w->activate();
    rig.fake->silentBlocks = true; // the wait for the first answer is where the user closes
    QTimer::singleShot(100, rig.w.get(), [&] { rig.w->close(); });
    QElapsedTimer t;
    t.start();
    rig.w->startUpload();
    QVERIFY(t.elapsed() < 1000);
    QCOMPARE(rig.w->lastUpload().outcome, UploadResult::Stopped);
    QVERIFY2(rig.fake->endSeen, "the end sequence still goes out");
    QVERIFY(rig.boxes.isEmpty()); // the user is quitting
    QTRY_VERIFY(QFile::exists(rig.iniPath()));
    QVERIFY(!rig.link->isOpen());
}

void TestLoaderWindow::portVanishingIsReportedOnce() {
    Rig rig(false);
    rig.link->portSetup();
    rig.fake->present = false;
    QTimer::singleShot(300, rig.w.get(), [&] { rig.fake->vanish(); });
    rig.w->reconnect();
    QCOMPARE(rig.boxes.size(), 1);
    QVERIFY2(rig.boxes[0].startsWith(QStringLiteral("Erreur port com\n")),
             qPrintable(rig.boxes[0]));
    // The box says which serial devices there are ("Ports série trouvés" or "Aucun port
    // série trouvé"), so that the user sees which one to pick.
    QVERIFY2(rig.boxes[0].contains(QStringLiteral("série trouvé")), qPrintable(rig.boxes[0]));
    QCOMPARE(rig.display(), QStringLiteral("Déconnecté"));
    // The first "Deconnection" afterwards only clears the port fault.
    QVERIFY(rig.link->portFault);
    rig.w->disconnect_();
    QVERIFY(!rig.link->portFault);
}

void TestLoaderWindow::picture() {
    Rig rig(true);
    rig.answerFile = rig.hexFile(QStringLiteral("CHARGEUR.HEX"), hexText(pattern(20000)));
    rig.w->openFile();
    rig.w->activate();
    const QString out = QDir(QString::fromLocal8Bit(qgetenv("PELMORA_BIN_DIR")))
                            .filePath(QStringLiteral("sparlo_window.png"));
    QVERIFY(rig.w->grab().save(out));
    rig.w->startUpload();
    rig.get<QAction>("MnuSelCom")->trigger();
    QVERIFY(rig.w->grab().save(out.chopped(4) + QStringLiteral("_after.png")));
}

QTEST_MAIN(TestLoaderWindow)
#include "tst_loaderwindow.moc"
