// sparlo end to end: the command line against chargersim's boot loader on a pseudo-terminal,
// one exit code per way of ending, and the link on the real serial stack in-process.
#include "e2e.h"

#include "loader/bootlink.h"
#include "loader/bootport.h"
#include "loader/cli.h"
#include "loader/dialogs.h"
#include "loader/mainwindow.h"
#include "loader/settingsfile.h"
#include "loader/upload.h"
#include "sim/ptyserver.h"
#include "sim/virtualcharger.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

using namespace loader;

class TestSparloE2e : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void commandLine_data();
    void commandLine();
    void comMappingOnCommandLine();
    void help();
    void interrupted_data();
    void interrupted();
    void refusedFiles_data();
    void refusedFiles();
    void serialStackInProcess_data();
    void serialStackInProcess();
    void windowThroughChargersim();

  private:
    QTemporaryDir m_dir;
    QString m_hex;
};

void TestSparloE2e::initTestCase() {
    QVERIFY(QFile::exists(builtProgram(QStringLiteral("sim/chargersim"))));
    QVERIFY(QFile::exists(builtProgram(QStringLiteral("loader/sparlo"))));
    m_hex = m_dir.filePath(QStringLiteral("FW.HEX"));
    QFile f(m_hex);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(hexText(pattern(4000)));
}

void TestSparloE2e::commandLine_data() {
    QTest::addColumn<QStringList>("simOptions"); // empty: no chargersim
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");

    const QStringList boot{QStringLiteral("--bootloader"), QStringLiteral("--strict-baud")};
    const QStringList yes{QStringLiteral("--yes")};
    QTest::newRow("success") << boot << yes << QByteArray() << int(ExitOk)
                             << "Upload Successfull: 63 blocks sent";
    QTest::newRow("NACK twice, then written")
        << (boot + QStringList{"--nack-block", "64:2"}) << yes << QByteArray() << int(ExitOk)
        << "2 communication errors";
    QTest::newRow("five ERFLASH abandon")
        << (boot + QStringList{"--erflash-block", "128:5"}) << yes << QByteArray()
        << int(ExitAbandoned) << "Error in Upload at 0x0080";
    QTest::newRow("boot loader falls silent")
        << (boot + QStringList{"--silent-after", "1"}) << yes << QByteArray() << int(ExitTimeout)
        << "Error in Upload at 0x0000";
    QTest::newRow("port vanishes mid-upload")
        << (boot + QStringList{"--vanish-after", "600"}) << yes << QByteArray() << int(ExitPort)
        << "port error";
    QTest::newRow("running firmware: no boot loader")
        << QStringList{} << QStringList{"--yes", "--wait", "1"} << QByteArray()
        << int(ExitNoBootLoader) << "no boot loader answered";
    QTest::newRow("confirmed on the terminal")
        << boot << QStringList{} << QByteArray("y\n") << int(ExitOk) << "Upload Successfull";
    QTest::newRow("refused on the terminal")
        << boot << QStringList{} << QByteArray("n\n") << int(ExitCancelled) << "not confirmed";
    QTest::newRow("no terminal answer")
        << boot << QStringList{} << QByteArray("") << int(ExitCancelled) << "not confirmed";
}

void TestSparloE2e::commandLine() {
    QFETCH(QStringList, simOptions);
    QFETCH(QStringList, extra);
    QFETCH(QByteArray, input);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    // The running firmware row starts chargersim without --bootloader.
    ChargerSim sim(simOptions);
    QVERIFY(!sim.device().isEmpty());
    const Run r = runSparlo(QStringList{"--port", sim.device(), "--file", m_hex} + extra, input);
    QVERIFY(r.finished);
    const QString all = r.out + r.err;
    QVERIFY2(r.exitCode == exitCode, qPrintable(QStringLiteral("exit %1\n").arg(r.exitCode) + all));
    QVERIFY2(all.contains(says), qPrintable(all));
}

void TestSparloE2e::comMappingOnCommandLine() {
    ChargerSim sim({QStringLiteral("--bootloader")});
    Run r = runSparlo({"--com", "3=" + sim.device(), "--com", "3", "--file", m_hex, "--yes"});
    QVERIFY2(r.exitCode == ExitOk, qPrintable(r.out + r.err));
    // Failures that need no charger (the files: refusedFiles).
    r = runSparlo({"--port", "/dev/sparlo-no-such-port", "--file", m_hex, "--yes"});
    QCOMPARE(r.exitCode, int(ExitPort));
    r = runSparlo({"--port", sim.device()});
    QCOMPARE(r.exitCode, int(ExitUsage));
}

