// pelmora's subcommands as a script runs them: the pelmora program started with QProcess
// against the chargersim program on its pseudo-terminal (or the built-in demo charger).
// Each row checks the exit code, what goes to standard output and standard error, and what
// happens to the files: a failure never looks like success, a bad file or a missing
// confirmation sends nothing, a save never replaces a file unasked.
#include "diag/exteeprlogic.h"
#include "modes/runinfo.h"
#include "support/hexwriter.h"
#include "support/process.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

struct Run {
    int code = -1;
    QString out, err;
};

QString binDir() {
    return qEnvironmentVariable("PELMORA_BIN_DIR");
}

Run pelmora(const QStringList &args, int timeoutMs = 120000,
            const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(binDir() + "/ui/main/pelmora", args);
    Run r;
    if (!p.waitForStarted(10000)) return r;
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        r.err = "did not finish";
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// An .ESV text of `count` values.
QByteArray esv(int count) {
    QByteArray t;
    for (int i = 0; i < count; ++i)
        t += ' ' + QByteArray::number((i * 7) % 256) + " \r\n";
    return t;
}

// A slave HEX file: words from `firstWord` on, each word w written as low byte, high byte.
QByteArray slaveHex(int firstWord, int words) {
    QByteArray bytes;
    for (int i = 0; i < words; ++i) {
        const quint16 w = quint16((0x2800 + i * 3) & 0x3FFF);
        bytes += char(w & 0xFF);
        bytes += char(w >> 8);
    }
    return hexText(bytes, 2 * firstWord);
}

} // namespace

