// The microcontroller window driven offscreen against the in-process virtual charger, with
// the file dialog and the message boxes answered from the test.

#include "firmware/heximage.h"
#include "firmware/micro.h"
#include "firmware/register.h"
#include "flashrig.h"
#include "link/messages.h"
#include "link/session.h"
#include "winkit/windowregistry.h"

#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace firmware;
using chlink::BoxKind;
using chlink::BoxRequest;

class TstMicro : public QObject {
    Q_OBJECT

    QTemporaryDir m_config;
    QTemporaryDir m_dir;
    QList<BoxRequest> m_boxes;
    QList<bool> m_answers; // answers to the next questions (Yes when empty)
    QStringList m_files;   // the next file dialog results ("" cancels)
    QStringList m_dialogDirs;
    int m_dialogs = 0;

    // A test stand-in for the main window, and the window opened from it through the
    // registry; the windows Micro opens are the firmware's placeholders until a test
    // registers its own.
    struct Visit {
        FlashRig rig;
        QWidget main;
        chlink::Session &session = rig.session;
        winkit::WindowRegistry registry{&session};
        QPointer<Micro> micro;
        Visit() {
            main.show();
            firmware::registerWindows(registry);
            micro = qobject_cast<Micro *>(registry.open(QStringLiteral("Micro"), &main));
        }
        ~Visit() { delete micro.data(); }
        QLabel *label(const char *name) const { return micro->findChild<QLabel *>(name); }
        QString infos() const { return label("LBinfos")->text(); }
        QString typest() const { return label("LBtypest")->text(); }
        QProgressBar *bar() const { return micro->findChild<QProgressBar *>("ProgBar1"); }
    };

    QString writeFile(const QString &name, const QByteArray &text) {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(text);
        return path;
    }
    QStringList texts() const {
        QStringList t;
        for (const BoxRequest &b : m_boxes)
            t.append(b.text);
        return t;
    }

    // Runs `f` once, from inside the transfer's wait, when the charger answers the n-th
    // command of `code`.
    static void when(Visit &v, int code, int n, std::function<void()> f) {
        auto done = std::make_shared<bool>(false);
        QObject::connect(
            &v.rig.charger, &sim::VirtualCharger::transmit, v.micro,
            [&v, code, n, f, done] {
                if (*done || v.rig.count(code) != n) return;
                *done = true;
                f();
            },
            Qt::DirectConnection);
    }

    // The three transfers of the window, each started on a file that gives it work: the
    // master write (448 blocks), the slave read-back (words 0..500) and the slave write of
    // 60 changed words (below the protected zone).
    enum Kind { MasterWrite, ReadBack, SlaveWrite };
    void start(Visit &v, int kind) {
        if (kind == MasterWrite) {
            m_files = {writeFile("m.hex", hexText("\x01", 0x2000))};
            v.micro->pgmMaster();
            return;
        }
        QVector<quint16> file = v.rig.charger.slaveFlash;
        for (int i = 0; i < 60; ++i)
            file[i] = quint16(0x0100 + i);
        m_files = {writeFile("s.hex", slaveHex(file, 0, 500))};
        v.micro->pgmSlave();
    }
    static int codeOf(int kind) { return kind == MasterWrite ? 47 : kind == ReadBack ? 46 : 48; }
    QList<BoxRequest> boxesAfterTheConfirmations() const {
        QList<BoxRequest> out;
        for (const BoxRequest &b : m_boxes)
            if (!b.text.startsWith("Confirmer chargement")) out.append(b);
        return out;
    }

    void answerBoxesFromTheTest() {
        chlink::setBoxHook([this](const BoxRequest &r) {
            m_boxes.append(r);
            return r.kind != BoxKind::Question || m_answers.isEmpty() || m_answers.takeFirst();
        });
        chlink::setFileHook(
            [this](bool, const QString &title, const QString &dir, const QString &) {
                ++m_dialogs;
                m_dialogDirs.append(dir);
                if (title != QStringLiteral("Fichier Source Hex")) return QString();
                return m_files.isEmpty() ? QString() : m_files.takeFirst();
            });
    }