void TestSparloE2e::interrupted_data() {
    QTest::addColumn<QStringList>("simOptions");
    QTest::addColumn<bool>("yes"); // false: sparlo asks on the terminal, which stays open
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("says");
    const QStringList silent{"--bootloader", "--silent-after", "1"};
    QTest::newRow("SIGTERM while probing")
        << QStringList{} << true << SIGTERM << "while waiting for the boot loader";
    QTest::newRow("Ctrl-C while probing")
        << QStringList{} << true << SIGINT << "while waiting for the boot loader";
    QTest::newRow("SIGTERM while waiting for an answer")
        << silent << true << SIGTERM << "the end sequence was sent";
    QTest::newRow("Ctrl-C while waiting for an answer")
        << silent << true << SIGINT << "the end sequence was sent";
    QTest::newRow("Ctrl-C at the question") << silent << false << SIGINT << "interrupted";
    QTest::newRow("SIGTERM at the question") << silent << false << SIGTERM << "interrupted";
}

void TestSparloE2e::interrupted() {
    // Ctrl-C and SIGTERM end every wait, each with the exit code of an interruption.
    QFETCH(QStringList, simOptions);
    QFETCH(bool, yes);
    QFETCH(int, signal);
    QFETCH(QString, says);
    ChargerSim sim(simOptions);
    QProcess p;
    QStringList args{"--port", sim.device(), "--file", m_hex, "--wait", "20"};
    if (yes) args << "--yes";
    p.start(builtProgram(QStringLiteral("loader/sparlo")), args);
    QVERIFY(p.waitForStarted(5000));
    if (yes) p.closeWriteChannel();
    QVERIFY(p.waitForReadyRead(5000)); // "Loaded ..."
    QTest::qWait(700);
    QCOMPARE(p.state(), QProcess::Running);
    ::kill(pid_t(p.processId()), signal);
    QVERIFY(p.waitForFinished(3000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), int(ExitInterrupted));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QVERIFY2(err.contains(says), qPrintable(err));
}

void TestSparloE2e::refusedFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("says"); // after "sparlo: FILE: "
    QTest::newRow("missing") << "missing" << QByteArray() << "no such file";
    QTest::newRow("FIFO") << "fifo" << QByteArray() << "not a regular file";
    QTest::newRow("folder") << "folder" << QByteArray() << "not a regular file";
    QTest::newRow("wrong checksum")
        << "file" << QByteArray(":10000000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF01\r\n")
        << "not a valid HEX file: line 1: wrong checksum (read 01, expected 00)";
    QTest::newRow("a line without ':'")
        << "file" << hexText(pattern(32)).replace(":10001000", "10001000")
        << "not a valid HEX file: line 2: not a HEX record (the line does not start with ':')";
    QTest::newRow("data at 0x10000")
        << "file" << hexText(pattern(16), 0x10000)
        << "not a valid HEX file: line 2: data at 0x10000, outside the program memory (0x0000 to "
           "0x7FFF)";
    QTest::newRow("only in the boot loader's area")
        << "file" << hexText(pattern(16), 0x7800)
        << "not a valid HEX file: no data in the range sent to the boot loader (0x0000 to "
           "0x77FF): the file's data lie at 0x7800..0x780F, in the boot loader's own area";
}

void TestSparloE2e::refusedFiles() {
    // Refused before any port is opened, with the reason in English.
    QFETCH(QString, kind);
    QFETCH(QByteArray, text);
    QFETCH(QString, says);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("FW.HEX"));
    if (kind == "fifo") QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    if (kind == "folder") QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("FW.HEX")));
    if (kind == "file") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    const Run r =
        runSparlo({"--port", "/dev/sparlo-no-such-port", "--file", path, "--yes"}, {}, 5000);
    QVERIFY2(r.finished, "sparlo waits on the file");
    QCOMPARE(r.exitCode, int(ExitBadFile));
    QCOMPARE(r.err.trimmed(), QStringLiteral("sparlo: ") + path + QStringLiteral(": ") + says);
}

void TestSparloE2e::help() {
    const Run r = runSparlo({"--help"});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.out.contains(QLatin1String("--port DEVICE|--com N --file FIRMWARE.HEX")));
    QVERIFY(r.out.contains(QLatin1String("Exit status")));
}