class TestCliEndToEnd : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }

  private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(QFile::exists(binDir() + "/ui/main/pelmora"));
        QVERIFY(writeFile(path("good.esv"), esv(256)));
        QVERIFY(writeFile(path("short.esv"), esv(255)));
        QVERIFY(writeFile(path("existing.esv"), "keep me\n"));
        QVERIFY(writeFile(path("texts.txt"),
                          diag::exteepr::textsFile(diag::exteepr::initialTexts()).bytes));
        QVERIFY(writeFile(path("short.txt"), "only one line\r\n"));
        QVERIFY(writeFile(path("master.hex"), hexText(QByteArray(256, '\x5A'), 0x1000)));
        QVERIFY(writeFile(path("low.hex"), hexText(QByteArray(64, '\x5A'), 0x0100)));
        QVERIFY(writeFile(path("broken.hex"), ":10100000FFFF\r\n"));
        QVERIFY(writeFile(path("slave.hex"), slaveHex(100, 8)));
        QVERIFY(writeFile(path("protected.hex"), slaveHex(6200, 4)));
    }

    // Every subcommand's success and each failure kind's exit code. "@DEV" stands for the
    // pseudo-terminal of a chargersim started with `sim` for the row; "@" before a name for
    // that file in the test's folder. `before` runs first (and must succeed).
    void subcommands_data() {
        QTest::addColumn<QStringList>("sim");
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");

        const QStringList none;
        // ---- status and connecting
        QTest::newRow("status") << none << none << QStringList{"status", "--port", "@DEV"} << 0
                                << "I2C err : 0, 0, 6\nSlave controller answers"
                                << "";
        QTest::newRow("status names the parameters")
            << none << none << QStringList{"status", "--port", "@DEV"} << 0
            << "Correction Pot I Decharge"
            << "";
        QTest::newRow("status, no slave")
            << QStringList{"--no-slave"} << none << QStringList{"status", "--port", "@DEV"} << 0
            << "Slave controller does not answer"
            << "";
        QTest::newRow("status, demo charger")
            << none << none << QStringList{"status", "--demo"} << 0 << "Temperature arret"
            << "";
        QTest::newRow("no such device")
            << none << none << QStringList{"status", "--port", "/dev/pelmora-none"} << 3 << ""
            << "/dev/pelmora-none: no such device";
        QTest::newRow("not a serial port")
            << none << none << QStringList{"status", "--port", "@good.esv"} << 3 << ""
            << "not a serial port";
        QTest::newRow("charger silent")
            << QStringList{"--silent-after", "0"} << none
            << QStringList{"status", "--port", "@DEV", "--wait", "1"} << 3 << ""
            << "no charger answers";
        QTest::newRow("charger falls silent")
            << QStringList{"--silent-after", "300"} << none
            << QStringList{"eeprom", "save", "--controller", "master",
                           "--port", "@DEV", "@late.esv"}
            << 4 << ""
            << "did not answer";
        // ---- usage
        QTest::newRow("unknown option")
            << none << none << QStringList{"status", "--bogus", "--port", "@DEV"} << 2 << ""
            << "Unknown option 'bogus'";
        QTest::newRow("help") << none << none << QStringList{"eeprom", "--help"} << 0 << "--force"
                              << "";
        QTest::newRow("no action")
            << none << none << QStringList{"eeprom", "--controller", "master", "--port", "@DEV"}
            << 2 << ""
            << "expects save or load";
        QTest::newRow("no controller")
            << none << none << QStringList{"eeprom", "save", "@x.esv", "--port", "@DEV"} << 2 << ""
            << "--controller master or --controller slave is required";
        QTest::newRow("status takes no operand")
            << none << none << QStringList{"status", "now", "--port", "@DEV"} << 2 << ""
            << "unexpected argument 'now'";
        QTest::newRow("options before the subcommand")
            << none << none << QStringList{"--demo", "status"} << 2 << ""
            << "the subcommand comes first: pelmora status";
        QTest::newRow("demo and port")
            << none << none << QStringList{"status", "--demo", "--port", "@DEV"} << 2 << ""
            << "cannot be used together";
        // ---- internal EEPROM
        QTest::newRow("eeprom save")
            << none << none << QStringList{"eeprom", "save", "--controller", "slave",
                                           "--port", "@DEV", "@slave.esv"}
            << 0 << "Saved the slave EEPROM (256 bytes)"
            << "";
        QTest::newRow("eeprom save keeps a file")
            << none << none << QStringList{"eeprom", "save", "--controller", "master",
                                           "--port", "@DEV", "@existing.esv"}
            << 6 << ""
            << "add --force";
        QTest::newRow("eeprom save --force")
            << none << QStringList{"eeprom", "save", "--controller", "master",
                                   "--port", "@DEV", "@forced.esv"}
            << QStringList{"eeprom", "save", "--controller", "master",
                           "--port", "@DEV", "--force",      "@forced.esv"}
            << 0 << "Saved the master EEPROM"
            << "";
        QTest::newRow("eeprom save, no folder")
            << none << none << QStringList{"eeprom", "save", "--controller",   "master",
                                           "--port", "@DEV", "@nofolder/x.esv"}
            << 5 << ""
            << "does not exist";
        QTest::newRow("eeprom load")
            << none << none
            << QStringList{"eeprom", "load", "--controller", "slave", "--port", "@DEV", "@good.esv"}
            << 0 << "Wrote addresses 0 to 191"
            << "";
        QTest::newRow("eeprom load, worn cell")
            << QStringList{"--fail-eeprom-write", "master:20"} << none
            << QStringList{"eeprom", "load", "--controller", "master",
                           "--port", "@DEV", "@good.esv"}
            << 1 << ""
            << "1 byte(s) differ, the first at address 20";
        // No charger at all: the file is refused before the port is even opened.
        QTest::newRow("eeprom load, short file")
            << none << none << QStringList{"eeprom",    "load",   "--controller",
                                           "master",    "--port", "/dev/pelmora-none",
                                           "@short.esv"}
            << 5 << ""
            << "is not an EEPROM image";
        QTest::newRow("eeprom load, missing file")
            << none << none << QStringList{"eeprom", "load", "--controller", "master",
                                           "--port", "@DEV", "@missing.esv"}
            << 5 << ""
            << "missing.esv";
        // ---- external EEPROMs
        QTest::newRow("ext-eeprom save 2")
            << none << none
            << QStringList{"ext-eeprom", "save", "--memory", "2", "--port", "@DEV", "@lib.txt"} << 0
            << "Saved EEprom2 (4096 bytes)"
            << "";
        QTest::newRow("ext-eeprom save and load 2")
            << none
            << QStringList{"ext-eeprom", "save", "--memory", "2", "--port", "@DEV", "@lib2.txt"}
            << QStringList{"ext-eeprom", "load", "--memory", "2", "--port", "@DEV", "@lib2.txt"}
            << 0 << "Wrote EEprom2"
            << "";
        QTest::newRow("ext-eeprom load 1")
            << none << none
            << QStringList{"ext-eeprom", "load", "--memory", "1", "--port", "@DEV", "@texts.txt"}
            << 0 << "Wrote EEprom1 from"
            << "";
        QTest::newRow("ext-eeprom load, short file")
            << none << none
            << QStringList{"ext-eeprom",        "load",      "--memory", "1", "--port",
                           "/dev/pelmora-none", "@short.txt"}
            << 5 << ""
            << "is not a file of EEprom1";
        QTest::newRow("ext-eeprom memory 3")
            << none << none
            << QStringList{"ext-eeprom", "save", "--memory", "3", "--port", "@DEV", "@m3.txt"} << 6
            << ""
            << "--memory 3 refused";
        // ---- flash
        QTest::newRow("flash master unconfirmed")
            << none << none << QStringList{"flash", "master", "--port", "@DEV", "@master.hex"} << 6
            << ""
            << "add --yes";
        QTest::newRow("flash master")
            << none << none
            << QStringList{"flash", "master", "--yes", "--port", "@DEV", "@master.hex"} << 0
            << "Master flash written from"
            << "";
        QTest::newRow("flash master refused by the charger")
            << QStringList{"--fail-flash-write", "-1:1"} << none
            << QStringList{"flash", "master", "--yes", "--port", "@DEV", "@master.hex"} << 6 << ""
            << "partly written (0 of 448 blocks)";
        QTest::newRow("flash master, data below the written zone")
            << none << none << QStringList{"flash", "master", "--yes", "--port", "@DEV", "@low.hex"}
            << 5 << ""
            << "no data between 0x1000";
        QTest::newRow("flash, broken file")
            << none << none
            << QStringList{"flash", "slave", "--yes", "--port", "@DEV", "@broken.hex"} << 5 << ""
            << "broken.hex: line 1";
        QTest::newRow("flash slave unconfirmed")
            << none << none << QStringList{"flash", "slave", "--port", "@DEV", "@slave.hex"} << 6
            << "8 word(s) differ"
            << "add --yes (nothing was written)";
        QTest::newRow("flash slave")
            << none << none
            << QStringList{"flash", "slave", "--yes", "--port", "@DEV", "@slave.hex"} << 0
            << "Slave flash written from"
            << "";
        QTest::newRow("flash slave again: nothing to do")
            << none << QStringList{"flash", "slave", "--yes", "--port", "@DEV", "@slave.hex"}
            << QStringList{"flash", "slave", "--port", "@DEV", "@slave.hex"} << 0
            << "No change detected"
            << "";
        QTest::newRow("flash slave, protected zone")
            << none << none
            << QStringList{"flash", "slave", "--yes", "--port", "@DEV", "@protected.hex"} << 6
            << "in the protected zone"
            << "add --yes-protected";
        QTest::newRow("flash slave, protected zone confirmed")
            << none << none << QStringList{"flash",  "slave", "--yes",         "--yes-protected",
                                           "--port", "@DEV",  "@protected.hex"}
            << 0 << "Slave flash written"
            << "";
    }

    void subcommands() {
        QFETCH(QStringList, sim);
        QFETCH(QStringList, before);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, out);
        QFETCH(QString, err);

        QProcess charger;
        QString dev;
        if (args.contains("@DEV")) {
            dev = startChargersim(charger, binDir() + "/sim/chargersim", sim);
            if (!dev.startsWith("/dev/")) QSKIP("chargersim did not start on a pseudo-terminal");
        }
        const auto expand = [&](QStringList list) {
            for (QString &a : list) {
                if (a == "@DEV")
                    a = dev;
                else if (a.startsWith('@'))
                    a = path(a.mid(1));
            }
            return list;
        };
        const QByteArray existing = readFile(path("existing.esv"));
        if (!before.isEmpty()) {
            const Run b = pelmora(expand(before));
            QVERIFY2(b.code == 0, qPrintable(b.err));
        }
        const Run r = pelmora(expand(args));
        if (charger.state() != QProcess::NotRunning) {
            charger.terminate();
            charger.waitForFinished(5000);
        }
        QVERIFY2(r.code == code,
                 qPrintable(QString("exit %1\nout: %2\nerr: %3").arg(r.code).arg(r.out, r.err)));
        QVERIFY2(r.out.contains(out), qPrintable(r.out));
        QVERIFY2(r.err.contains(err), qPrintable(r.err));
        // Failures speak on standard error, never only on standard output.
        if (code != 0) QVERIFY(!r.err.isEmpty());
        QCOMPARE(readFile(path("existing.esv")), existing);
    }

    // Files a save writes are those the editors read back.
    void savedFilesHaveTheEditorsFormat() {
        QProcess charger;
        const QString dev = startChargersim(charger, binDir() + "/sim/chargersim", {});
        if (!dev.startsWith("/dev/")) QSKIP("chargersim did not start on a pseudo-terminal");
        const QString esvPath = path("format.esv"), extPath = path("format1.txt");
        QCOMPARE(pelmora({"eeprom", "save", "--controller", "master", "--port", dev, esvPath}).code,
                 0);
        QCOMPARE(pelmora({"ext-eeprom", "save", "--memory", "1", "--port", dev, extPath}).code, 0);
        charger.terminate();
        charger.waitForFinished(5000);
        const QByteArray text = readFile(esvPath);
        QCOMPARE(text.count("\r\n"), 256);
        QVERIFY(text.startsWith(' '));
        const diag::exteepr::FileLoad load = diag::exteepr::parseTextsFile(readFile(extPath));
        QVERIFY2(load.error.isEmpty(), qPrintable(load.error));
        QCOMPARE(load.texts.size(), 256);
    }

    // Ctrl-C while connecting or in the middle of a long read: exit 130, said on standard
    // error, no file left behind.
    // A run from a script on the accelerated charger ends by itself, with the log and the
    // information file the windows write, in the program's own log folder; `ports` shows a
    // mapping given with --com. Settings and logs go to a home of the test's own.
    void runsFromTheCommandLine_data() {
        QTest::addColumn<QStringList>("sim");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("window");
        QTest::newRow("charge") << QStringList{"--speed", "1000"}
                                << QStringList{"charge", "--current", "1.5", "--port", "@DEV"}
                                << "end: charge complete"
                                << "St_CH_"
                                << "pelmora charge";
        QTest::newRow("discharge")
            << QStringList{"--speed", "1000", "--soc", "20"}
            << QStringList{"discharge", "--current", "1", "--cells", "6", "--port", "@DEV"}
            << "end: discharge limit"
            << "S_DCH_"
            << "pelmora discharge";
        QTest::newRow("ports") << QStringList{} << QStringList{"ports", "--com", "3=@DEV"}
                               << "COM 3  @DEV"
                               << ""
                               << "";
    }

    void runsFromTheCommandLine() {
        QFETCH(QStringList, sim);
        QFETCH(QStringList, args);
        QFETCH(QString, out);
        QFETCH(QString, log);
        QFETCH(QString, window);
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        for (const char *v : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME"})
            env.remove(v);
        QProcess charger;
        const QString dev = startChargersim(charger, binDir() + "/sim/chargersim", sim);
        if (!dev.startsWith("/dev/")) QSKIP("chargersim did not start on a pseudo-terminal");
        for (QString &a : args)
            a.replace("@DEV", dev);
        const Run r = pelmora(args, 240000, env);
        charger.terminate();
        charger.waitForFinished(5000);
        QVERIFY2(r.code == 0, qPrintable(QString("exit %1\nerr: %2").arg(r.code).arg(r.err)));
        QVERIFY2(r.out.contains(QString(out).replace("@DEV", dev)), qPrintable(r.out));
        if (log.isEmpty()) return;

        const QDir logs(home.filePath(".local/share/pelmora/logs"));
        const QStringList found = logs.entryList({log + "*.txt"}, QDir::Files);
        QCOMPARE(found.size(), 1);
        const QString logPath = logs.filePath(found.first());
        QVERIFY2(r.err.contains(logPath), qPrintable(r.err));
        const QList<QByteArray> lines = readFile(logPath).split('\n');
        // Header, empty line, then one record per poll: as many as the lines printed.
        const int polls = r.out.count('\n') - 2; // header and end lines
        QVERIFY(polls > 0);
        QVERIFY(lines.size() >= polls + 2);
        const auto info = modes::readRunInfo(logPath);
        QVERIFY(info);
        QCOMPARE(info->window, window);
        QCOMPARE(info->port, dev);
        QVERIFY(!info->endReason.isEmpty());
    }

    void interruptStopsAndSaysSo_data() {
        QTest::addColumn<QStringList>("sim");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("err");
        QTest::newRow("connecting")
            << QStringList{"--silent-after", "0"} << QStringList{"status", "--wait", "60"}
            << "interrupted while connecting";
        // 4096 paced exchanges take about 35 s.
        QTest::newRow("reading EEprom1")
            << QStringList{"--pace"}
            << QStringList{"ext-eeprom", "save", "--memory", "1", "@interrupted.txt"}
            << "interrupted at address";
    }

    void interruptStopsAndSaysSo() {
        QFETCH(QStringList, sim);
        QFETCH(QStringList, args);
        QFETCH(QString, err);
        QProcess charger;
        const QString dev = startChargersim(charger, binDir() + "/sim/chargersim", sim);
        if (!dev.startsWith("/dev/")) QSKIP("chargersim did not start on a pseudo-terminal");
        for (QString &a : args)
            if (a.startsWith('@')) a = path(a.mid(1));
        QProcess p;
        p.start(binDir() + "/ui/main/pelmora", args + QStringList{"--port", dev});
        QVERIFY(p.waitForStarted(10000));
        QTest::qWait(2500);
        QCOMPARE(p.state(), QProcess::Running);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(15000));
        charger.terminate();
        charger.waitForFinished(5000);
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 130);
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains(err));
        QVERIFY(!QFile::exists(path("interrupted.txt")));
    }
};

QTEST_MAIN(TestCliEndToEnd)
#include "tst_cli_e2e.moc"