  private slots:
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
        answerBoxesFromTheTest();
    }
    void init() {
        m_boxes.clear();
        m_answers.clear();
        m_files.clear();
        m_dialogDirs.clear();
        m_dialogs = 0;
    }

    // The box itself, without the test's answers: Enter on a risky question answers No.
    void riskyQuestionBoxDefaultsToNo() {
        chlink::setBoxHook({});
        QMessageBox::StandardButton chosen = QMessageBox::NoButton;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QTimer look;
        look.setInterval(20);
        QObject::connect(&look, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box) return;
            look.stop();
            chosen = box->standardButton(box->defaultButton());
            icon = box->icon();
            QTest::keyClick(box, Qt::Key_Return);
        });
        look.start();
        const bool yes = chlink::askYesNoRisky(nullptr, QStringLiteral("Continuer ?"),
                                               QStringLiteral("ATTENTION !"));
        answerBoxesFromTheTest();
        QVERIFY(!yes);
        QCOMPARE(chosen, QMessageBox::No);
        QCOMPARE(icon, QMessageBox::Warning);
    }

    void controlsAndCaptions() {
        Visit v;
        QCOMPARE(v.micro->windowTitle(), QStringLiteral("Accès Microrpocesseur / debugging"));
        QCOMPARE(v.micro->size(), QSize(533, 466));
        QVERIFY(v.main.isHidden());
        QVERIFY(v.bar()->isHidden());
        const QList<QPair<const char *, QString>> buttons = {{"CBMIC1", "PGM Flash Master"},
                                                             {"CbPgmSlave", "PGM Flash Slave"},
                                                             {"CBepr", "EEprom Master"},
                                                             {"CbEEprSalave", "EEprom Slave"},
                                                             {"CbextEEPROM", "External EEprom"},
                                                             {"CBEtat", "Tableau de bord"},
                                                             {"MQuitter", "Retour"}};
        for (const auto &[name, text] : buttons) {
            auto *b = v.micro->findChild<QPushButton *>(name);
            QVERIFY2(b, name);
            QCOMPARE(b->text().remove(QLatin1Char('&')), text); // the caption as shown
        }
        QCOMPARE(v.micro->findChild<QGroupBox *>("Frame2")->title(), QStringLiteral("Mise A Jour"));
        QCOMPARE(v.micro->findChild<QGroupBox *>("Frame1")->title(), QStringLiteral("ETAT"));
        QVERIFY(v.typest().isEmpty());
        QVERIFY(v.infos().isEmpty());
        const QString shot = qEnvironmentVariable("PELMORA_GRAB_DIR");
        if (!shot.isEmpty()) {
            v.label("LBtypest")->setText("Lecture Flash");
            v.label("LBinfos")->setText("Mots restant à lire :  1200");
            v.bar()->setRange(0, 2000);
            v.bar()->setValue(800);
            v.bar()->show();
            v.micro->grab().save(shot + "/micro.png");
        }
    }

    void masterFlashFromAFile() {
        Visit v;
        QByteArray image(0x7000, 0);
        QRandomGenerator rng(12);
        for (char &c : image)
            c = char(rng.bounded(256));
        m_files = {writeFile("master.hex", hexText(image, 0x1000, 32))};
        v.micro->pgmMaster();
        QCOMPARE(texts(), QStringList{"Confirmer chargement Flash Master."});
        QCOMPARE(v.rig.link.targetSelector, 1);
        QCOMPARE(v.rig.count(47), 448);
        QVERIFY(v.rig.charger.masterFlash.mid(0x1000) == image);
        QCOMPARE(v.typest(), QStringLiteral("Chargement fichier"));
        QVERIFY(v.bar()->isHidden());
        QCOMPARE(v.bar()->minimum(), 0x1000);
        QVERIFY(!v.micro->isBusy());
    }

    void masterDeclinedSendsNothing() {
        Visit v;
        m_files = {writeFile("m.hex", hexText("\x01\x02", 0x1000))};
        m_answers = {false};
        v.micro->pgmMaster();
        QCOMPARE(texts(), QStringList{"Confirmer chargement Flash Master."});
        QVERIFY(v.rig.port->written.isEmpty());
    }

    void nothingSentWithoutAGoodFile_data() {
        QTest::addColumn<bool>("slave");
        QTest::addColumn<QByteArray>("text"); // "" cancels the dialog, "missing" no file
        QTest::addColumn<QString>("box");
        QTest::newRow("master cancelled") << false << QByteArray() << QString();
        QTest::newRow("slave cancelled") << true << QByteArray() << QString();
        QByteArray bad = hexText(QByteArray(40, 1));
        bad[bad.indexOf("\r\n:") + 12] = 'Z';
        QTest::newRow("master bad digit")
            << false << bad << "Mauvais nom de fichier\nligne 2 : caractère non hexadécimal";
        QTest::newRow("slave bad digit")
            << true << bad << "Mauvais nom de fichier\nligne 2 : caractère non hexadécimal";
        QTest::newRow("master missing file")
            << false << QByteArray("missing") << "Mauvais nom de fichier\nfichier introuvable";
        QTest::newRow("slave no data") << true << QByteArray(":00000001FF\n")
                                       << "Mauvais nom de fichier\naucune donnée dans le fichier";
    }
    void nothingSentWithoutAGoodFile() {
        QFETCH(bool, slave);
        QFETCH(QByteArray, text);
        QFETCH(QString, box);
        Visit v;
        if (text.isEmpty())
            m_files = {QString()};
        else if (text == "missing")
            m_files = {m_dir.filePath("nowhere.hex")};
        else
            m_files = {writeFile("bad.hex", text)};
        slave ? v.micro->pgmSlave() : v.micro->pgmMaster();
        QCOMPARE(m_dialogs, 1);
        QVERIFY(v.rig.port->written.isEmpty());
        if (box.isEmpty()) {
            QVERIFY(m_boxes.isEmpty());
        } else {
            QCOMPARE(m_boxes.size(), 1);
            QCOMPARE(m_boxes[0].kind, BoxKind::Error);
            QVERIFY2(m_boxes[0].text.startsWith(box), qPrintable(m_boxes[0].text));
        }
    }

    void noConnectionAsksNothing_data() {
        QTest::addColumn<QString>("button");
        QTest::newRow("master") << "CBMIC1";
        QTest::newRow("slave") << "CbPgmSlave";
        QTest::newRow("state panel") << "CBEtat";
    }
    void noConnectionAsksNothing() {
        QFETCH(QString, button);
        Visit v;
        bool opened = false;
        v.registry.add({.id = QStringLiteral("FEtat"),
                        .make = [&](const winkit::Host &) -> winkit::ChargerWindow * {
                            opened = true;
                            return nullptr;
                        },
                        .needsConnection = true});
        v.rig.link.connectionFlag = 0;
        v.micro->findChild<QPushButton *>(button)->click();
        QCOMPARE(texts(), QStringList{"Pas de connection avec chargeur"});
        QCOMPARE(m_dialogs, 0);
        QVERIFY(!opened);
        QVERIFY(v.rig.port->written.isEmpty());
    }

    // The slave's memory holds `memory`; the file holds the same words except at `changes`.
    void slaveFlash_data() {
        QTest::addColumn<QList<int>>("changes");
        QTest::addColumn<QList<bool>>("answers");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<int>("written");
        QTest::addColumn<QString>("infos");
        QTest::newRow("identical file writes nothing")
            << QList<int>{} << QList<bool>{} << QStringList{} << 0 << "Pas de changement détecté";
        QTest::newRow("changes below the protected zone ask once")
            << QList<int>{0, 100, 6143} << QList<bool>{true}
            << QStringList{"Confirmer chargement de 3 octets"} << 3
            << "Transfert terminé et vérifié : 3 mots";
        QTest::newRow("protected zone answered No writes nothing")
            << QList<int>{5, 6144, 7000} << QList<bool>{false}
            << QStringList{" 2 Changements en Zone Protégée, CONTINUER ??"} << 0
            << "Pas de changement détecté";
        QTest::newRow("protected zone answered Yes")
            << QList<int>{5, 6144, 7000} << QList<bool>{true, true}
            << QStringList{" 2 Changements en Zone Protégée, CONTINUER ??",
                           "Confirmer chargement de 3 octets"}
            << 3 << "Transfert terminé et vérifié : 3 mots";
        QTest::newRow("confirmation declined")
            << QList<int>{10, 11} << QList<bool>{false}
            << QStringList{"Confirmer chargement de 2 octets"} << 0 << "Differences =  2";
    }
    void slaveFlash() {
        QFETCH(QList<int>, changes);
        QFETCH(QList<bool>, answers);
        QFETCH(QStringList, boxes);
        QFETCH(int, written);
        QFETCH(QString, infos);
        Visit v;
        QVector<quint16> memory = randomWords(21);
        const int count = 7200;
        // The word after the file's last one is read and compared too, against the erased
        // value the file leaves there.
        memory[count] = 0x3FFF;
        v.rig.charger.slaveFlash = memory;
        QVector<quint16> file = memory;
        for (int i : changes)
            file[i] = quint16(file[i] ^ 0x1555);
        m_files = {writeFile("slave.hex", slaveHex(file, 0, count))};
        m_answers = answers;
        v.micro->pgmSlave();
        QCOMPARE(texts(), boxes);
        for (const BoxRequest &b : std::as_const(m_boxes)) {
            // The protected zone's question: Enter answers No, and it warns.
            const bool zone = b.text.contains("Zone");
            QCOMPARE(b.title, zone ? QStringLiteral("ATTENTION !") : QString());
            QCOMPARE(b.icon, zone ? chlink::BoxIcon::Exclamation : chlink::BoxIcon::Question);
            QCOMPARE(b.defaultNo, zone);
        }
        QCOMPARE(v.rig.link.targetSelector, 2);
        QCOMPARE(v.micro->lastAddress(), count);
        // Read back from word 0 to the last address inclusive, one past the file's words.
        QCOMPARE(v.rig.count(46), count + 1 + written);
        QCOMPARE(v.rig.count(48), written);
        QCOMPARE(v.infos(), infos);
        QVERIFY(v.bar()->isHidden());
        const QVector<quint16> want = written ? file : memory;
        QVERIFY(v.rig.charger.slaveFlash == want);
    }

    void slaveReadBackStopsAtTheLastWord() {
        Visit v;
        QVector<quint16> file = v.rig.charger.slaveFlash;
        file[8191] = 0x0123;
        m_files = {writeFile("top.hex", slaveHex(file, 8190, 2))};
        v.micro->pgmSlave();
        QCOMPARE(v.micro->lastAddress(), 8192);
        QCOMPARE(v.rig.count(46), 8192 + 1); // words 0..8191, then the verification of 8191
        QCOMPARE(v.rig.count(48), 1);
        QCOMPARE(v.rig.charger.slaveFlash[8191], quint16(0x0123));
    }

    void verificationReportsWordsThatDidNotTake() {
        Visit v;
        QVector<quint16> file = v.rig.charger.slaveFlash;
        file[40] = 0x0040;
        file[41] = 0x0041;
        m_files = {writeFile("s.hex", slaveHex(file, 0, 64))};
        // The slave acknowledges but keeps its old words: it is not there to write them.
        QObject::connect(
            &v.rig.charger, &sim::VirtualCharger::transmit, v.micro,
            [&] {
                if (v.rig.count(48) > 0) v.rig.charger.slaveFlash[40] = 0x3FFF;
            },
            Qt::DirectConnection);
        v.micro->pgmSlave();
        QCOMPARE(v.rig.count(48), 2);
        QCOMPARE(m_boxes.last().kind, BoxKind::Error);
        QCOMPARE(m_boxes.last().text,
                 QStringLiteral("Vérification : 1 mots différents après écriture, le premier à "
                                "l'adresse 0x0028"));
    }

    void masterThenSlaveInTheSameVisit() {
        Visit v;
        const QByteArray image(0x100, char(0x5A));
        m_files = {writeFile("m.hex", hexText(image, 0x4000)),
                   writeFile("s.hex", slaveHex(QVector<quint16>(16, 0x0ABC), 0, 16)),
                   m_dir.filePath("m.hex")};
        v.micro->pgmMaster();
        v.micro->pgmSlave();
        QCOMPARE(v.rig.count(47), 448);
        QCOMPARE(v.rig.charger.masterFlash.mid(0x4000, 0x100), image);
        QCOMPARE(v.rig.count(48), 16);
        QCOMPARE(v.rig.charger.slaveFlash.mid(0, 16), QVector<quint16>(16, 0x0ABC));
        v.micro->pgmMaster();
        QCOMPARE(v.rig.count(47), 896);
    }

    // During a transfer the buttons are off; closing by the frame asks first (No is the
    // default); Yes stops it after the exchange under way and says where it stopped and
    // what is left.
    void closingByTheFrame_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<int>("sent");
        QTest::addColumn<QString>("report");
        QTest::newRow("master write, No") << int(MasterWrite) << false << 448 << QString();
        QTest::newRow("master write, Yes")
            << int(MasterWrite) << true << 10
            << "Écriture Flash Master arrêtée à l'adresse 0x1280 : arrêt demandé à la fermeture "
               "de la fenêtre\nLa Flash Master est maintenant en partie écrite : 10 blocs écrits "
               "sur 448. Refaites le chargement avant d'utiliser le chargeur.";
        QTest::newRow("slave read-back, Yes")
            << int(ReadBack) << true << 100
            << "Lecture Flash arrêtée à l'adresse 0x0064 : arrêt demandé à la fermeture de la "
               "fenêtre\nRien n'a été écrit : la Flash Slave est inchangée.";
        QTest::newRow("slave write, No") << int(SlaveWrite) << false << 60 << QString();
        QTest::newRow("slave write, Yes")
            << int(SlaveWrite) << true << 3
            << "Écriture Flash Slave arrêtée à l'adresse 0x0003 : arrêt demandé à la fermeture "
               "de la fenêtre\nLa Flash Slave est maintenant en partie écrite : 3 mots écrits "
               "sur 60, 57 non écrits. Refaites le chargement avant d'utiliser le chargeur.";
    }
    void closingByTheFrame() {
        QFETCH(int, kind);
        QFETCH(bool, yes);
        QFETCH(int, sent);
        QFETCH(QString, report);
        Visit v;
        const int at = kind == MasterWrite ? 10 : kind == ReadBack ? 100 : 3;
        // Nothing that would end the transfer or start another exchange can be clicked.
        const QStringList buttons = {"CBMIC1",      "CbPgmSlave", "CBepr",   "CbEEprSalave",
                                     "CbextEEPROM", "CBEtat",     "MQuitter"};
        QStringList enabled;
        // Until the exchange under way has ended, the window stays in front of the hidden
        // main window and says that it is stopping.
        bool shownWhileStopping = false, mainWhileStopping = true;
        QString stopping;
        when(v, codeOf(kind), at, [&] {
            for (const QString &n : buttons)
                if (v.micro->findChild<QPushButton *>(n)->isEnabled()) enabled.append(n);
            QTest::mouseClick(v.micro->findChild<QPushButton *>("MQuitter"), Qt::LeftButton);
            m_answers.append(yes);
            v.micro->close();
            shownWhileStopping = v.micro->isVisible();
            mainWhileStopping = v.main.isVisible();
            stopping = v.typest();
        });
        start(v, kind);
        QCOMPARE(enabled, QStringList{});
        QCOMPARE(v.rig.count(codeOf(kind)), sent);
        const QList<BoxRequest> boxes = boxesAfterTheConfirmations();
        QCOMPARE(boxes.size(), yes ? 2 : 1);
        QCOMPARE(boxes[0].kind, BoxKind::Question);
        QCOMPARE(boxes[0].icon, chlink::BoxIcon::Exclamation);
        QVERIFY(boxes[0].defaultNo);
        QVERIFY2(boxes[0].text.startsWith(
                     "Un transfert Flash est en cours. L'arrêter et fermer la fenêtre ?"),
                 qPrintable(boxes[0].text));
        QCOMPARE(boxes[0].text.contains("en partie écrite"), kind != ReadBack);
        if (!yes) {
            QVERIFY(v.micro->isVisible());
            QVERIFY(v.main.isHidden());
            for (const QString &n : buttons)
                QVERIFY2(v.micro->findChild<QPushButton *>(n)->isEnabled(), qPrintable(n));
            return;
        }
        QVERIFY(shownWhileStopping);
        QVERIFY(!mainWhileStopping);
        QCOMPARE(stopping, QStringLiteral("Arrêt après l'échange en cours"));
        QCOMPARE(boxes[1].kind, BoxKind::Error);
        QCOMPARE(boxes[1].text, report);
        QTest::qWait(20);
        QCOMPARE(v.rig.count(codeOf(kind)), sent); // nothing more went out
        QVERIFY(v.main.isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(v.micro.isNull());
    }

    // A transfer that ends early for any reason says so at once, with the address reached
    // and what that leaves in the memory.
    void everyStopIsReported_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("fault"); // 0 silence, 1 refusal, 2 port lost
        QTest::addColumn<int>("at");    // bytes answered, address refused or bytes received
        QTest::addColumn<QString>("report");
        const QString master = "\nLa Flash Master est maintenant en partie écrite : %1 blocs "
                               "écrits sur 448. Refaites le chargement avant d'utiliser le "
                               "chargeur.";
        const QString slave = "\nLa Flash Slave est maintenant en partie écrite : %1 mots écrits "
                              "sur 60, %2 non écrits. Refaites le chargement avant d'utiliser "
                              "le chargeur.";
        const QString timeout = "pas de réponse du chargeur\nTime out sur interface Serie";
        QTest::newRow("master, silent charger")
            << int(MasterWrite) << 0 << 20
            << "Écriture Flash Master arrêtée à l'adresse 0x1500 : " + timeout + master.arg(20);
        QTest::newRow("master, block refused")
            << int(MasterWrite) << 1 << 0x2000
            << "Écriture Flash Master arrêtée à l'adresse 0x2000 : écriture refusée par le "
               "chargeur (réponse 8 au lieu de 6)" +
                   master.arg(64);
        QTest::newRow("master, port lost")
            << int(MasterWrite) << 2 << 68 * 5 + 10
            << "Écriture Flash Master arrêtée à l'adresse 0x1140 : port série perdu" +
                   master.arg(5);
        QTest::newRow("slave read-back, silent charger")
            << int(ReadBack) << 0 << 4 * 30
            << "Lecture Flash arrêtée à l'adresse 0x001E : " + timeout +
                   "\nRien n'a été écrit : la Flash Slave est inchangée.";
        QTest::newRow("slave, word refused")
            << int(SlaveWrite) << 1 << 2
            << "Écriture Flash Slave arrêtée à l'adresse 0x0002 : écriture refusée par le "
               "chargeur (réponse 8 au lieu de 6)" +
                   slave.arg(2).arg(58);
        QTest::newRow("slave, silent charger")
            << int(SlaveWrite) << 0 << 4 * 501 + 40
            << "Écriture Flash Slave arrêtée à l'adresse 0x0028 : " + timeout +
                   slave.arg(40).arg(20);
    }
    void everyStopIsReported() {
        QFETCH(int, kind);
        QFETCH(int, fault);
        QFETCH(int, at);
        QFETCH(QString, report);
        Visit v;
        // A refusal must not wait for the reply time-out: give it a long one.
        v.rig.link.setReplyTimeout(fault == 1 ? 20000 : 400);
        if (fault == 0) v.rig.charger.faults.silenceAfterBytes = at;
        if (fault == 1) v.rig.charger.failFlashWrites(1, at);
        if (fault == 2) v.rig.charger.faults.vanishAfterBytes = at;
        QElapsedTimer clock;
        clock.start();
        start(v, kind);
        QVERIFY(clock.elapsed() < 10000);
        const QList<BoxRequest> boxes = boxesAfterTheConfirmations();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].kind, BoxKind::Error);
        QCOMPARE(boxes[0].text, report);
        QCOMPARE(v.infos(), report.section('\n', 0, 0));
        if (qEnvironmentVariableIsSet("PELMORA_GRAB_DIR") && fault == 0 && kind == MasterWrite)
            v.micro->grab().save(qEnvironmentVariable("PELMORA_GRAB_DIR") + "/micro-timeout.png");
        QVERIFY(v.bar()->isHidden());
        QVERIFY(!v.micro->isBusy());
        QVERIFY(v.micro->findChild<QPushButton *>("MQuitter")->isEnabled());
    }

    // "Quitter" of the main window during a transfer: the program is ending, so the window
    // stops without asking and without a box, and does not bring the main window back.
    void programEndingDuringATransfer() {
        Visit v;
        when(v, 47, 10, [&] {
            v.rig.link.shutdown();
            v.micro->close();
        });
        start(v, MasterWrite);
        QCOMPARE(texts(), QStringList{"Confirmer chargement Flash Master."});
        QCOMPARE(v.rig.count(47), 10);
        QVERIFY(v.main.isHidden());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(v.micro.isNull());
    }

    // A master file with no byte in 0x1000..0x7FFF would only erase the range: refused,
    // with where its data lie, before anything is asked or sent.
    void masterFileOutsideTheWrittenRange_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("box");
        const QString refused =
            "Mauvais nom de fichier\naucune donnée entre 0x1000 et 0x7FFF, la zone écrite "
            "dans la Flash Master : les données du fichier vont de %1 à %2";
        QTest::newRow("boot area only")
            << hexText(QByteArray(0x100, 1), 0x0000) << refused.arg("0x0000", "0x00FF");
        QTest::newRow("one byte below the range")
            << hexText("\x01", 0x0FFF) << refused.arg("0x0FFF", "0x0FFF");
        QTest::newRow("one byte in the range is taken")
            << hexText("\x01", 0x1000) << "Confirmer chargement Flash Master.";
        QTest::newRow("data across 0x1000 is taken")
            << hexText(QByteArray(4, 0), 0x0FFE) << "Confirmer chargement Flash Master.";
        QTest::newRow("0xFF data in the range is taken")
            << hexText("\xFF", 0x7FFF) << "Confirmer chargement Flash Master.";
    }
    void masterFileOutsideTheWrittenRange() {
        QFETCH(QByteArray, text);
        QFETCH(QString, box);
        Visit v;
        m_files = {writeFile("m.hex", text)};
        m_answers = {false};
        v.micro->pgmMaster();
        QCOMPARE(texts(), QStringList{box});
        QCOMPARE(m_boxes[0].kind, box.startsWith("Mauvais") ? BoxKind::Error : BoxKind::Question);
        QVERIFY(v.rig.port->written.isEmpty());
    }

    void retourAndFrameClose_data() {
        QTest::addColumn<bool>("retour");
        QTest::addColumn<int>("reconnect");
        QTest::newRow("Retour clears reconnect-on-activate") << true << 0;
        QTest::newRow("frame close leaves it") << false << 1;
    }
    void retourAndFrameClose() {
        QFETCH(bool, retour);
        QFETCH(int, reconnect);
        Visit v;
        v.rig.link.reconnectOnActivate = 1;
        if (retour)
            v.micro->findChild<QPushButton *>("MQuitter")->click();
        else
            v.micro->close();
        QCOMPARE(v.rig.link.reconnectOnActivate, reconnect);
        QVERIFY(v.main.isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(v.micro.isNull());
    }

    void editorAndPanelButtons_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("opened");
        QTest::addColumn<int>("selector");
        QTest::newRow("EEprom Master") << "CBepr"
                                       << "eeprom" << 1;
        QTest::newRow("EEprom Slave") << "CbEEprSalave"
                                      << "eeprom" << 2;
        QTest::newRow("External EEprom") << "CbextEEPROM"
                                         << "external" << 7;
        QTest::newRow("Tableau de bord") << "CBEtat"
                                         << "panel" << 7;
    }
    void editorAndPanelButtons() {
        QFETCH(QString, button);
        QFETCH(QString, opened);
        QFETCH(int, selector);
        Visit v;
        v.rig.link.targetSelector = 7;
        QStringList calls;
        const auto opener = [&](const QString &name) {
            return [&calls, name, &v](const winkit::Host &h) -> winkit::ChargerWindow * {
                calls.append(name);
                if (h.opener != v.micro || h.session != &v.session) calls.append("wrong host");
                return nullptr;
            };
        };
        // Without the windows (registered but not written): the button says so and does its
        // other effects.
        v.registry.add({.id = QStringLiteral("FEtat"), .needsConnection = true});
        v.registry.add({.id = QStringLiteral("EEprom")});
        v.registry.add({.id = QStringLiteral("Exteepr")});
        v.micro->findChild<QPushButton *>(button)->click();
        QCOMPARE(texts(), QStringList{"Cette fenêtre n'est pas encore disponible."});
        QCOMPARE(v.rig.link.targetSelector, selector);
        v.registry.add(
            {.id = QStringLiteral("FEtat"), .make = opener("panel"), .needsConnection = true});
        v.registry.add({.id = QStringLiteral("EEprom"), .make = opener("eeprom")});
        v.registry.add({.id = QStringLiteral("Exteepr"), .make = opener("external")});
        v.micro->findChild<QPushButton *>(button)->click();
        QCOMPARE(calls, QStringList{opened});
        QCOMPARE(m_boxes.size(), 1);
    }

    void fileDialogStartsInTheLastFolder() {
        Visit v;
        QSettings(QStringLiteral("pelmora"), QStringLiteral("pelmora")).remove(Micro::kFolderKey);
        QTemporaryDir other;
        const QString path = other.filePath("fw.hex");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(hexText("\x01\x02", 0x1000));
        f.close();
        m_files = {path, QString()};
        m_answers = {false};
        v.micro->pgmMaster();
        v.micro->pgmSlave();
        QCOMPARE(m_dialogDirs.size(), 2);
        QCOMPARE(m_dialogDirs[0], QDir::homePath());
        QCOMPARE(m_dialogDirs[1], other.path());
    }
};

QTEST_MAIN(TstMicro)
#include "tst_micro.moc"