void TestSparloE2e::serialStackInProcess_data() {
    QTest::addColumn<int>("size");
    QTest::newRow("100 bytes") << 100;
    QTest::newRow("whole memory") << 0x8000;
}

void TestSparloE2e::serialStackInProcess() {
    // QSerialPort on the pseudo-terminal (RTS/DTR refused there), the virtual charger behind.
    QFETCH(int, size);
    sim::VirtualCharger charger(sim::VirtualCharger::Mode::BootLoader);
    sim::PtyServer server(&charger);
    QVERIFY(server.start());
    const QString dev = server.slavePath();
    BootLink link([](const QString &d) -> BootPort * { return new SerialBootPort(d); },
                  [dev](int) { return dev; });
    link.portSetup();
    QString reason;
    QVERIFY2(link.openPort(&reason), qPrintable(reason));
    QCOMPARE(link.handshake({}, 10), HandshakeResult::Connected);
    struct : UploadObserver {
        void setPanel(int, const QString &) override {}
        void started(int) override {}
        void progress(int) override {}
        void finished() override {}
    } quiet;
    QByteArray image(0x8000, char(0xFF));
    image.replace(0, size, pattern(size));
    const QByteArray bootArea = charger.masterFlash.mid(0x7800);
    const UploadResult r = Upload::run(link, image, size, quiet);
    QCOMPARE(r.outcome, UploadResult::Success);
    link.closePort(); // as the command line does: the end sequence must have gone out
    QTRY_COMPARE(charger.bootUploadsEnded(), 1);
    const int covered = qMin((size + 63) / 64 * 64, 0x7800);
    QCOMPARE(charger.masterFlash.left(covered), image.left(covered));
    QCOMPARE(charger.masterFlash.mid(0x7800), bootArea);
}

void TestSparloE2e::windowThroughChargersim() {
    // The window as the user drives it, on COM 5 mapped to chargersim's pseudo-terminal.
    ChargerSim sim({QStringLiteral("--bootloader"), QStringLiteral("--pace"),
                    QStringLiteral("--strict-baud"), QStringLiteral("--nack-block"),
                    QStringLiteral("0:2")});
    ComMap ports(kComPorts);
    QVERIFY(ports.parseAndSet(QStringLiteral("5=") + sim.device(), false));
    BootLink link([](const QString &d) -> BootPort * { return new SerialBootPort(d); },
                  [&ports](int n) { return ports.device(n); });
    const QString ini = m_dir.filePath(QStringLiteral("window/sparlo.ini"));
    QVERIFY(writeSettingsFile(ini, {QStringLiteral("OLD.HEX"), m_dir.path(), 5}));
    QStringList boxes;
    setBoxHook([&](const BoxRequest &r) { boxes << r.text; });
    QStringList questions;
    setQuestionHook([&](QMessageBox &box) {
        questions << box.text();
        return QMessageBox::Yes;
    });
    setFileHook([this](const QString &, const QString &, const QString &) { return m_hex; });
    {
        Main w(link, ports, ini);
        w.show(); // the first activation runs the handshake
        QTRY_VERIFY_WITH_TIMEOUT(w.bootLoaderAnswered(), 5000);
        QCOMPARE(w.displayText(), QStringLiteral("Connecté"));
        w.findChild<QPushButton *>(QStringLiteral("Cb_Open"))->click();
        QCOMPARE(w.panelText(2), QStringLiteral(" 4000"));
        w.findChild<QPushButton *>(QStringLiteral("Cb_Load"))->click();
        QCOMPARE(w.panelText(1), QStringLiteral("Upload Successfull"));
        QCOMPARE(w.panelText(4), QStringLiteral("ErrCom  2,Flsh 0"));
        QCOMPARE(w.lastUpload().blocksSent, 63 + 2);
        w.findChild<QPushButton *>(QStringLiteral("Cb_quitter"))->click();
        QVERIFY(!link.isOpen());
    }
    setBoxHook({});
    setFileHook({});
    setQuestionHook({});
    QCOMPARE(questions.size(), 1);
    QVERIFY2(questions[0].contains(QStringLiteral("sur COM 5 (") + sim.device() + ')'),
             qPrintable(questions[0]));
    QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(QLatin1Char('|'))));
    const auto saved = readSettingsFile(ini);
    QVERIFY(saved);
    QCOMPARE(saved->file, QStringLiteral("FW.HEX"));
    QCOMPARE(saved->port, 5);
}

QTEST_MAIN(TestSparloE2e)
#include "tst_sparlo_e2e.moc"
